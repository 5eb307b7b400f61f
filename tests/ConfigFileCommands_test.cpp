#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FakeEditorView.h"
#include "configfiles/ConfigFileCommands.h"
#include "platform/QtFileSaver.h"

namespace {

// The description dialog, answered from a script of (result, text typed).
class ScriptedDescriptions : public ConfigFileView {
public:
    int runDescriptionDialog(DescriptionDialog& dialog) override {
        shown.push_back(
            {dialog.caption(), dialog.question(), dialog.description(), dialog.readOnly()});
        const auto [result, text] =
            script.empty() ? std::make_pair(0, std::string()) : script.front();
        if (!script.empty()) {
            script.pop_front();
        }
        return result == DescriptionDialog::kYes ? dialog.yes(text) : result;
    }

    struct Shown {
        std::string caption, question, description;
        bool readOnly;
    };
    std::vector<Shown> shown;
    std::deque<std::pair<int, std::string>> script;
};

struct ConfigFilesTest : public EditorBench {
    ConfigFilesTest() : commands(editor, files, saver, descriptions) {}

    QtFileSaver saver;
    ScriptedDescriptions descriptions;
    ConfigFileCommands commands;
};

TEST_F(ConfigFilesTest, FileDialogsAreAskedForExactly) {
    commands.saveConfigFile();
    commands.loadConfigFile();
    ASSERT_EQ(files.requests.size(), 2u);
    FileDialogRequest save;
    save.kind = FileDialogKind::Save;
    save.title = "Save VX310 Configuration";
    save.filter = "VXC files (*.vxc)|*.vxc|All files (*.*)|*.*||";
    save.defaultExtension = "vxc";
    save.initialFolder = "/start";
    save.overwritePrompt = true;
    save.pathMustExist = true;
    save.hideReadOnly = true;
    save.helpButton = true;
    save.helpContext = 0x20072;
    save.pathCapacity = 512;
    EXPECT_EQ(files.requests[0], save);
    FileDialogRequest load = save;
    load.kind = FileDialogKind::Open;
    load.title = "Load VX310 Configuration";
    load.overwritePrompt = false;
    load.pathMustExist = false;
    load.fileMustExist = true;
    EXPECT_EQ(files.requests[1], load);
    EXPECT_TRUE(descriptions.shown.empty());
    EXPECT_FALSE(editor.configFileDirChanged());
}

TEST_F(ConfigFilesTest, SaveWritesTheWindowsBlockAfterYesAndReselectDropsTheText) {
    const std::string first = dir + "/first.vxc";
    const std::string second = dir + "/second.vxc";
    files.answers = {first, second};
    descriptions.script = {{DescriptionDialog::kReselect, "typed"},
                           {DescriptionDialog::kYes, "kept\r\nlines"}};
    commands.saveConfigFile();
    ASSERT_EQ(descriptions.shown.size(), 2u);
    EXPECT_EQ(descriptions.shown[0].caption, "Saving VX310 configuration");
    EXPECT_EQ(descriptions.shown[0].question, "Save the current configuration to \"first.vxc\"?");
    EXPECT_FALSE(descriptions.shown[0].readOnly);
    EXPECT_EQ(descriptions.shown[1].description, "") << "the next pass starts empty";
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_EQ(readAll(second), configFileBytes(editor.block(), "kept\r\nlines"));
    EXPECT_EQ(editor.configFileDir(), dir);
    EXPECT_TRUE(editor.configFileDirChanged());
    EXPECT_TRUE(notes.notices.empty());
}

TEST_F(ConfigFilesTest, NoAndCancelEndTheCommands) {
    files.answers = {dir + "/no.vxc"};
    descriptions.script = {{DescriptionDialog::kNo, "x"}};
    commands.saveConfigFile();
    EXPECT_FALSE(std::filesystem::exists(dir + "/no.vxc"));
    EXPECT_FALSE(editor.configFileDirChanged()) << "Save remembers the folder only after Yes";

    // Cancel after a Reselect ends the command, for both commands.
    files.answers = {dir + "/a.vxc", std::nullopt};
    descriptions.script = {{DescriptionDialog::kReselect, ""}};
    commands.saveConfigFile();
    EXPECT_EQ(files.requests.size(), 3u);

    const std::string file = put("one.vxc", configFileBytes(demoBlock(), "desc"));
    files.answers = {file, std::nullopt};
    descriptions.script = {{DescriptionDialog::kReselect, ""}};
    commands.loadConfigFile();
    EXPECT_EQ(files.requests.size(), 5u);
    EXPECT_EQ(view.updateDialogs, 0);

    // Load remembers the folder before reading, even when the answer is No.
    files.answers = {file};
    descriptions.script = {{DescriptionDialog::kNo, ""}};
    commands.loadConfigFile();
    EXPECT_EQ(descriptions.shown.back().caption, "Loading VX310 configuration");
    EXPECT_EQ(descriptions.shown.back().question, "Update the VX310 with this configuration?");
    EXPECT_EQ(descriptions.shown.back().description, "desc");
    EXPECT_TRUE(descriptions.shown.back().readOnly);
    EXPECT_EQ(view.updateDialogs, 0);
    EXPECT_TRUE(editor.configFileDirChanged());
    EXPECT_EQ(editor.configFileDir(), dir);
    EXPECT_TRUE(notes.notices.empty());
}

TEST_F(ConfigFilesTest, LoadReportsFilesItCannotUse) {
    const std::string shortFile = put("short.vxc", std::string(260, '0'));
    files.answers = {shortFile};
    commands.loadConfigFile();
    EXPECT_TRUE(notes.notices.empty()) << "a file too short ends the command silently";
    EXPECT_TRUE(descriptions.shown.empty());

    const std::string bad = put("old.vxc", "v11" + configFileBytes(demoBlock(), "").substr(3));
    files.answers = {bad};
    commands.loadConfigFile();
    ASSERT_EQ(notes.notices.size(), 1u);
    EXPECT_EQ(notes.notices[0], exclamation("\"old.vxc\" is not compatible with this version of "
                                            "VX310",
                                            "Error loading configuration"));

    files.answers = {dir + "/gone.vxc"};
    commands.loadConfigFile();
    EXPECT_EQ(notes.notices.back(),
              exclamation("Unable to open file: \"" + dir + "/gone.vxc\"?", "File error"));

    // After a Reselect, a file that cannot be used leads back to the file dialog.
    const std::string good = put("good.vxc", configFileBytes(demoBlock(), ""));
    files.answers = {good, shortFile, std::nullopt};
    descriptions.script = {{DescriptionDialog::kReselect, ""}};
    const std::size_t before = files.requests.size();
    commands.loadConfigFile();
    EXPECT_EQ(files.requests.size(), before + 3);
}

TEST_F(ConfigFilesTest, LoadSendsTheFileWithTheConnectedDevicesOwnFields) {
    const ConfigBlock connected = editor.block();
    ConfigBlock saved = demoBlock();
    saved.setByte(Offset::p2Parity, 3);
    saved.setByte(Offset::m2Address, 77);
    std::string bytes = configFileBytes(saved, "from another unit");
    bytes[258] = bytes[258] == 'f' ? '0' : 'f';  // a wrong checksum in the file
    files.answers = {put("other.vxc", bytes)};
    descriptions.script = {{DescriptionDialog::kYes, ""}};
    commands.loadConfigFile();

    ASSERT_EQ(device.loadsStored, 1) << "the device accepted the block: its checksum holds";
    EXPECT_EQ(device.lastLoadText.substr(0, 4), std::string(connected.versionTag.data(), 4));
    const ConfigBlock stored = device.block;
    EXPECT_EQ(stored.serialNumber(), connected.serialNumber());
    EXPECT_EQ(stored.byte(Offset::portInterfaces), connected.byte(Offset::portInterfaces));
    EXPECT_EQ(stored.byte(Offset::productType), connected.byte(Offset::productType));
    EXPECT_EQ(stored.byte(Offset::p2Parity), 3);
    EXPECT_EQ(stored.byte(Offset::m2Address), 77);
    // What the window shows is what the device read back.
    EXPECT_EQ(view.connectionDialogs, 2);
    EXPECT_EQ(editor.block(), device.block);
    EXPECT_EQ(editor.screen().form[P2Parity], 2);
}

// Runs f with dir made unwritable, as a read-only mount where a plain chmod does not stop
// us (root). False when neither can be had here.
bool withUnwritableFolder(const std::string& dir, const std::function<void()>& f) {
    chmod(dir.c_str(), 0555);
    if (access(dir.c_str(), W_OK) != 0) {
        f();
        chmod(dir.c_str(), 0755);
        return true;
    }
    chmod(dir.c_str(), 0755);
    if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        return false;
    }
    const bool readOnly =
        mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    if (readOnly) {
        f();
    }
    umount(dir.c_str());
    return readOnly;
}

