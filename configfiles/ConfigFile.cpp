#include "ConfigFile.h"

#include <algorithm>

#include "platform/FileRead.h"

namespace {

constexpr std::size_t kMaxDescriptionLengthByte = 255;

}  // namespace

std::string configFileBytes(const ConfigBlock& block, const std::string& description) {
    // The device's own fields are not the configuration's: they come from the unit a file
    // is loaded into.
    ConfigBlock copy = block;
    copy.setWord(Offset::serialNumber, 0);
    copy.setByte(Offset::portInterfaces, 0);
    copy.setByte(Offset::productType, 0);
    std::string bytes = encodeBlock(copy);
    bytes += static_cast<char>(std::min(description.size() + 2, kMaxDescriptionLengthByte));
    bytes += description;
    bytes += '\r';
    bytes += '\0';
    return bytes;
}

bool WriteConfigFile(const std::string& path, const ConfigBlock& block,
                     const std::string& description, FileSaver& saver) {
    return saver.save(path, configFileBytes(block, description));
}

ConfigFileContents readConfigBytes(const std::string& bytes) {
    ConfigFileContents contents;
    if (bytes.size() < kConfigFileHeader) {
        contents.status = ConfigFileStatus::TooShort;
        return contents;
    }
    std::string rest = bytes.substr(kConfigFileHeader, kMaxDescriptionRead);
    if (rest.size() >= 2) {
        rest.resize(rest.size() - 2);  // the writer's closing CR and NUL
    }
    contents.description = rest.substr(0, rest.find('\0'));
    if (!ConfigBlock::hasCompatibleTag(bytes.data(), bytes.size())) {
        contents.status = ConfigFileStatus::Incompatible;
        contents.description.clear();
        return contents;
    }
    bool unused = false;
    decodeBlock(std::string_view(bytes).substr(0, kConfigTextLength), false, contents.block,
                unused);
    contents.status = ConfigFileStatus::Loaded;
    return contents;
}

ConfigFileContents ReadConfigFile(const std::string& path, bool waitForData,
                                  std::string* bytesRead) {
    std::string bytes;
    const FileRead read = readFileStart(
        path, {kConfigFileHeader + kMaxDescriptionRead, false, nullptr, waitForData}, bytes);
    if (read == FileRead::Missing || read == FileRead::OpenFailed) {
        return {};  // OpenFailed
    }
    // A read that failed after the header counts as no description; before it, as too short.
    if (read == FileRead::ReadFailed) {
        bytes.resize(bytes.size() >= kConfigFileHeader ? kConfigFileHeader : 0);
    }
    if (bytesRead != nullptr) {
        *bytesRead = bytes;
    }
    return readConfigBytes(bytes);
}
