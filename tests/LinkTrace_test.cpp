#include <gtest/gtest.h>
#include <sstream>

#include "TestSupport.h"
#include "device/LinkTrace.h"
#include "device/SerialLink.h"

namespace {

TEST(LinkTrace, LinesHoldTimeDirectionHexAndText) {
    const std::uint8_t bytes[] = {0x05, 'D'};
    EXPECT_EQ(traceLine(1234, "TX", bytes, 2),
              "    1234 TX 05 44" + std::string(14 * 3, ' ') + "  |.D|");
    std::uint8_t sixteen[16];
    for (std::uint8_t i = 0; i < 16; ++i) {
        sixteen[i] = static_cast<std::uint8_t>(0x7C + i);
    }
    EXPECT_EQ(traceLine(0, "RX", sixteen, 16),
              "       0 RX 7c 7d 7e 7f 80 81 82 83 84 85 86 87 88 89 8a 8b  ||}~.............|");
}

TEST(LinkTrace, EveryByteOfAConnectionReadIsTracedInBothDirections) {
    ScratchFolder folder;
    const std::string path = folder.path + "/trace.txt";
    SimBench bench;
    std::uint64_t ms = 5000;
    {
        TraceFile trace(path, [&] { return ms; });
        ASSERT_TRUE(trace.ok());
        bench.serialLink.setTrace(&trace);
        ASSERT_TRUE(bench.serialLink.open(3));
        ms += 7;
        ASSERT_TRUE(bench.serialLink.writeString("\r"));
        // The device's prompt, then its 261-byte reply to the read command.
        for (int i = 0; i < 5 && !bench.serialLink.promptReceived(); ++i) {
            bench.clock.advanceMs(100);
            bench.serialLink.poll();
        }
        ASSERT_TRUE(bench.serialLink.promptReceived());
        bench.serialLink.rxCount = 0;
        const std::uint8_t read[] = {0x05, 'D'};
        ASSERT_TRUE(bench.serialLink.write(read, 2));
        for (int i = 0; i < 20 && bench.serialLink.rxCount < kReadReplyLength; ++i) {
            bench.clock.advanceMs(100);
            bench.serialLink.poll();
        }
        ASSERT_EQ(bench.serialLink.rxCount, kReadReplyLength);
        bench.driver.failWrites = true;
        EXPECT_FALSE(bench.serialLink.writeString("RU\r"));
        bench.serialLink.close();
        bench.serialLink.setTrace(nullptr);
    }
    const std::string text = readAll(path);
    std::istringstream in(text);
    std::string line;
    std::string received;
    std::vector<std::string> others;
    while (std::getline(in, line)) {
        if (line.compare(9, 2, "RX") == 0) {
            // Take the hex back and compare it with what the link received.
            for (std::size_t at = 12; at + 2 <= line.size() && line[at] != ' '; at += 3) {
                received += static_cast<char>(std::stoi(line.substr(at, 2), nullptr, 16));
            }
        } else {
            others.push_back(line);
        }
    }
    EXPECT_EQ(received, ">" + std::string(bench.serialLink.received()));
    ASSERT_EQ(others.size(), 6u) << text;
    EXPECT_EQ(others[0].rfind("# ", 0), 0u);
    EXPECT_EQ(others[1], "       0 -- open COM3 (simulated VX310)");
    EXPECT_EQ(others[2].substr(0, 16), "       7 TX 0d  ");
    EXPECT_EQ(others[3].substr(0, 19), "       7 TX 05 44  ");
    EXPECT_NE(others[4].find("|RU.| (write failed)"), std::string::npos) << others[4];
    EXPECT_EQ(others[5], "       7 -- close COM3");
}

TEST(LinkTrace, AFileThatCannotBeWrittenSaysWhy) {
    TraceFile trace("/nonexistent-folder/trace.txt");
    EXPECT_FALSE(trace.ok());
    EXPECT_EQ(trace.error(), "No such file or directory");
    const std::uint8_t byte = 1;
    trace.sent(&byte, 1, true);  // nothing to write to, and no harm done
}

}  // namespace
