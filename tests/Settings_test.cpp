#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "editor/Settings.h"

namespace {

struct SettingsTest : public ::testing::Test {
    SettingsTest() {
        char pattern[] = "/tmp/vxsettingsXXXXXX";
        dir = mkdtemp(pattern);
        file = dir + "/vxconf.ini";
    }
    ~SettingsTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    void put(const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
    std::string contents() const {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    Settings read() const { return readSettings(file, {11, 22}, "/work/here"); }

    std::string dir;
    std::string file;
};

TEST_F(SettingsTest, MissingFileGivesTheDefaults) {
    const Settings s = read();
    EXPECT_EQ(s.position.left, 11);
    EXPECT_EQ(s.position.top, 22);
    EXPECT_EQ(s.pcPort, 0);
    EXPECT_TRUE(s.showHints);
    EXPECT_EQ(s.userProgramDir, "/work/here");
    EXPECT_EQ(s.configFileDir, "/work/here");
    EXPECT_EQ(s.downloadEnabled, 0u);
}

TEST_F(SettingsTest, PortValues) {
    EXPECT_EQ(parsePortSetting("comm3"), 3);
    EXPECT_EQ(parsePortSetting("comm4"), 4);
    EXPECT_EQ(parsePortSetting("comm0"), 0);
    EXPECT_EQ(parsePortSetting("comm7"), 0);
    EXPECT_EQ(parsePortSetting("comm-1"), 0);
    EXPECT_EQ(parsePortSetting("comm 2"), 2);
    EXPECT_EQ(parsePortSetting("comm2x"), 2);
    EXPECT_EQ(parsePortSetting("COM2"), 1);
    EXPECT_EQ(parsePortSetting("Comm2"), 1);
    EXPECT_EQ(parsePortSetting("comm"), 1);
    EXPECT_EQ(parsePortSetting(""), 1);
    EXPECT_EQ(parsePortSetting("comm4294967299"), 3) << "wraps like the C library's reading";

    put("[commport]\r\nPORT=comm3\r\n");
    EXPECT_EQ(read().pcPort, 3);
}

TEST_F(SettingsTest, ValuesAreReadAsTheProgramWroteThem) {
    put("[FormPos]\nLeftPos=-40\nTopPos=abc\n[Hints]\nSelected=yes\n[Options]\nDownload=1\n"
        "[UserProg]\nProgpath=/home/u/hex\n[ConfProg]\nConfigpath=\n");
    const Settings s = read();
    EXPECT_EQ(s.position.left, -40);
    EXPECT_EQ(s.position.top, 0);
    EXPECT_FALSE(s.showHints) << "only YES in capitals keeps hints on";
    EXPECT_EQ(s.downloadEnabled, 1u);
    EXPECT_EQ(s.userProgramDir, "/home/u/hex");
    EXPECT_EQ(s.configFileDir, "");
}

TEST_F(SettingsTest, WritingTouchesOnlyItsOwnKeys) {
    put("; my notes\r\n[Options]\r\nDownload=1\r\n[UserProg]\r\nProgpath=/old/hex\r\n"
        "[Other]\r\nx = 1\r\n");
    writeSettings(file, WindowPos{100, 200}, 7, false, std::nullopt, std::string("/new/vxc"));
    const std::string text = contents();
    EXPECT_EQ(text,
              "; my notes\r\n[Options]\r\nDownload=1\r\n[UserProg]\r\nProgpath=/old/hex\r\n"
              "[Other]\r\nx = 1\r\n[FormPos]\r\nLeftPos=100\r\nTopPos=200\r\n[CommPort]\r\n"
              "Port=comm7\r\n[Hints]\r\nSelected=NO\r\n[ConfProg]\r\nConfigpath=/new/vxc\r\n");
    // What a run on COM7 leaves behind reads as no port next time.
    EXPECT_EQ(read().pcPort, 0);
    EXPECT_EQ(read().userProgramDir, "/old/hex");

    // A window system that cannot tell where the window is leaves the position as it was.
    writeSettings(file, std::nullopt, 2, true, std::nullopt, std::nullopt);
    EXPECT_NE(contents().find("[FormPos]\r\nLeftPos=100\r\nTopPos=200\r\n"), std::string::npos);
}

TEST_F(SettingsTest, AnLfFileGetsLfLines) {
    put("[Options]\nDownload=1\n");
    writeSettings(file, WindowPos{5, 6}, 2, true, std::string(" /spaced/ "), std::nullopt);
    EXPECT_EQ(contents(),
              "[Options]\nDownload=1\n[FormPos]\nLeftPos=5\nTopPos=6\n[CommPort]\n"
              "Port=comm2\n[Hints]\nSelected=YES\n[UserProg]\nProgpath=\" /spaced/ \"\n");
    EXPECT_EQ(read().userProgramDir, " /spaced/ ");
}

TEST_F(SettingsTest, SpecialFileAtThePathGivesDefaultsAndIsLeftAlone) {
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    alarm(10);  // a read that blocks ends the test run instead of hanging it
    const Settings s = read();
    writeSettings(file, WindowPos{1, 2}, 3, false, std::string("/x"), std::string("/y"));
    alarm(0);
    EXPECT_EQ(s.position.left, 11);
    EXPECT_EQ(s.pcPort, 0);
    EXPECT_TRUE(s.showHints);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SettingsTest, MissingFolderIsCreated) {
    const std::string nested = dir + "/deeper/vxconf.ini";
    writeSettings(nested, WindowPos{1, 2}, 0, true, std::nullopt, std::nullopt);
    const Settings s = readSettings(nested, {0, 0}, "/");
    EXPECT_EQ(s.position.left, 1);
    EXPECT_TRUE(s.showHints);
}

TEST(SettingsPath, FollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(settingsFilePath(), "/tmp/cfg/vxconf.ini");
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", "/home/tech", 1);
    EXPECT_EQ(settingsFilePath(), "/home/tech/.config/vxconf.ini");
    if (saved) {
        setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
