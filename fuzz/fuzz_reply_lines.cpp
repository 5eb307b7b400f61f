// Reply lines: any buffer, taken line by line as the transfer dialog does, never reads or
// writes past the buffer and its spare byte, and always shrinks or stays.

#include <array>
#include <cstdint>
#include <cstring>

#include "FuzzCheck.h"
#include "program/ReplyLines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // Exactly the link's buffer and spare byte, so that the sanitizer sees any overrun.
    auto* buffer = new std::uint8_t[1025];
    std::size_t count = std::min<std::size_t>(size, 1024);
    std::memcpy(buffer, data, count);
    for (int call = 0; call < 64 && count > 0; ++call) {
        const std::size_t before = count;
        const ResponseLine r = ExtractResponseLine(buffer, count);
        FUZZ_CHECK(count <= before);
        FUZZ_CHECK(r.line.size() <= before);
        for (const char c : r.line) {
            FUZZ_CHECK(c == '\n' || (c >= 0x20 && c <= 0x7E));
        }
        int code = 0;
        if (parseDeviceError(r.line, code)) {
            FUZZ_CHECK(FormatDeviceError(code, r.line).rfind("VX310 reported:\n\n", 0) == 0);
        }
    }
    delete[] buffer;
    return 0;
}
