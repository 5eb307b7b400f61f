// The settings file: any file reads without failing, and what the program writes at exit
// is what the next start reads, whatever else the file holds. The input is the file's text
// after a few bytes that choose the settings to write.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "FuzzCheck.h"
#include "editor/Settings.h"

namespace {

const std::string& scratchFile() {
    static const std::string path = [] {
        const char* shm = "/dev/shm";
        std::string dir = access(shm, W_OK) == 0 ? shm : "/tmp";
        return dir + "/vxconf-fuzz-settings-" + std::to_string(getpid()) + ".ini";
    }();
    return path;
}

bool storable(const std::string& folder) {
    return folder.size() <= 511 &&
           folder.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    const int left = static_cast<std::int8_t>(data[0]) * 100 + data[1];
    const int top = static_cast<std::int8_t>(data[2]) * 100 + data[3];
    const int port = data[4] % 5;
    const bool hints = data[5] & 1;
    const std::size_t folderLength = data[6] % 64;
    const std::string rest(reinterpret_cast<const char*>(data) + 8, size - 8);
    const std::string folder = rest.substr(0, folderLength);
    const std::string text = rest.substr(std::min(folderLength, rest.size()));

    const std::string& file = scratchFile();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    const Settings first = readSettings(file, {1, 2}, "/start");
    FUZZ_CHECK(first.pcPort >= 0 && first.pcPort <= 4);
    FUZZ_CHECK(first.userProgramDir.size() <= 511 && first.configFileDir.size() <= 511);

    const std::string otherFolder = folder + "/vxc";
    writeSettings(file, WindowPos{left, top}, port, hints, folder, otherFolder);
    const Settings again = readSettings(file, {1, 2}, "/start");
    FUZZ_CHECK(again.position.left == left);
    FUZZ_CHECK(again.position.top == top);
    FUZZ_CHECK(again.pcPort == port);
    FUZZ_CHECK(again.showHints == hints);
    FUZZ_CHECK(again.downloadEnabled == first.downloadEnabled);  // never written
    if (storable(folder)) {
        FUZZ_CHECK(again.userProgramDir == folder);
    }
    if (storable(otherFolder)) {
        FUZZ_CHECK(again.configFileDir == otherFolder);
    }
    return 0;
}
