#include <gtest/gtest.h>

#include "device/ConfigBlock.h"

namespace {

std::string withStatus(const std::string& text, char status) {
    return text + status;
}

TEST(ConfigBlock, DemoBlockEncodesToTheKnownText) {
    const std::string text = encodeBlock(demoBlock());
    ASSERT_EQ(text.size(), kConfigTextLength);
    EXPECT_EQ(text.substr(0, 12), "v1032a9e0101");
    // Sum of bytes 0..126 is 100, so the checksum is 255 - 100.
    EXPECT_EQ(text.substr(258), "9b");
    // Serial 10910, interfaces 1, address 1, timeout 1000, lead-in 100, mode 2, PROG, ports.
    EXPECT_EQ(text.substr(4, 50), "2a9e010103e864020110030200001103010000b5f413224000");
}

TEST(ConfigBlock, RoundTripAndChecksumCatchesOneFlippedDigit) {
    ConfigBlock block = demoBlock();
    for (std::size_t i = 25; i < Offset::checksum; ++i) {
        block.setByte(i, static_cast<unsigned>(i * 37));  // bytes nobody interprets survive too
    }
    const std::string text = encodeBlock(block);

    ConfigBlock decoded;
    bool valid = false;
    ASSERT_TRUE(decodeBlock(withStatus(text, 'p'), true, decoded, valid));
    EXPECT_TRUE(valid);
    EXPECT_EQ(decoded.versionTag, block.versionTag);
    for (std::size_t i = 0; i < Offset::checksum; ++i) {
        EXPECT_EQ(decoded.data[i], block.data[i]) << "byte " << i;
    }
    EXPECT_EQ(decoded.data[Offset::checksum], computeChecksum(block));

    for (std::size_t at : {4u, 20u, 100u, 258u, 259u}) {
        std::string bad = text;
        bad[at] = bad[at] == '0' ? '1' : '0';
        bool flag = true;
        EXPECT_FALSE(decodeBlock(withStatus(bad, 'p'), true, decoded, flag)) << "digit " << at;
        EXPECT_FALSE(flag);
    }
}

TEST(ConfigBlock, EncodingIgnoresTheStoredChecksumByte) {
    ConfigBlock block = demoBlock();
    block.setByte(Offset::checksum, 0x12);
    EXPECT_EQ(encodeBlock(block).substr(258), "9b");
}

TEST(ConfigBlock, StatusCharacterDecidesTheProgramFlag) {
    const std::string text = encodeBlock(demoBlock());
    ConfigBlock decoded;
    bool valid = true;
    EXPECT_TRUE(decodeBlock(withStatus(text, 'P'), true, decoded, valid));
    EXPECT_FALSE(valid);
    EXPECT_TRUE(decodeBlock(withStatus(text, 'n'), true, decoded, valid));
    EXPECT_FALSE(valid);
    // Without the status character at all there is no program either.
    valid = true;
    EXPECT_TRUE(decodeBlock(text, true, decoded, valid));
    EXPECT_FALSE(valid);
}

TEST(ConfigBlock, DecodingWithoutCheckLeavesTheFlagAndReturnsFalse) {
    std::string text = encodeBlock(demoBlock());
    text[9] = 'x';  // corrupt, but not checked
    ConfigBlock decoded;
    bool valid = true;
    EXPECT_FALSE(decodeBlock(text, false, decoded, valid));
    EXPECT_TRUE(valid);
    EXPECT_EQ(decoded.byte(Offset::portInterfaces), 0x00);  // 'x' counts as 0
    EXPECT_EQ(decoded.serialNumber(), 10910);
}

TEST(ConfigBlock, UpperCaseDigitsDecodeAndShortTextIsRefused) {
    std::string text = encodeBlock(demoBlock());
    std::string upper = text;
    for (std::size_t i = 4; i < upper.size(); ++i) {
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
    }
    ConfigBlock a, b;
    bool valid = false;
    ASSERT_TRUE(decodeBlock(withStatus(upper, 'p'), true, a, valid));
    ASSERT_TRUE(decodeBlock(withStatus(text, 'p'), true, b, valid));
    EXPECT_EQ(a, b);

    ConfigBlock untouched = demoBlock();
    valid = true;
    EXPECT_FALSE(decodeBlock(text.substr(0, 259), true, untouched, valid));
    EXPECT_EQ(untouched, demoBlock());
    EXPECT_FALSE(valid);
}

TEST(ConfigBlock, HexDigitValue) {
    EXPECT_EQ(hexDigitValue('0'), 0);
    EXPECT_EQ(hexDigitValue('9'), 9);
    EXPECT_EQ(hexDigitValue('a'), 10);
    EXPECT_EQ(hexDigitValue('F'), 15);
    EXPECT_EQ(hexDigitValue('g'), 0);
    EXPECT_EQ(hexDigitValue('\0'), 0);
    EXPECT_EQ(hexDigitValue(static_cast<char>(0xC1)), 0);
}

TEST(ConfigBlock, CompatibleTag) {
    EXPECT_TRUE(ConfigBlock::hasCompatibleTag("v10x", 4));
    EXPECT_FALSE(ConfigBlock::hasCompatibleTag("V103", 4));
    EXPECT_FALSE(ConfigBlock::hasCompatibleTag("v11", 3));
    EXPECT_FALSE(ConfigBlock::hasCompatibleTag("v1", 2));
}

}  // namespace
