#include "HexWriter.h"

#include <algorithm>
#include <vector>

#include "device/ConfigBlock.h"
#include "platform/FileRead.h"

namespace {

constexpr std::size_t kRecordBytes = 32;
constexpr char kEndRecord[] = ":00400401BB\n";
// Far more than any HEX file of a 32 KB program; a larger earlier file is not ours.
constexpr std::size_t kMaxKeptFile = 16 * 1024 * 1024;

void appendHexByte(std::string& out, unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    out += digits[(value >> 4) & 0xF];
    out += digits[value & 0xF];
}

Notice downloadNotice(const std::string& text, NoticeKind kind,
                      NoticeIcon icon = NoticeIcon::None) {
    return {text, kDownloadCaption, icon, NoticeButtons::Ok, kind};
}

}  // namespace

DownloadConversion convertDownload(const std::string& input) {
    DownloadConversion result;
    const std::string text = input.substr(0, kDownloadBufferSize);
    if (text.size() <= 4) {
        result.outcome = DownloadConversion::ReadFailed;
        return result;
    }
    const std::size_t n = text.size() / 2;
    // Five to seven characters leave the header short: its missing bytes count as 0, and
    // the download is then too short for any length.
    std::vector<std::uint8_t> bytes(std::max<std::size_t>(n, 4), 0);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(16 * hexDigitValue(text[2 * i]) +
                                             hexDigitValue(text[2 * i + 1]));
    }
    const unsigned length = bytes[0] * 256u + bytes[1];
    const unsigned stated = bytes[2] * 256u + bytes[3];
    result.programLength = length;
    result.bytesDownloaded = static_cast<unsigned>(n);
    if (n < length + 4u) {
        result.outcome = DownloadConversion::ShortData;
        return result;
    }
    // 16-bit words high byte first; an odd program's last word has a low byte of 0 when the
    // download holds no byte after the program, and that byte otherwise.
    unsigned sum = 0;
    for (unsigned k = 0; k < (length + 1) / 2; ++k) {
        const std::size_t hi = 4 + 2 * k;
        const unsigned low = hi + 1 < n ? bytes[hi + 1] : 0;
        sum = (sum + bytes[hi] * 256u + low) & 0xFFFF;
    }
    result.checksumMatches = stated == ((sum ^ 0xFFFF) & 0xFFFF);

    std::string& hex = result.hex;
    unsigned address = kProgramStart;
    for (std::size_t index = 4; index < length + 4u; index += kRecordBytes) {
        const unsigned count =
            static_cast<unsigned>(std::min<std::size_t>(kRecordBytes, length + 4u - index));
        hex += ':';
        appendHexByte(hex, count);
        appendHexByte(hex, address >> 8);
        appendHexByte(hex, address);
        appendHexByte(hex, 0);
        unsigned check = count + ((address >> 8) & 0xFF) + (address & 0xFF);
        for (unsigned k = 0; k < count; ++k) {
            appendHexByte(hex, bytes[index + k]);
            check += bytes[index + k];
        }
        appendHexByte(hex, (0x100 - (check & 0xFF)) & 0xFF);
        hex += '\n';
        address = (address + count) & 0xFFFF;
    }
    hex += kEndRecord;
    result.outcome = DownloadConversion::Converted;
    return result;
}

void ConvertDownloadToHex(const std::string& sourcePath, const std::string& hexPath,
                          Notifier& notifier, FileSaver& saver) {
    std::string text;
    const FileRead read = readFileStart(sourcePath, {kDownloadBufferSize, false, nullptr}, text);
    if (read == FileRead::Missing || read == FileRead::OpenFailed) {
        notifier.show(downloadNotice("Failed to open file: " + sourcePath, NoticeKind::FileError));
        return;
    }
    const DownloadConversion result =
        read == FileRead::Ok ? convertDownload(text) : DownloadConversion{};
    switch (result.outcome) {
        case DownloadConversion::ReadFailed:
            notifier.show(
                downloadNotice("Failed to read from file: " + sourcePath, NoticeKind::FileError));
            return;
        case DownloadConversion::ShortData:
            notifier.show(downloadNotice(
                "Insufficient data downloaded from VX310-PROG or incorrect length\n(program "
                "length = " +
                    std::to_string(result.programLength) +
                    ", bytes downloaded = " + std::to_string(result.bytesDownloaded) + ")",
                NoticeKind::DeviceError));
            return;
        case DownloadConversion::Converted:
            break;
    }
    std::string keptAs;
    if (!result.checksumMatches) {
        std::string earlier;
        bool tooLong = false;
        const FileRead kept = readFileStart(hexPath, {kMaxKeptFile, true, &tooLong}, earlier);
        if (kept != FileRead::Missing) {
            keptAs = hexPath + kBackupSuffix;
            // The earlier file stays where it is unless its copy is whole.
            if (kept != FileRead::Ok || tooLong || !saver.save(keptAs, earlier)) {
                notifier.show(downloadNotice(
                    "Failed to create file: " + keptAs + reasonSuffix(saver.refusal()),
                    NoticeKind::FileError));
                return;
            }
        }
    }
    if (!saver.save(hexPath, result.hex)) {
        notifier.show(
            downloadNotice("Failed to create file: " + hexPath + reasonSuffix(saver.refusal()),
                           NoticeKind::FileError));
        return;
    }
    const std::string lengthLine = "\nProgram length = " + std::to_string(result.programLength);
    if (result.checksumMatches) {
        notifier.show(downloadNotice(hexPath + " created successfully" + lengthLine,
                                     NoticeKind::Info, NoticeIcon::Information));
    } else {
        notifier.show(downloadNotice(hexPath + " created" + lengthLine +
                                         "\nWarning: Program checksum is incorrect" +
                                         (keptAs.empty() ? std::string() : kKeptText + keptAs),
                                     NoticeKind::DeviceError, NoticeIcon::Exclamation));
    }
}
