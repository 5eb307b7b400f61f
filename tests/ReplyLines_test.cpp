#include <gtest/gtest.h>

#include <array>

#include "program/ReplyLines.h"

namespace {

// A receive buffer of the link's size, with its spare byte for the terminator.
struct Buffer {
    std::array<std::uint8_t, 1025> bytes{};
    std::size_t count = 0;
    explicit Buffer(const std::string& text) : count(text.size()) {
        std::copy(text.begin(), text.end(), bytes.begin());
    }
    ResponseLine take() { return ExtractResponseLine(bytes.data(), count); }
    std::string held() const { return std::string(bytes.begin(), bytes.begin() + count); }
};

TEST(ExtractResponseLine, TheDevicesLines) {
    struct Row {
        std::string buffer;
        std::string line;
        bool wait;
        std::string left;
    };
    const Row rows[] = {
        {"Addr 0000\r\n", "Addr 0000", false, "\r\n"},
        {"\r\nWaiting\r\n", "Waiting", false, "\r\n"},
        {"abc", "", false, "abc"},
        {"x\r\nDone\r\nOK\r\n", "Done\nOK", false, "\r\n"},
        {", wait..", "", true, ", wait.."},
        {"Programming, wait..", "Programming", true, "\r wait.."},
        {"Addr 4004\r\nAddr 4104\r\n", "Addr 4104", false, "\r\n"},
        {"bad\x01\x7f\xff"
         "byte\r",
         "badbyte", false, ""},
    };
    for (const Row& row : rows) {
        Buffer b(row.buffer);
        const ResponseLine r = b.take();
        EXPECT_EQ(r.line, row.line) << row.buffer;
        EXPECT_EQ(r.waitSeen, row.wait) << row.buffer;
        EXPECT_EQ(b.held().substr(0, row.left.size()), row.left) << row.buffer;
    }
}

TEST(ExtractResponseLine, LeftoversAreTakenOnLaterCalls) {
    Buffer lone("\r\n");
    EXPECT_EQ(lone.take().line, "");
    EXPECT_EQ(lone.count, 2u);
    EXPECT_EQ(lone.bytes[0], 0) << "the carriage return became a terminator";

    Buffer twice("abc\r\r");
    EXPECT_EQ(twice.take().line, "");
    EXPECT_EQ(twice.count, 5u);
    EXPECT_EQ(twice.take().line, "abc");
    EXPECT_EQ(twice.count, 2u);
    EXPECT_EQ(twice.held(), std::string("\r\0", 2));

    // Done before Addr: the line starts at Done.
    Buffer both("Addr 4004\r\nDone\r\n");
    EXPECT_EQ(both.take().line, "Done");
    // Done first, Addr after: only the last line counts.
    Buffer doneFirst("Done\r\nAddr 4004\r\n");
    EXPECT_EQ(doneFirst.take().line, "Addr 4004");
}

// After a line ending in CR LF, a call with nothing new turns that CR into a terminator at the
// buffer's start. The device's ", wait.." ending must still be seen behind it.
TEST(ExtractResponseLine, WaitIsSeenBehindALeftoverTerminator) {
    for (const std::string ending :
         {"\r\nBurning 743 bytes, wait..\r\n>", "\r\nBurning 743 bytes, wait.."}) {
        SCOPED_TRACE(ending);
        Buffer b("Addr 4000\r\n");
        EXPECT_EQ(b.take().line, "Addr 4000");
        EXPECT_FALSE(b.take().waitSeen);
        ASSERT_EQ(b.count, 2u);
        ASSERT_EQ(b.bytes[0], 0);
        std::copy(ending.begin(), ending.end(), b.bytes.begin() + 2);
        b.count += ending.size();
        EXPECT_TRUE(b.take().waitSeen);
    }
}

TEST(ExtractResponseLine, AFullBufferUsesTheSpareByte) {
    std::string text(1022, 'a');
    text += "\r\n";
    Buffer full(text);
    ASSERT_EQ(full.count, 1024u);
    full.bytes[1024] = 0x55;
    const ResponseLine r = full.take();
    EXPECT_EQ(r.line, std::string(1022, 'a'));
    EXPECT_EQ(full.count, 2u);

    Buffer noLine(std::string(1024, 'b'));
    EXPECT_EQ(noLine.take().line, "");
    EXPECT_EQ(noLine.count, 1024u);
    EXPECT_EQ(noLine.bytes[1024], 0);
}

TEST(FormatDeviceError, TableAndLine) {
    const std::string head = "VX310 reported:\n\n";
    EXPECT_EQ(FormatDeviceError(2, "Error=2"), head + "EEPROM failed");
    EXPECT_EQ(FormatDeviceError(11, "Error=11"), head + "Hex file contains a bad checksum");
    EXPECT_EQ(FormatDeviceError(15, "Error=15"), head + "Up load aborted");
    EXPECT_EQ(FormatDeviceError(16, "Error=16"), head + "Error=16");
    EXPECT_EQ(FormatDeviceError(-1, "Error=-1"), head + "Error=-1");

    int code = 0;
    EXPECT_TRUE(parseDeviceError("Error=42 at line 3", code));
    EXPECT_EQ(code, 42);
    EXPECT_TRUE(parseDeviceError("Error= -1", code));
    EXPECT_EQ(code, -1);
    EXPECT_FALSE(parseDeviceError("Error=x", code));
    EXPECT_FALSE(parseDeviceError(" Error=3", code));
    EXPECT_FALSE(parseDeviceError("Error=", code));
}

}  // namespace
