#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "device/ConfigUpdate.h"

namespace {

void stage(SerialLink& link, const ConfigBlock& block) {
    const std::string text = encodeBlock(block);
    std::memcpy(link.txBuffer.data(), text.data(), text.size());
}

TEST(ConfigUpdate, SendsOnTheFirstTickAndClosesHalfASecondLater) {
    SimBench bench;
    bench.port = 3;
    ASSERT_TRUE(bench.serialLink.open(3));
    ConfigBlock block = bench.device.block;
    block.setByte(Offset::m2Address, 42);
    stage(bench.serialLink, block);

    FakeDialogControl control;
    ConfigUpdate update(bench, control);
    update.start();
    EXPECT_EQ(control.timerMs, 100);
    EXPECT_TRUE(bench.driver.writeLog.empty()) << "nothing goes out before the first tick";

    bench.clock.advanceMs(100);
    update.tick();
    EXPECT_EQ(update.state(), ConfigUpdate::Sent);
    EXPECT_EQ(control.timerMs, 500);
    EXPECT_EQ(control.result, -1);
    EXPECT_EQ(bench.written(), "\x05L" + encodeBlock(block)) << "no carriage return after it";

    bench.clock.advanceMs(500);
    update.tick();
    EXPECT_EQ(control.result, 0);
    EXPECT_EQ(bench.device.lastLoadText, encodeBlock(block));
    EXPECT_EQ(bench.device.block.byte(Offset::m2Address), 42);
    EXPECT_TRUE(bench.notes.notices.empty());
}

TEST(ConfigUpdate, DemonstrationSendsNothingButTakesAsLong) {
    SimBench bench;
    bench.port = 0;
    FakeDialogControl control;
    ConfigUpdate update(bench, control);
    update.start();
    int elapsedMs = 0;
    while (control.timerMs > 0) {
        elapsedMs += control.timerMs;
        update.tick();
    }
    EXPECT_EQ(elapsedMs, 600);
    EXPECT_EQ(control.result, 0);
    EXPECT_TRUE(bench.driver.writeLog.empty());
}

TEST(ConfigUpdate, FailedStoreCommandIsReportedAndEndsTheDialog) {
    SimBench bench;
    bench.port = 3;
    ASSERT_TRUE(bench.serialLink.open(3));
    bench.driver.failWrites = true;
    FakeDialogControl control;
    ConfigUpdate update(bench, control);
    update.start();
    update.tick();
    EXPECT_EQ(control.result, 0);
    EXPECT_EQ(control.timerMs, 0);
    ASSERT_EQ(bench.notes.notices.size(), 1u);
    EXPECT_EQ(bench.notes.notices[0], exclamation("Failed to write to COM port", "VX310 Config"));
}

}  // namespace
