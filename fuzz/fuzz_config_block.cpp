// The device's read reply and the configuration text: decoding never fails or reads past
// the text, the check agrees with the checksum, and encoding decodes back to the same block.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "device/ConfigBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string_view text(input);

    ConfigBlock unchecked = demoBlock();
    bool validUnchecked = true;
    FUZZ_CHECK(!decodeBlock(text, false, unchecked, validUnchecked));
    FUZZ_CHECK(validUnchecked);  // left alone without the check

    ConfigBlock checked = demoBlock();
    bool valid = true;
    const bool intact = decodeBlock(text, true, checked, valid);
    if (size < kConfigTextLength) {
        FUZZ_CHECK(checked == demoBlock());
    } else {
        FUZZ_CHECK(checked == unchecked);
        FUZZ_CHECK(intact == (computeChecksum(checked) == checked.byte(Offset::checksum)));
        const bool flagged = size > kConfigTextLength && input[kConfigTextLength] == 'p';
        FUZZ_CHECK(valid == (intact && flagged));
    }

    // Whatever was decoded encodes to lower-case text that decodes back to itself.
    const std::string encoded = encodeBlock(checked);
    FUZZ_CHECK(encoded.size() == kConfigTextLength);
    for (std::size_t i = 4; i < encoded.size(); ++i) {
        const char c = encoded[i];
        FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    }
    ConfigBlock again;
    bool validAgain = false;
    FUZZ_CHECK(decodeBlock(encoded + "p", true, again, validAgain));
    FUZZ_CHECK(validAgain);
    ConfigBlock expected = checked;
    expected.setByte(Offset::checksum, computeChecksum(checked));
    FUZZ_CHECK(again == expected);
    return 0;
}