TEST_F(ConfigFilesTest, AFailedSaveReportsAndKeepsTheEarlierFile) {
    const std::string earlier = configFileBytes(demoBlock(), "earlier");
    const std::string path = put("keep.vxc", earlier);
    auto saveOver = [&](const std::string& target) {
        files.answers = {target};
        descriptions.script = {{DescriptionDialog::kYes, std::string(900, 'n')}};
        commands.saveConfigFile();
    };
    const bool ran = withUnwritableFolder(dir, [&] { saveOver(path); });
    if (!ran) {
        GTEST_SKIP() << "no way to make a folder unwritable here";
    }
    ASSERT_EQ(notes.notices.size(), 1u);
    EXPECT_EQ(notes.notices[0],
              exclamation("Unable to write file: \"" + path + "\"?", "File error"));
    EXPECT_EQ(readAll(path), earlier);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(ConfigFilesTest, ASaveOntoAFullDiskKeepsTheEarlierFile) {
    const std::string disk = dir + "/disk";
    std::filesystem::create_directory(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=16k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount(path.c_str()); }
    } unmount{disk};
    const std::string path = disk + "/keep.vxc";
    const std::string earlier = configFileBytes(demoBlock(), "earlier");
    std::ofstream(path, std::ios::binary) << earlier;
    {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        const std::string chunk(512, 'f');
        while (filler.write(chunk.data(), chunk.size())) {
        }
    }
    files.answers = {path};
    descriptions.script = {{DescriptionDialog::kYes, std::string(1000, 'n')}};
    commands.saveConfigFile();
    ASSERT_EQ(notes.notices.size(), 1u);
    EXPECT_EQ(notes.notices[0],
              exclamation("Unable to write file: \"" + path + "\"?", "File error"));
    EXPECT_EQ(readAll(path), earlier);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk), {}), 2)
        << "no partial file beside it";
}

