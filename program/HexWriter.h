#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileSaver.h"
#include "platform/Notice.h"

// The Download Program conversion: the device's answer (hexadecimal text: length, checksum,
// program bytes) into an Intel HEX file of 32-byte records from 0x4004.

inline constexpr std::size_t kDownloadBufferSize = 65536;  // characters read at most
inline constexpr std::uint16_t kProgramStart = 0x4004;
inline constexpr char kDownloadCaption[] = "VX310-PROG Download Program";
// A download whose checksum is wrong may be worse than the file it replaces: that one is
// kept as NAME.hex.bak, and the notice's last line says so.
inline constexpr char kBackupSuffix[] = ".bak";
inline constexpr char kKeptText[] = "\nThe earlier file is kept as ";

struct DownloadConversion {
    enum Outcome { Converted, ReadFailed, ShortData };
    Outcome outcome = ReadFailed;
    unsigned programLength = 0;    // L
    unsigned bytesDownloaded = 0;  // N, header included
    bool checksumMatches = false;
    std::string hex;  // the HEX file's text, when Converted
};

// The conversion itself, over the text the transfer wrote (its first 65536 characters).
DownloadConversion convertDownload(const std::string& text);

// Reads the temporary file, converts it, writes the HEX file through saver and reports the
// outcome in one notice. The HEX file is written only once the conversion can go ahead, and
// whole, so a failed conversion keeps any earlier file.
void ConvertDownloadToHex(const std::string& sourcePath, const std::string& hexPath,
                          Notifier& notifier, FileSaver& saver);
