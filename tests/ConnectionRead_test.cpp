#include <gtest/gtest.h>

#include "TestSupport.h"
#include "device/ConnectionRead.h"
#include "device/Format.h"

namespace {

using namespace ConnectText;

// A connection read against the simulated device, behind a dialog that only keeps count.
struct ReadRig {
    // The read takes the remembered port when it is made.
    explicit ReadRig(bool withDevice = true, int remembered = 0)
        : bench(withDevice, remembered), read(bench, control) {}

    // One timer period of simulated time, then the tick.
    void tick() {
        bench.clock.advanceMs(static_cast<std::uint64_t>(ConnectionRead::kTickMs));
        read.tick();
    }
    // Lets the timer run until the read stops it; returns the number of ticks run.
    int runTicks(int limit = 1000) {
        int ticks = 0;
        while (control.timerMs > 0 && ticks < limit) {
            tick();
            ++ticks;
        }
        return ticks;
    }

    SimBench bench;
    FakeDialogControl control;
    ConnectionRead read;
};

struct ReadTest : public ::testing::Test, public ReadRig {
    void expectViewReset() const {
        const ConnectScreen& s = read.screen();
        EXPECT_TRUE(s.instructionVisible);
        EXPECT_FALSE(s.messageVisible);
        EXPECT_FALSE(s.statusVisible);
        EXPECT_FALSE(s.timeoutVisible);
        EXPECT_FALSE(s.progressVisible);
        EXPECT_TRUE(s.okEnabled);
    }