// As root QSaveFile would replace any of these with a regular file, /dev/null included.
TEST_F(ConfigFilesTest, SaveNeverReplacesAFifoOrADeviceNodeNorWhatALinkPointsTo) {
    const std::string fifo = dir + "/pipe.vxc";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir + "/link.vxc";
    std::filesystem::create_symlink(fifo, link);
    std::vector<std::string> targets{fifo, link};
    const std::string node = dir + "/null.vxc";
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        targets.push_back(node);
    }
    for (const std::string& target : targets) {
        files.answers = {target};
        descriptions.script = {{DescriptionDialog::kYes, "x"}};
        commands.saveConfigFile();
        ASSERT_FALSE(notes.notices.empty()) << target;
        EXPECT_EQ(notes.notices.back(),
                  exclamation("Unable to write file: \"" + target + "\"? (not a regular file)",
                              "File error"));
    }
    EXPECT_EQ(notes.notices.size(), targets.size());
    struct stat info {};
    EXPECT_TRUE(lstat(fifo.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
    EXPECT_TRUE(lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode));
    EXPECT_EQ(std::filesystem::read_symlink(link), fifo);
    if (targets.size() == 3) {
        EXPECT_TRUE(lstat(node.c_str(), &info) == 0 && S_ISCHR(info.st_mode));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), int(targets.size()))
        << "nothing created beside them";
}

TEST(DescriptionText, LineBreaksAndBytesAtTheWidget) {
    EXPECT_EQ(descriptionForWidget("a\r\nb\xE9"), "a\nb\xC3\xA9");
    EXPECT_EQ(descriptionFromWidget("a\nb\xC3\xA9"), "a\r\nb\xE9");
    const std::string bytes = "one\r\ntwo\r\n\x80\xFF";
    EXPECT_EQ(descriptionFromWidget(descriptionForWidget(bytes)), bytes);
}

}  // namespace
