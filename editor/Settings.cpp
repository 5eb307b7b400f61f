#include "Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/Format.h"
#include "platform/Profile.h"

namespace {
constexpr std::size_t kShortValueBuffer = 20;  // "comm%u" and "YES"/"NO"
constexpr std::size_t kFolderBuffer = 512;
}  // namespace

std::string settingsFilePath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/vxconf.ini";
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] != '\0') {
        home = env;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
    }
    return home + "/.config/vxconf.ini";
}

int parsePortSetting(const std::string& value) {
    static const char prefix[] = "comm";
    const std::size_t prefixLength = sizeof prefix - 1;
    if (value.compare(0, prefixLength, prefix) != 0) {
        return 1;
    }
    const std::optional<std::uint32_t> number =
        scanNumber(std::string_view(value).substr(prefixLength));
    if (!number) {
        return 1;
    }
    const auto port = static_cast<std::int32_t>(*number);
    return port < 0 || port > 4 ? 0 : port;
}

Settings readSettings(const std::string& file, WindowPos current, const std::string& workingDir) {
    const ProfileFile profile = ProfileFile::load(file);
    Settings settings;
    settings.position.left = static_cast<int>(profile.getInt("FormPos", "LeftPos", current.left));
    settings.position.top = static_cast<int>(profile.getInt("FormPos", "TopPos", current.top));
    settings.pcPort =
        parsePortSetting(profile.getString("CommPort", "Port", "comm0", kShortValueBuffer));
    settings.userProgramDir = profile.getString("UserProg", "Progpath", workingDir, kFolderBuffer);
    settings.configFileDir = profile.getString("ConfProg", "Configpath", workingDir, kFolderBuffer);
    settings.showHints = profile.getString("Hints", "Selected", "YES", kShortValueBuffer) == "YES";
    settings.downloadEnabled = profile.getInt("Options", "Download", 0);
    return settings;
}

void writeSettings(const std::string& file, std::optional<WindowPos> position, int pcPort,
                   bool showHints, const std::optional<std::string>& userProgramDir,
                   const std::optional<std::string>& configFileDir) {
    // A window system that cannot tell where the window is (Wayland) leaves the remembered
    // position as it was.
    if (position) {
        writePrivateProfileString("FormPos", "LeftPos", std::to_string(position->left), file);
        writePrivateProfileString("FormPos", "TopPos", std::to_string(position->top), file);
    }
    writePrivateProfileString("CommPort", "Port",
                              formatNumber("comm%u", static_cast<unsigned>(pcPort)), file);
    writePrivateProfileString("Hints", "Selected", showHints ? "YES" : "NO", file);
    if (userProgramDir) {
        writePrivateProfileString("UserProg", "Progpath", *userProgramDir, file);
    }
    if (configFileDir) {
        writePrivateProfileString("ConfProg", "Configpath", *configFileDir, file);
    }
}

std::string folderOfChosenFile(const std::string& path, const std::string& fileName) {
    std::string folder = path;
    if (folder.size() >= fileName.size() &&
        folder.compare(folder.size() - fileName.size(), fileName.size(), fileName) == 0) {
        folder.resize(folder.size() - fileName.size());
    }
    if (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

std::string currentFolder() {
    char buffer[kFolderBuffer];
    if (getcwd(buffer, sizeof buffer) == nullptr) {
        return {};
    }
    return buffer;
}
