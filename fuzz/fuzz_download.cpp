// The download conversion: any text converts or is refused without failing, and what it
// writes is well-formed Intel HEX whose records carry exactly the program's bytes.

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "device/ConfigBlock.h"
#include "program/HexWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const DownloadConversion result = convertDownload(text);
    if (result.outcome != DownloadConversion::Converted) {
        FUZZ_CHECK(result.hex.empty());
        return 0;
    }
    FUZZ_CHECK(result.bytesDownloaded >= result.programLength + 4);
    // Every line: ':', an even number of upper-case digits, a checksum that sums to 0.
    unsigned programBytes = 0;
    std::size_t pos = 0;
    bool sawEnd = false;
    while (pos < result.hex.size()) {
        const std::size_t end = result.hex.find('\n', pos);
        FUZZ_CHECK(end != std::string::npos);
        const std::string line = result.hex.substr(pos, end - pos);
        FUZZ_CHECK(!sawEnd);
        FUZZ_CHECK(line.size() >= 11 && line[0] == ':' && line.size() % 2 == 1);
        unsigned sum = 0;
        for (std::size_t i = 1; i < line.size(); i += 2) {
            FUZZ_CHECK((line[i] >= '0' && line[i] <= '9') || (line[i] >= 'A' && line[i] <= 'F'));
            sum += static_cast<unsigned>(16 * hexDigitValue(line[i]) + hexDigitValue(line[i + 1]));
        }
        FUZZ_CHECK((sum & 0xFF) == 0);
        const unsigned count =
            static_cast<unsigned>(hexDigitValue(line[1]) * 16 + hexDigitValue(line[2]));
        FUZZ_CHECK(line.size() == 11 + 2 * count && count <= 32);
        sawEnd = line == ":00400401BB";
        programBytes += sawEnd ? 0 : count;
        pos = end + 1;
    }
    FUZZ_CHECK(sawEnd);
    FUZZ_CHECK(programBytes == result.programLength);
    return 0;
}
