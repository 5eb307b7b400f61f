#include <gtest/gtest.h>

#include <deque>

#include "FakeEditorView.h"
#include "TestSupport.h"
#include "editor/Editor.h"

namespace {

struct EditorTest : public ::testing::Test {
    EditorTest() : driver(clock), view(clock), editor(driver, notes, view) {
        view.editor = &editor;
        driver.attach(1, device);
        driver.attach(2, second);
    }

    void start(int rememberedPort, unsigned downloadEnabled = 0) {
        Settings settings;
        settings.pcPort = rememberedPort;
        settings.downloadEnabled = downloadEnabled;
        editor.applySettings(settings);
        editor.initialise();
    }

    std::string written() const {
        std::string all;
        for (const auto& entry : driver.writeLog) {
            all += entry.second;
        }
        return all;
    }

    const MainScreen& screen() const { return editor.screen(); }

    SimClock clock;
    Vx310Sim device;
    Vx310Sim second;
    SimPortDriver driver;
    RecordingNotifier notes;
    FakeView view;
    Editor editor;
};

TEST_F(EditorTest, ReadBlockIsShownWithItsLabels) {
    device.block.setWord(Offset::serialNumber, 65535);
    device.block.setByte(Offset::portInterfaces, 2);
    device.block.setByte(Offset::p1XonXoff, 2);
    device.block.setByte(Offset::checksum, computeChecksum(device.block));
    start(1);
    EXPECT_FALSE(view.closed);
    EXPECT_EQ(editor.pcPort(), 1);
    EXPECT_EQ(screen().portLabel, "PC Port: COM1");
    EXPECT_EQ(screen().serialLabel, "Serial Number: 65535");
    EXPECT_EQ(screen().productLabel, "Product Type: PROG");
    EXPECT_EQ(screen().versionLabel, "Version: v1.04");
    EXPECT_EQ(screen().validProgramLabel, "Valid Program: YES");
    EXPECT_EQ(screen().port1Caption, "Port 1 (RS232)");
    EXPECT_EQ(screen().port2Caption, "Port 2 (RS422/485)");
    EXPECT_EQ(view.controls[P1RxXonXoff], 0);
    EXPECT_EQ(view.controls[P1TxXonXoff], 1);
    EXPECT_EQ(view.controls[P2Baud], 20);
    EXPECT_TRUE(screen().portChecks[1]) << "COM1 checks Select PC COM Port";
}

TEST_F(EditorTest, ButtonsAcrossConnectionReadEditAndDemonstration) {
    // Before the first read the window is inert.
    EXPECT_FALSE(screen().updateEnabled);
    start(1);
    EXPECT_FALSE(screen().updateEnabled) << "a read alone is no edit";
    EXPECT_TRUE(screen().uploadEnabled);
    EXPECT_TRUE(screen().deleteEnabled);
    EXPECT_TRUE(screen().programGroupEnabled);
    EXPECT_FALSE(screen().configureEnabled) << "mode off has nothing to configure";

    view.controls[P2Parity] = 2;
    editor.markEdited();
    EXPECT_TRUE(screen().updateEnabled);
    EXPECT_EQ(editor.block().byte(Offset::p2Parity), device.block.byte(Offset::p2Parity))
        << "lists reach the block only through an update";

    // Demonstration leaves Update as it was and shows the fixed block.
    editor.enterDemo();
    EXPECT_TRUE(screen().updateEnabled);
    EXPECT_FALSE(editor.link().isOpen());
    EXPECT_EQ(editor.pcPort(), 0);
    EXPECT_EQ(screen().portLabel, "PC Port: Demo");
    EXPECT_EQ(screen().serialLabel, "Serial Number: 10910");
    EXPECT_EQ(screen().versionLabel, "Version: v1.03");
    EXPECT_EQ(screen().port1Caption, "Port 1 (RS422/485)");
    EXPECT_EQ(screen().port2Caption, "Port 2 (RS232)");
    EXPECT_EQ(view.controls[AdeModeList], 2);
    EXPECT_EQ(view.controls[P1Baud], 16);
    EXPECT_EQ(view.controls[P1Parity], 1);
    EXPECT_EQ(view.controls[P2Baud], 17);
    EXPECT_TRUE(screen().configureEnabled);
    EXPECT_TRUE(screen().portChecks[0]);
    EXPECT_FALSE(screen().portChecks[1]);

    // Choosing a port runs the connection dialog; while it reads, the three are off.
    view.script = {InDialog::Read};
    editor.chooseOtherPort();
    EXPECT_EQ(editor.pcPort(), 1);
    EXPECT_FALSE(screen().updateEnabled);
    EXPECT_TRUE(screen().uploadEnabled);

    // An ADE device: the program group is off whatever the flag says.
    second.block.setByte(Offset::productType, 0);
    second.block.setByte(Offset::checksum, computeChecksum(second.block));
    editor.selectPort(2, true);
    EXPECT_EQ(screen().productLabel, "Product Type: ADE");
    EXPECT_EQ(screen().validProgramLabel, "Valid Program: N/A");
    EXPECT_FALSE(screen().uploadEnabled);
    EXPECT_FALSE(screen().deleteEnabled);
    EXPECT_FALSE(screen().programGroupEnabled);
    EXPECT_TRUE(screen().runMenuEnabled);
    EXPECT_FALSE(screen().portChecks[0] || screen().portChecks[1]) << "COM2 has no menu item";
}

TEST_F(EditorTest, RunMenuFollowsModeAndProgram) {
    struct Case {
        unsigned mode;
        bool valid;
        bool runEnabled;
    };
    for (const Case c : {Case{3, false, false}, Case{3, true, true}, Case{0, false, true},
                         Case{1, false, true}, Case{2, true, true}, Case{200, false, false}}) {
        editor.block() = demoBlock();
        editor.block().setByte(Offset::adeMode, c.mode);
        editor.validProgram() = c.valid;
        editor.showBlock();
        EXPECT_EQ(screen().runMenuEnabled, c.runEnabled) << c.mode << " " << c.valid;
    }
}

TEST_F(EditorTest, ModeChangedGreysRunUntilTheNextRead) {
    start(1, 1);
    device.block.setByte(Offset::adeMode, 0);
    editor.enterDemo();
    EXPECT_TRUE(screen().runMenuEnabled);
    EXPECT_TRUE(screen().downloadItemEnabled);

    view.controls[AdeModeList] = 1;
    editor.modeChanged();
    EXPECT_FALSE(screen().runMenuEnabled);
    EXPECT_FALSE(screen().downloadItemEnabled);
    EXPECT_TRUE(screen().configureEnabled);
    EXPECT_TRUE(screen().updateEnabled);
    view.controls[AdeModeList] = 2;
    editor.modeChanged();
    EXPECT_FALSE(screen().runMenuEnabled) << "changed and changed back stays greyed";
    view.controls[AdeModeList] = 3;
    editor.modeChanged();
    EXPECT_FALSE(screen().configureEnabled);

    editor.showBlock();
    EXPECT_TRUE(screen().runMenuEnabled);
}

TEST_F(EditorTest, ConfigureOpensTheModeDialogAndAlwaysMarksAnEdit) {
    start(1);
    for (const int mode : {0, 1, 2, 3}) {
        view.controls[AdeModeList] = mode;
        editor.openModeDialog();
    }
    EXPECT_EQ(view.modeDialogs, (std::vector<int>{1, 2}));
    EXPECT_TRUE(screen().updateEnabled);
}

TEST_F(EditorTest, UpdateSendsTheFormAndShowsWhatTheDeviceReadsBack) {
    device.block = demoBlock();
    device.block.setByte(Offset::checksum, computeChecksum(device.block));
    start(1);
    driver.writeLog.clear();

    editor.updateVx310();
    const std::string sent = written();
    const std::string text = encodeBlock(demoBlock());
    ASSERT_GE(sent.size(), 262u);
    EXPECT_EQ(sent.substr(0, 262), "\x05L" + text);
    EXPECT_EQ(sent.substr(2, 12), "v1032a9e0101");
    EXPECT_EQ(device.loadsStored, 1);
    EXPECT_EQ(view.updateDialogs, 1);
    EXPECT_EQ(view.connectionDialogs, 2) << "the block is read back";

    // An edit reaches the device and comes back from it.
    view.controls[P2Parity] = 2;
    view.controls[P1Baud] = 20;
    editor.markEdited();
    editor.updateVx310();
    EXPECT_EQ(device.block.byte(Offset::p2Parity), 3);
    EXPECT_EQ(device.block.byte(Offset::p1Baud), 20);
    EXPECT_EQ(editor.block(), device.block);
    EXPECT_EQ(view.controls[P2Parity], 2);
    EXPECT_FALSE(screen().updateEnabled);
    EXPECT_TRUE(notes.notices.empty());
}

TEST_F(EditorTest, UpdateThatTheDeviceDoesNotStoreIsReportedFieldByField) {
    device.faults.ignoreStores = true;
    start(1);
    view.controls[P2Parity] = 0;
    view.controls[P2Baud] = 16;
    editor.markEdited();
    const ConfigBlock before = device.block;
    editor.updateVx310();
    EXPECT_EQ(device.loadsIgnored, 1);
    EXPECT_EQ(editor.block(), before) << "the window shows what the device holds";
    ASSERT_EQ(notes.notices.size(), 1u);
    EXPECT_EQ(notes.notices[0], exclamation("The VX310 did not store the configuration as sent:\n"
                                            "Port 2 Baud Rate: sent 9600, the VX310 holds 115200\n"
                                            "Port 2 Parity: sent none, the VX310 holds even",
                                            "VX310 Configuration"));
    EXPECT_TRUE(editor.lastWriteChecked());
    EXPECT_EQ(editor.lastWriteDifferences().size(), 2u);

    // Once the device stores again, an update raises nothing.
    device.faults.ignoreStores = false;
    notes.notices.clear();
    view.controls[P2Parity] = 0;
    editor.markEdited();
    editor.updateVx310();
    EXPECT_TRUE(notes.notices.empty());
    EXPECT_TRUE(editor.lastWriteChecked());
    EXPECT_TRUE(editor.lastWriteDifferences().empty());
}

TEST_F(EditorTest, ReadBackThatEndsInDemonstrationChecksNothing) {
    device.faults.ignoreStores = true;
    start(1);
    view.controls[P2Parity] = 0;
    editor.markEdited();
    view.script = {InDialog::Demo};
    editor.updateVx310();
    EXPECT_EQ(device.loadsIgnored, 1);
    EXPECT_FALSE(editor.lastWriteChecked());
    EXPECT_TRUE(notes.notices.empty());
}

TEST_F(EditorTest, UpdateInDemonstrationSendsNothingAndTheReadWaits) {
    start(0);
    view.script = {InDialog::Demo};
    editor.enterDemo();
    driver.writeLog.clear();
    view.script = {InDialog::Exit};
    editor.updateVx310();
    EXPECT_TRUE(driver.writeLog.empty());
    EXPECT_EQ(view.updateDialogs, 1);
    EXPECT_TRUE(view.closed) << "leaving the connection dialog ends the program";
}

TEST_F(EditorTest, FailedStoreCommandIsReportedAndTheBlockReadBack) {
    start(1);
    driver.failWrites = true;
    view.script = {InDialog::Demo};
    editor.updateVx310();
    // Once from the update, once from the read back that still cannot write.
    ASSERT_EQ(notes.notices.size(), 2u);
    EXPECT_EQ(notes.notices[0], exclamation("Failed to write to COM port", "VX310 Config"));
    EXPECT_EQ(notes.notices[1], notes.notices[0]);
    EXPECT_EQ(device.loadsStored, 0);
    EXPECT_EQ(view.connectionDialogs, 2);
}

TEST_F(EditorTest, StartProgram) {
    start(1);
    notes.answers = {NoticeAnswer::No};
    editor.startProgram();
    ASSERT_EQ(notes.notices.size(), 1u);
    EXPECT_EQ(notes.notices[0], (Notice{"Run VX310 - PROG User Program", "Start VX310 Program",
                                        NoticeIcon::None, NoticeButtons::YesNo}));
    EXPECT_FALSE(view.closed);
    EXPECT_TRUE(editor.link().isOpen());
    EXPECT_EQ(written(), std::string("\r\x05"
                                     "D"));

    view.controls[AdeModeList] = 2;
    editor.collectControls();
    notes.answers = {NoticeAnswer::Yes};
    editor.startProgram();
    ASSERT_EQ(notes.notices.size(), 3u);
    EXPECT_EQ(notes.notices[1].text, "Run VX310 - ADE Mode 2 Program");
    EXPECT_EQ(notes.notices[2],
              (Notice{"VXCONF WILL NOW CLOSE DOWN.\n\nRemember to run VX310 EXECUTIVE before "
                      "restarting VXCONF.",
                      "VX310 Restarting", NoticeIcon::None, NoticeButtons::Ok}));
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(driver.writeLog.back().second, "RU\r");
    clock.advanceMs(100);
    device.advanceTo(clock.nowUs);
    EXPECT_FALSE(device.inMonitor());
}

TEST_F(EditorTest, StartProgramInDemonstrationSendsNothing) {
    view.script = {InDialog::Demo};
    start(0);
    notes.answers = {NoticeAnswer::Yes};
    editor.startProgram();
    EXPECT_EQ(notes.notices.size(), 2u);
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(driver.writeLog.empty());
}

TEST_F(EditorTest, SelectPcComPortForgetsThePortFirst) {
    start(1);
    view.script = {InDialog::Exit};
    editor.chooseOtherPort();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(editor.pcPort(), 0) << "the settings then record port 0";
    EXPECT_FALSE(screen().portChecks[0] || screen().portChecks[1]);
}

TEST_F(EditorTest, ExitInTheFirstConnectionEndsTheProgram) {
    view.script = {InDialog::Exit};
    start(1);
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(editor.closed());
}

TEST_F(EditorTest, SelectingTheSamePortDoesNotReconnect) {
    start(1);
    editor.selectPort(1, true);
    EXPECT_EQ(view.connectionDialogs, 1);
    EXPECT_FALSE(screen().uploadEnabled) << "selection disables the buttons all the same";
}

}  // namespace
