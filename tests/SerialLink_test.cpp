#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "device/SerialLink.h"

namespace {

// A port that remembers the time-out of each write.
class TimeoutRecorder : public SerialPortDriver {
public:
    struct Channel : SerialChannel {
        explicit Channel(std::vector<int>& t) : timeouts(t) {}
        bool write(const std::uint8_t*, std::size_t, int timeoutMs) override {
            timeouts.push_back(timeoutMs);
            return true;
        }
        long read(std::uint8_t*, std::size_t) override { return -1; }
        void drain() override {}
        std::vector<int>& timeouts;
    };
    bool probe(unsigned) override { return true; }
    std::unique_ptr<SerialChannel> open(unsigned) override {
        return std::make_unique<Channel>(timeouts);
    }
    std::string deviceName(unsigned) const override { return {}; }
    std::vector<int> timeouts;
};

TEST(SerialLink, WritesNeedAnOpenLinkAndGetTimeProportionalToTheirLength) {
    SimBench bench;
    SerialLink& link = bench.serialLink;
    EXPECT_FALSE(link.writeString("\r"));
    EXPECT_FALSE(link.writeTx(260));
    EXPECT_TRUE(bench.driver.writeLog.empty());

    TimeoutRecorder recorder;
    SerialLink timed(recorder, bench.notes);
    ASSERT_TRUE(timed.open(1));
    timed.writeString("\r");
    timed.writeTx(260);
    EXPECT_EQ(recorder.timeouts, (std::vector<int>{110, 26010}));
    // txBuffer is all there is to send from.
    EXPECT_FALSE(timed.writeTx(SerialLink::kBufferSize + 1));
    // A failed read leaves the buffer as it was.
    timed.rxCount = 5;
    timed.poll();
    EXPECT_EQ(timed.rxCount, 5u);
}

TEST(SerialLink, OpenAndCloseKeepTheLinkConsistent) {
    SimBench bench;
    SerialLink& link = bench.serialLink;
    link.close();
    EXPECT_FALSE(link.isOpen());

    ASSERT_TRUE(link.open(3));
    EXPECT_EQ(link.portNumber(), 3u);
    EXPECT_EQ(bench.driver.openChannels, 1);

    // Another open closes the old port first, even when the new one then fails.
    EXPECT_FALSE(link.open(9));
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.portNumber(), 0u);
    EXPECT_EQ(bench.driver.openChannels, 0);

    bench.driver.setBusy(4);
    EXPECT_FALSE(link.probe(4));
    EXPECT_FALSE(link.open(4));
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(link.probe(3));
    EXPECT_FALSE(link.isOpen()) << "probing leaves the link alone";
}

TEST(SerialLink, PollFillsOnlyTheFreePartAndPurgeDiscardsWhatArrivesMeanwhile) {
    SimBench bench;
    bench.device.pacing = false;
    SerialLink& link = bench.serialLink;
    ASSERT_TRUE(link.open(3));

    link.writeString("\r");
    link.poll();
    EXPECT_EQ(link.received(), ">");
    EXPECT_TRUE(link.promptReceived());

    // A full buffer takes nothing more until someone empties it.
    link.rxCount = SerialLink::kBufferSize;
    link.rxBuffer[SerialLink::kBufferSize - 1] = 'x';
    link.writeString("\r");
    link.poll();
    EXPECT_EQ(link.rxCount, SerialLink::kBufferSize);
    EXPECT_EQ(link.rxBuffer[SerialLink::kBufferSize - 1], 'x');
    link.rxCount = 0;
    link.poll();
    EXPECT_EQ(link.received(), ">");

    // With wire timing, the prompt to a CR arrives while the rest of a long write drains.
    bench.device.pacing = true;
    link.rxCount = 0;
    std::string burst = "\r" + std::string(50, 'x');
    link.write(burst.data(), burst.size());
    link.purge();
    EXPECT_EQ(link.rxCount, 0u);
    EXPECT_GE(bench.clock.nowUs, 51 * Vx310Sim::kByteTimeUs);
    link.poll();
    EXPECT_EQ(link.rxCount, 0u) << "the prompt was discarded, not left for later";
}

TEST(SerialLink, WriteFailureNotice) {
    SimBench bench;
    bench.serialLink.reportWriteFailure();
    ASSERT_EQ(bench.notes.notices.size(), 1u);
    EXPECT_EQ(bench.notes.notices[0], exclamation("Failed to write to COM port", "VX310 Config"));
}

}  // namespace