    void expectNotResponding(unsigned port) const {
        const ConnectScreen& s = read.screen();
        EXPECT_EQ(read.state(), ConnectState::Idle);
        EXPECT_EQ(read.tickCount(), ConnectionRead::kTickLimit);
        EXPECT_EQ(control.timerMs, 0);
        EXPECT_EQ(control.result, -1);
        EXPECT_TRUE(s.messageVisible);
        EXPECT_EQ(s.messageText, "VX310 is not responding on COM" + std::to_string(port) +
                                     "\n\nPlease check:\n    1. The correct PC port is "
                                     "selected;\n    2. The VX310 is running its\n        "
                                     "EXECUTIVE mode.\n");
        EXPECT_FALSE(s.instructionVisible);
        EXPECT_FALSE(s.progressVisible);
        EXPECT_FALSE(s.timeoutVisible);
        EXPECT_FALSE(s.statusVisible);
        EXPECT_TRUE(s.okEnabled);
        EXPECT_EQ(s.okCaption, kRetry);
        EXPECT_TRUE(bench.notes.notices.empty());
    }
};

TEST_F(ReadTest, RememberedPortIsReadAtOnceAndTheBlockDecoded) {
    bench.port = 3;
    bench.device.block.setByte(Offset::p2Parity, 3);
    bench.device.block.setByte(Offset::checksum, computeChecksum(bench.device.block));
    read.initialise();

    // Started without waiting for the user.
    EXPECT_EQ(read.state(), ConnectState::AwaitPrompt);
    EXPECT_EQ(read.screen().selectedPort, 3u);
    EXPECT_EQ(read.screen().statusText, "Reading configuration from VX310 on COM3");
    EXPECT_TRUE(read.screen().statusVisible);
    EXPECT_TRUE(read.screen().progressVisible);
    EXPECT_TRUE(read.screen().timeoutVisible);
    EXPECT_FALSE(read.screen().instructionVisible);
    EXPECT_FALSE(read.screen().okEnabled);
    EXPECT_EQ(read.screen().okCaption, kRetry);
    ASSERT_EQ(bench.selections.size(), 1u);
    EXPECT_EQ(bench.selections[0], std::make_pair(3, false));

    const int ticks = runTicks();
    EXPECT_EQ(control.result, 0);
    EXPECT_EQ(read.state(), ConnectState::Connected);
    EXPECT_EQ(bench.configBlock, bench.device.block);
    EXPECT_EQ(bench.configBlock.byte(Offset::p2Parity), 3);
    EXPECT_TRUE(bench.programValid);
    EXPECT_EQ(bench.written(), std::string("\r\x05"
                                           "D"));
    // 261 bytes at 9600 baud take about 272 ms: the reply is complete by the fourth tick.
    EXPECT_EQ(ticks, 4);
    EXPECT_TRUE(bench.notes.notices.empty());
    EXPECT_TRUE(bench.serialLink.isOpen());
}

TEST_F(ReadTest, SilentDeviceIsAskedEveryTenthTickUntilTheLimit) {
    bench.device.faults.silent = true;
    bench.port = 3;
    read.initialise();
    runTicks();

    std::vector<std::uint64_t> crTimes;
    for (const auto& [atUs, bytes] : bench.driver.writeLog) {
        EXPECT_EQ(bytes, "\r");
        crTimes.push_back(atUs / 1000);
    }
    std::vector<std::uint64_t> expected;
    for (std::uint64_t tick = 0; tick < 200; tick += 10) {
        expected.push_back(tick * 100);
    }
    EXPECT_EQ(crTimes, expected);
    expectNotResponding(3);
    EXPECT_EQ(read.screen().progress, 199);
}

TEST_F(ReadTest, PromptCountsOnlyAsTheLastByte) {
    bench.port = 3;
    bench.device.faults.prompt = ">\r\n";
    read.initialise();
    runTicks();
    expectNotResponding(3);
    EXPECT_EQ(bench.device.readCommands, 0);

    // Anything before the prompt does not matter.
    bench.device.faults.prompt = "\r\nEXECUTIVE>";
    read.ok();
    runTicks();
    EXPECT_EQ(control.result, 0);
}

TEST_F(ReadTest, PromptAtTick150LeavesFiftyTicksForTheReply) {
    for (const std::uint32_t replyDelayMs : {4500u, 5200u}) {
        ReadRig rig;
        auto& [b, c, r] = rig;
        b.port = 3;
        b.device.faults.silent = true;
        r.initialise();
        while (r.tickCount() < 140) {
            rig.tick();
        }
        // The wake-up sent at tick 140 is the first one answered, just before tick 150.
        b.device.faults.silent = false;
        b.device.faults.answerDelayMs = 950;
        while (r.state() == ConnectState::AwaitPrompt) {
            rig.tick();
        }
        EXPECT_EQ(r.tickCount(), 150u);
        EXPECT_EQ(b.written().back(), 'D');
        b.device.faults.answerDelayMs = replyDelayMs;
        rig.runTicks();
        if (replyDelayMs == 4500) {
            EXPECT_EQ(c.result, 0);
            EXPECT_EQ(r.state(), ConnectState::Connected);
            EXPECT_EQ(r.tickCount(), 198u);
        } else {
            EXPECT_EQ(c.result, -1);
            EXPECT_EQ(r.tickCount(), 200u);
            EXPECT_TRUE(r.screen().messageVisible);
        }
    }
}

TEST_F(ReadTest, ReplyOfWrongLengthRunsIntoTheLimit) {
    for (const int delta : {-1, +1}) {
        ReadRig rig;
        auto& [b, c, r] = rig;
        b.device.pacing = false;
        b.device.faults.replyLengthDelta = delta;
        b.port = 3;
        r.initialise();
        rig.runTicks();
        EXPECT_EQ(b.device.readCommands, 1) << delta;
        EXPECT_EQ(r.tickCount(), 200u) << delta;
        EXPECT_TRUE(r.screen().messageVisible) << delta;
        EXPECT_EQ(c.result, -1) << delta;
        EXPECT_NE(b.configBlock, b.device.block) << delta;
    }
}

TEST_F(ReadTest, WrongTagAndCorruptDataAreReportedAndLeaveTheBlockAlone) {
    bench.port = 3;
    bench.configBlock = demoBlock();
    bench.programValid = true;

    bench.device.faults.wrongTag = true;
    read.initialise();
    runTicks();
    ASSERT_EQ(bench.notes.notices.size(), 1u);
    EXPECT_EQ(bench.notes.notices[0],
              exclamation("This version of VXCONF is not compatible with your VX310\n\nPlease "
                          "contact Tessaly Ltd. for an upgrade.",
                          "VX310 Configuration"));
    EXPECT_EQ(read.state(), ConnectState::Idle);
    EXPECT_EQ(control.result, -1);
    expectViewReset();

    bench.device.faults.wrongTag = false;
    bench.device.faults.corruptChecksum = true;
    read.ok();
    runTicks();
    ASSERT_EQ(bench.notes.notices.size(), 2u);
    EXPECT_EQ(bench.notes.notices[1],
              exclamation("Data from read from VX310 is corrupt, please check PC port "
                          "configuration and retry",
                          "VX310 Configuration"));
    EXPECT_EQ(read.state(), ConnectState::Idle);
    expectViewReset();
    EXPECT_EQ(bench.configBlock, demoBlock());
    EXPECT_TRUE(bench.programValid);

    // Retry once the device behaves.
    bench.device.faults.corruptChecksum = false;
    read.ok();
    runTicks();
    EXPECT_EQ(control.result, 0);
    EXPECT_EQ(bench.configBlock, bench.device.block);
}

TEST_F(ReadTest, PortThatCannotBeOpened) {
    // Nothing listed: OK tries the remembered port, here COM5, which does not exist.
    ReadRig rig(false, 5);
    auto& [b, c, r] = rig;
    r.initialise();
    EXPECT_TRUE(r.screen().ports.empty());
    EXPECT_EQ(r.state(), ConnectState::Idle);
    EXPECT_TRUE(b.notes.notices.empty());
    r.ok();
    ASSERT_EQ(b.notes.notices.size(), 1u);
    EXPECT_EQ(b.notes.notices[0],
              exclamation("The selected COM port does not exist or may be already in use by "
                          "another program",
                          "vxconf"));
    EXPECT_EQ(r.portIndex(), 4);
    EXPECT_EQ(r.state(), ConnectState::Idle);
    EXPECT_EQ(r.screen().okCaption, kOk);
    EXPECT_FALSE(b.serialLink.isOpen());
    EXPECT_TRUE(b.selections.empty());
}

TEST_F(ReadTest, ADeviceThatGoesAwayMidReadEndsItAtOnceAndOneThatIsBackIsReadAfresh) {
    bench.device.faults.silent = true;
    bench.port = 3;
    read.initialise();
    runTicks(15);
    bench.driver.unplug(3);
    tick();
    // Not the limit's "not responding", which blames the port choice: the port is gone.
    EXPECT_EQ(read.tickCount(), 16u);
    EXPECT_EQ(control.timerMs, 0);
    EXPECT_EQ(read.state(), ConnectState::Idle);
    ASSERT_EQ(bench.notes.notices.size(), 1u);
    EXPECT_EQ(bench.notes.notices[0], exclamation(kOpenFailed, "vxconf"));
    EXPECT_EQ(bench.driver.status(3).fault, PortFault::Missing);
    EXPECT_FALSE(bench.serialLink.isOpen());
    expectViewReset();

    // Unplugged and plugged in again between two ticks: the read goes on, on a fresh port.
    bench.notes.notices.clear();
    bench.driver.attach(3, bench.device);
    read.ok();
    runTicks(15);
    bench.device.faults.silent = false;
    bench.driver.unplug(3);
    bench.driver.attach(3, bench.device);
    runTicks();
    EXPECT_EQ(read.state(), ConnectState::Connected);
    EXPECT_EQ(control.result, 0);
    EXPECT_TRUE(bench.notes.notices.empty());
}

TEST_F(ReadTest, WriteFailuresStopTheRead) {
    bench.port = 3;
    bench.driver.failWrites = true;
    read.initialise();
    ASSERT_EQ(bench.notes.notices.size(), 1u);
    EXPECT_EQ(bench.notes.notices[0], exclamation("Failed to write to COM port", "VX310 Config"));
    EXPECT_EQ(read.state(), ConnectState::Idle);
    EXPECT_EQ(control.timerMs, 0);
    expectViewReset();

    // The wake-up goes out, the read command does not.
    bench.driver.failWrites = false;
    read.ok();
    bench.driver.failWrites = true;
    runTicks();
    ASSERT_EQ(bench.notes.notices.size(), 2u);
    EXPECT_EQ(bench.notes.notices[1], exclamation("Failed to write to COM port", "VX310 Config"));
    EXPECT_EQ(read.state(), ConnectState::Idle);
    EXPECT_EQ(control.timerMs, 0);
    EXPECT_EQ(control.result, -1);
    expectViewReset();
}

TEST_F(ReadTest, DemoAndExitEndAReadInProgress) {
    bench.port = 3;
    read.initialise();
    tick();
    read.demo();
    EXPECT_EQ(control.result, 0);
    EXPECT_EQ(control.timerMs, 0);
    EXPECT_EQ(bench.selections.back(), std::make_pair(0, false));

    ReadRig rig;
    auto& [b, c, r] = rig;
    b.port = 3;
    r.initialise();
    r.exit();
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.timerMs, 0);
}

