#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FakeEditorView.h"
#include "program/ProgramCommands.h"

namespace {

// The transfer dialog without widgets: its machine runs against the simulated device.
class FakeTransferView : public ProgramView {
public:
    FakeTransferView(Editor& editor, SimClock& clock) : m_editor(editor), m_clock(clock) {}
    int runTransferDialog(const std::function<void(Transfer&)>& prepare) override {
        ++runs;
        FakeDialogControl control;
        Transfer transfer(m_editor, control);
        prepare(transfer);
        modes.push_back(transfer.mode());
        uploadButtonDuring = m_editor.screen().uploadEnabled;
        transfer.start();
        for (int i = 0; i < 5000 && control.result < 0; ++i) {
            m_clock.advanceMs(100);
            transfer.tick();
        }
        return control.result;
    }
    int runs = 0;
    std::vector<TransferMode> modes;
    bool uploadButtonDuring = true;

private:
    Editor& m_editor;
    SimClock& m_clock;
};

struct ProgramTest : public EditorBench {
    ProgramTest() : transfers(editor, clock), commands(editor, files, saver, transfers) {}

    PlainSaver saver;
    FakeTransferView transfers;
    ProgramCommands commands;
};

TEST_F(ProgramTest, OnlyAFileThatStartsWithAColonIsSent) {
    const Notice invalid = exclamation("Invalid file format", "Upload User HEX Program File");
    for (const std::string& contents :
         {std::string(), std::string("\xEF\xBB\xBF:00000001FF\r\n"), std::string(" :00000001FF")}) {
        files.answers = {put("bad.hex", contents)};
        commands.uploadProgram();
        EXPECT_EQ(notes.notices.back(), invalid) << contents;
    }
    EXPECT_EQ(transfers.runs, 0);
    EXPECT_EQ(notes.notices.front(),
              (Notice{"Are you sure that you want to upload user program \"bad.hex\"?",
                      "Upload User HEX Program", NoticeIcon::Question, NoticeButtons::YesNo}));
    EXPECT_EQ(editor.userProgramDir(), dir) << "remembered before the file was looked at";
    EXPECT_TRUE(editor.userProgramDirChanged());

    files.answers = {dir + "/missing.hex"};
    commands.uploadProgram();
    EXPECT_EQ(notes.notices.back(),
              exclamation("Unable to open file: \"" + dir + "/missing.hex\"?", "File error"));

    // ':' and anything after it: the device judges the rest.
    notes.notices.clear();
    files.answers = {put("garbage.hex", ":this is not hex\r\n")};
    commands.uploadProgram();
    EXPECT_EQ(transfers.runs, 1);
    EXPECT_FALSE(transfers.uploadButtonDuring);
    ASSERT_GE(notes.notices.size(), 2u);
    EXPECT_EQ(notes.notices[1].caption, "VX310 error");
    EXPECT_EQ(view.connectionDialogs, 2) << "the configuration is read again";
}

TEST_F(ProgramTest, UploadRequestAndNoEndTheCommand) {
    notes.answers = {NoticeAnswer::No};
    files.answers = {put("p.hex", ":00000001FF\r\n")};
    commands.uploadProgram();
    ASSERT_EQ(files.requests.size(), 1u);
    FileDialogRequest expected;
    expected.kind = FileDialogKind::Open;
    expected.title = "Upload User HEX Program File";
    expected.filter = "Hex files (*.hex)|*.hex|All files (*.*)|*.*||";
    expected.defaultExtension = "hex";
    expected.initialFolder = "/start";
    expected.fileMustExist = true;
    expected.hideReadOnly = true;
    expected.helpButton = true;
    expected.helpContext = 0x2006E;
    expected.pathCapacity = 260;
    EXPECT_EQ(files.requests[0], expected);
    EXPECT_EQ(transfers.runs, 0);
    EXPECT_FALSE(editor.userProgramDirChanged());
}

TEST_F(ProgramTest, UploadThenDeleteThroughTheDevice) {
    files.answers = {put("p.hex", ":02400400123474\r\n:00000001FF\r\n")};
    commands.uploadProgram();
    EXPECT_EQ(device.program, (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_EQ(editor.screen().validProgramLabel, "Valid Program: YES");

    notes.answers = {NoticeAnswer::Yes};
    commands.deleteProgram();
    EXPECT_EQ(transfers.modes.back(), TransferMode::Delete);
    EXPECT_TRUE(device.program.empty());
    EXPECT_EQ(editor.screen().validProgramLabel, "Valid Program: NO");
    EXPECT_FALSE(editor.screen().deleteEnabled);
}

TEST_F(ProgramTest, DownloadLeavesTheTemporaryFileAndWritesTheHexFile) {
    const std::string hex = dir + "/back.hex";
    files.answers = {hex};
    commands.downloadProgram();
    EXPECT_EQ(files.requests[0].title, "Download User Program From VX310");
    EXPECT_TRUE(files.requests[0].overwritePrompt);
    EXPECT_EQ(files.requests[0].pathCapacity, 1024u);
    EXPECT_EQ(readAll(hex + ".tmp"), Vx310Sim::downloadText(device.program));
    EXPECT_EQ(readAll(hex).substr(0, 9), ":20400400");
    EXPECT_EQ(notes.notices.back().text, hex + " created successfully\nProgram length = " +
                                             std::to_string(device.program.size()));
    EXPECT_TRUE(editor.screen().uploadEnabled);
    EXPECT_TRUE(editor.screen().deleteEnabled);
    EXPECT_EQ(view.connectionDialogs, 1) << "no read after a download";

    files.answers = {dir + "/no/such/folder/x.hex"};
    commands.downloadProgram();
    EXPECT_EQ(
        notes.notices.back(),
        exclamation("Unable to write file: \"" + dir + "/no/such/folder/x.hex\"?", "File error"));
}

// An 8000-byte program is 16008 characters of text: more than 8 KB of disk holds.
TEST_F(ProgramTest, ADiskThatFillsDuringADownloadIsAFileErrorBeforeTheConversions) {
    const SmallDisk disk(dir, "size=8k");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    device.storeProgram(std::vector<std::uint8_t>(8000, 0x5A));
    const std::string hex = disk.path + "/p.hex";
    files.answers = {hex};
    commands.downloadProgram();
    ASSERT_EQ(notes.notices.size(), 2u);
    EXPECT_EQ(notes.notices[0],
              exclamation("Unable to write file: \"" + hex + ".tmp\"?", "File error"));
    EXPECT_EQ(notes.notices[1].caption, "VX310-PROG Download Program");
    EXPECT_EQ(notes.notices[1].text.rfind("Insufficient data downloaded", 0), 0u);
}

// Neither the HEX file nor its temporary file may be a FIFO or a device: the one would be
// replaced by the conversion, the other would hang the download in its open.
TEST_F(ProgramTest, DownloadRefusesAFifoForEitherFileAndCreatesNothing) {
    const std::string fifo = dir + "/pipe.hex";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    files.answers = {fifo};
    commands.downloadProgram();
    EXPECT_EQ(
        notes.notices.back(),
        exclamation("Unable to write file: \"" + fifo + "\"? (not a regular file)", "File error"));
    EXPECT_FALSE(std::filesystem::exists(fifo + ".tmp"));

    const std::string hex = dir + "/x.hex";
    ASSERT_EQ(mkfifo((hex + ".tmp").c_str(), 0600), 0);
    files.answers = {hex};
    commands.downloadProgram();
    EXPECT_EQ(notes.notices.back(),
              exclamation("Unable to write file: \"" + hex + ".tmp\"? (not a regular file)",
                          "File error"));
    EXPECT_FALSE(std::filesystem::exists(hex));
    EXPECT_EQ(transfers.runs, 0);
    EXPECT_EQ(notes.notices.size(), 2u);
}

}  // namespace
