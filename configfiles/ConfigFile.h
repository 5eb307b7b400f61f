#pragma once

#include <cstddef>
#include <string>

#include "device/ConfigBlock.h"
#include "platform/FileSaver.h"

// Configuration files (.vxc): the block's text form without the device's identity, then a
// free-text description. The description is bytes (Windows-1252 text), never converted.

enum class ConfigFileStatus { Loaded, OpenFailed, TooShort, Incompatible };

inline constexpr std::size_t kConfigFileHeader = kConfigTextLength + 1;  // text + length byte
inline constexpr std::size_t kMaxDescriptionRead = 1023;  // bytes read after the header

// The file's bytes: 263 + n for a description of n bytes.
std::string configFileBytes(const ConfigBlock& block, const std::string& description);

// Writes the file through saver; false when it could not be written whole.
bool WriteConfigFile(const std::string& path, const ConfigBlock& block,
                     const std::string& description, FileSaver& saver);

struct ConfigFileContents {
    ConfigFileStatus status = ConfigFileStatus::OpenFailed;
    ConfigBlock block;        // Loaded only: the tag and the 128 bytes, checksum not checked
    std::string description;  // Loaded only
};

// waitForData: a pipe's writer is waited for (the file is read once, before the unit is
// contacted); otherwise only what is there already counts.
// bytesRead: when given, the bytes the contents came from, to hand on unchanged.
ConfigFileContents ReadConfigFile(const std::string& path, bool waitForData = false,
                                  std::string* bytesRead = nullptr);
// The same, over bytes already read (the first 261 + 1023 of the file count).
ConfigFileContents readConfigBytes(const std::string& bytes);
