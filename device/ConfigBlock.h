#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The VX310's 128-byte configuration block and its 260-character text form.

constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kConfigTextLength = 260;
// The read command's reply: the text plus one status character.
constexpr std::size_t kReadReplyLength = 261;

// Byte offsets of the block's fields. The 16-bit fields are big-endian.
namespace Offset {
constexpr std::size_t serialNumber = 0;    // 16 bits, device only
constexpr std::size_t portInterfaces = 2;  // bit 0: Port 1 RS422/485, bit 1: Port 2
constexpr std::size_t m2Address = 3;
constexpr std::size_t m2Timeout = 4;  // 16 bits, milliseconds
constexpr std::size_t m2LeadIn = 6;
constexpr std::size_t adeMode = 7;      // 0, 1, 2, or 3 = off
constexpr std::size_t productType = 8;  // 0 = ADE, otherwise PROG
constexpr std::size_t p1Baud = 9;
constexpr std::size_t p1WordLength = 10;
constexpr std::size_t p1Parity = 11;
constexpr std::size_t p1StopBits = 12;
constexpr std::size_t p1XonXoff = 13;  // bit 0: RX, bit 1: TX
constexpr std::size_t p2Baud = 14;
constexpr std::size_t p2WordLength = 15;
constexpr std::size_t p2Parity = 16;
constexpr std::size_t p2StopBits = 17;
constexpr std::size_t p2XonXoff = 18;
constexpr std::size_t m1TurnOffDelay = 19;  // five bytes: 9600 .. 115200 baud
constexpr std::size_t m1DriverAlwaysOn = 24;
constexpr std::size_t checksum = 127;
}  // namespace Offset

constexpr std::size_t kTurnOffDelayCount = 5;
constexpr std::array<std::uint8_t, kTurnOffDelayCount> kDefaultTurnOffDelays{116, 176, 206, 221,
                                                                             236};

struct ConfigBlock {
    std::array<char, 4> versionTag{};
    std::array<std::uint8_t, kBlockSize> data{};

    std::uint8_t byte(std::size_t offset) const { return data[offset]; }
    void setByte(std::size_t offset, unsigned value) {
        data[offset] = static_cast<std::uint8_t>(value);
    }
    std::uint16_t word(std::size_t offset) const {
        return static_cast<std::uint16_t>(data[offset] << 8 | data[offset + 1]);
    }
    void setWord(std::size_t offset, unsigned value) {
        data[offset] = static_cast<std::uint8_t>(value >> 8);
        data[offset + 1] = static_cast<std::uint8_t>(value);
    }

    std::uint16_t serialNumber() const { return word(Offset::serialNumber); }
    std::uint16_t m2Timeout() const { return word(Offset::m2Timeout); }
    bool isProg() const { return data[Offset::productType] != 0; }
    // Firmware that this program understands reports a tag beginning "v10".
    bool hasCompatibleTag() const { return hasCompatibleTag(versionTag.data(), 4); }
    static bool hasCompatibleTag(const char* text, std::size_t length);

    bool operator==(const ConfigBlock& other) const {
        return versionTag == other.versionTag && data == other.data;
    }
    bool operator!=(const ConfigBlock& other) const { return !(*this == other); }
};

// 0..15 for a hex digit of either case, 0 for anything else.
int hexDigitValue(char ch);

// Ones' complement of the 8-bit sum of bytes 0..126.
std::uint8_t computeChecksum(const ConfigBlock& block);

// Decodes the 260-character text (and, with checkSum, the status character after it) into
// block. Without checkSum the result is false and validProgram is not touched. With it,
// validProgram becomes true only for an intact block whose status character is 'p'.
// Text shorter than the form needs leaves block unchanged and gives false.
bool decodeBlock(std::string_view text, bool checkSum, ConfigBlock& block, bool& validProgram);

// The 260-character text form, lower-case hex, with the checksum computed afresh.
std::string encodeBlock(const ConfigBlock& block);

// What demonstration mode shows; its program counts as valid.
const ConfigBlock& demoBlock();
