#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

// A FIFO (with or without a reader) or a device would hold up the wire, or swallow the
// trace: each is refused at once, as the record file is.
TEST(LinkTrace, OnlyARegularFileTakesATrace) {
    ScratchFolder folder;
    const std::string fifo = folder.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> refused{fifo};
    const std::string node = folder.path + "/full";
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) {
        refused.push_back(node);  // a /dev/full of our own
    }
    for (const std::string& path : refused) {
        TraceFile trace(path);
        EXPECT_FALSE(trace.ok()) << path;
        EXPECT_EQ(trace.error(), "not a regular file") << path;
    }
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(TraceFile(fifo).ok()) << "also while something reads it";
    close(reader);
}

// A disk that fills up loses trace lines, never a part of one, and says how many.
TEST(LinkTrace, LinesThatDoNotFitAreDroppedWholeAndCounted) {
    ScratchFolder folder;
    const SmallDisk disk(folder.path, "size=64k");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    const std::string path = disk.path + "/trace.txt";
    const std::uint8_t bytes[16] = {};
    {
        TraceFile trace(path, [] { return std::uint64_t(0); });
        ASSERT_TRUE(trace.ok());
        for (int i = 0; i < 1000; ++i) {
            trace.sent(bytes, sizeof bytes, true);
        }
        EXPECT_GT(trace.dropped(), 0u);
        EXPECT_EQ(trace.dropReason(), "No space left on device");
    }
    const std::string text = readAll(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);  // the heading
    std::size_t kept = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(line, traceLine(0, "TX", bytes, sizeof bytes)) << "whole lines only";
        ++kept;
    }
    EXPECT_LT(kept, 1000u);
    EXPECT_EQ(droppedText(3, "No space left on device"),
              "trace: 3 lines dropped (No space left on device)");
}

}  // namespace
