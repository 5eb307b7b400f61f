#include "ConfigFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::size_t kMaxDescriptionLengthByte = 255;

// Reads up to count bytes; fewer at the end of the file. A failed read gives what came.
std::string readUpTo(int fd, std::size_t count, bool& failed) {
    std::string out(count, '\0');
    std::size_t done = 0;
    failed = false;
    while (done < count) {
        const ssize_t n = ::read(fd, &out[done], count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return out;
}

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

ConfigFileContents ReadConfigFile(const std::string& path) {
    // Without O_NONBLOCK a FIFO at the path would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return {};  // OpenFailed
    }
    bool failed = false;
    std::string bytes = readUpTo(fd, kConfigFileHeader, failed);
    if (!failed && bytes.size() == kConfigFileHeader) {
        bool restFailed = false;
        const std::string rest = readUpTo(fd, kMaxDescriptionRead, restFailed);
        if (!restFailed) {
            bytes += rest;  // a failed read counts as none
        }
    } else {
        bytes.clear();
    }
    ::close(fd);
    return readConfigBytes(bytes);
}