TEST_F(ReadTest, PortsSortAsTextAndTheRememberedOneIsSelected) {
    Vx310Sim com1, com2, com10;
    bench.driver.attach(1, com1);
    bench.driver.attach(2, com2);
    bench.driver.attach(10, com10);
    bench.driver.setBusy(7);
    bench.port = 2;
    read.initialise();
    std::vector<std::string> texts;
    for (const PortEntry& e : read.screen().ports) {
        texts.push_back(e.text);
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{"COM1 (simulated VX310)", "COM10 (simulated VX310)",
                                        "COM2 (simulated VX310)", "COM3 (simulated VX310)"}));
    EXPECT_EQ(read.screen().selectedPort, 2u);
    EXPECT_EQ(bench.serialLink.portNumber(), 2u);
    runTicks();
    EXPECT_EQ(control.result, 0);
    EXPECT_EQ(com2.readCommands, 1);
    EXPECT_EQ(com1.readCommands + com10.readCommands + bench.device.readCommands, 0);
}

TEST_F(ReadTest, WithoutAUsableRememberedPortTheDialogWaits) {
    for (const int remembered : {0, 4}) {
        ReadRig rig;
        auto& [b, c, r] = rig;
        b.port = remembered;
        b.serialLink.open(3);
        r.initialise();
        EXPECT_FALSE(b.serialLink.isOpen()) << "the dialog starts from a closed link";
        EXPECT_EQ(r.state(), ConnectState::Idle);
        EXPECT_EQ(r.screen().selectedPort, 3u);
        EXPECT_EQ(c.timerMs, 0);
        EXPECT_TRUE(r.screen().instructionVisible);
        EXPECT_EQ(r.screen().okCaption, kOk);
        EXPECT_TRUE(b.driver.writeLog.empty());
        // The user's OK reads the selected port.
        r.ok();
        EXPECT_EQ(b.serialLink.portNumber(), 3u);
        EXPECT_EQ(b.port, 3);
    }
}

}  // namespace
