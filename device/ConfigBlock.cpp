#include "ConfigBlock.h"

#include <cstring>

bool ConfigBlock::hasCompatibleTag(const char* text, std::size_t length) {
    return length >= 3 && std::memcmp(text, "v10", 3) == 0;
}

int hexDigitValue(char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    return 0;
}

std::uint8_t computeChecksum(const ConfigBlock& block) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < Offset::checksum; ++i) {
        sum += block.data[i];
    }
    return static_cast<std::uint8_t>(~sum);
}

bool decodeBlock(std::string_view text, bool checkSum, ConfigBlock& block, bool& validProgram) {
    if (text.size() < kConfigTextLength) {
        if (checkSum) {
            validProgram = false;
        }
        return false;
    }
    for (std::size_t i = 0; i < block.versionTag.size(); ++i) {
        block.versionTag[i] = text[i];
    }
    for (std::size_t offset = 0; offset < kBlockSize; ++offset) {
        const std::size_t at = 4 + 2 * offset;
        block.data[offset] =
            static_cast<std::uint8_t>(hexDigitValue(text[at]) * 16 + hexDigitValue(text[at + 1]));
    }
    if (!checkSum) {
        return false;
    }
    validProgram = false;
    if (computeChecksum(block) != block.data[Offset::checksum]) {
        return false;
    }
    validProgram = text.size() > kConfigTextLength && text[kConfigTextLength] == 'p';
    return true;
}

std::string encodeBlock(const ConfigBlock& block) {
    static const char digits[] = "0123456789abcdef";
    std::string text(block.versionTag.begin(), block.versionTag.end());
    text.reserve(kConfigTextLength);
    const std::uint8_t checksum = computeChecksum(block);
    for (std::size_t offset = 0; offset < kBlockSize; ++offset) {
        const std::uint8_t value = offset == Offset::checksum ? checksum : block.data[offset];
        text += digits[value >> 4];
        text += digits[value & 0x0F];
    }
    return text;
}

namespace {

ConfigBlock makeDemoBlock() {
    ConfigBlock block;
    block.versionTag = {'v', '1', '0', '3'};
    block.setWord(Offset::serialNumber, 10910);
    block.setByte(Offset::portInterfaces, 1);
    block.setByte(Offset::m2Address, 1);
    block.setWord(Offset::m2Timeout, 1000);
    block.setByte(Offset::m2LeadIn, 100);
    block.setByte(Offset::adeMode, 2);
    block.setByte(Offset::productType, 1);
    block.setByte(Offset::p1Baud, 16);
    block.setByte(Offset::p1WordLength, 3);
    block.setByte(Offset::p1Parity, 2);
    block.setByte(Offset::p1StopBits, 0);
    block.setByte(Offset::p1XonXoff, 0);
    block.setByte(Offset::p2Baud, 17);
    block.setByte(Offset::p2WordLength, 3);
    block.setByte(Offset::p2Parity, 1);
    block.setByte(Offset::p2StopBits, 0);
    block.setByte(Offset::p2XonXoff, 0);
    const std::uint8_t delays[kTurnOffDelayCount] = {181, 244, 19, 34, 64};
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        block.setByte(Offset::m1TurnOffDelay + i, delays[i]);
    }
    block.setByte(Offset::m1DriverAlwaysOn, 0);
    return block;
}

}  // namespace

const ConfigBlock& demoBlock() {
    static const ConfigBlock block = makeDemoBlock();
    return block;
}
