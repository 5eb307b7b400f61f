#pragma once

#include <optional>
#include <string>

// The settings file vxconf.ini: window position, PC port, hints, the two remembered folders
// and the option that adds the Download Program menu item.

struct WindowPos {
    int left = 0;
    int top = 0;
};

struct Settings {
    WindowPos position;
    int pcPort = 0;
    std::string userProgramDir;
    std::string configFileDir;
    bool showHints = true;
    unsigned downloadEnabled = 0;
};

// $XDG_CONFIG_HOME/vxconf.ini, or ~/.config/vxconf.ini.
std::string settingsFilePath();

// The remembered port from a "comm%u" value: the letters must match in lower case, no
// number reads as 1, and anything outside 0..4 as 0.
int parsePortSetting(const std::string& value);

// Reads every setting; current is the window's position and workingDir the folder the
// program started in, the defaults for a missing file, section or key.
Settings readSettings(const std::string& file, WindowPos current, const std::string& workingDir);

// Writes position, port and hints always; each folder only when given (it was changed in
// this run). The Options section is never written.
void writeSettings(const std::string& file, std::optional<WindowPos> position, int pcPort,
                   bool showHints, const std::optional<std::string>& userProgramDir,
                   const std::optional<std::string>& configFileDir);

// The folder of a chosen file: its path less its file name and one trailing separator.
std::string folderOfChosenFile(const std::string& path, const std::string& fileName);

// The current working folder, as the folders' default.
std::string currentFolder();
