#include "ReplyLines.h"

#include <array>
#include <cstring>
#include <string_view>

#include "device/Format.h"

namespace {

constexpr char kWait[] = ", wait..";
constexpr char kDone[] = "Done";
constexpr std::uint8_t kCr = 0x0D;

// The buffer as a terminated text: up to its first NUL.
std::size_t textLength(const std::uint8_t* b, std::size_t count) {
    const void* nul = std::memchr(b, 0, count);
    return nul == nullptr ? count
                          : static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - b);
}

// Offset of needle in the terminated text, or npos.
std::size_t findInText(const std::uint8_t* b, std::size_t count, const char* needle) {
    const std::string_view text(reinterpret_cast<const char*>(b), textLength(b, count));
    return text.find(needle);
}

const std::array<const char*, 16> kErrorTexts{
    "Error 0",
    "Error 1",
    "EEPROM failed",
    "Supply voltage is too low for EEPROM write",
    "EEPROM verify failed",
    "Error 5",
    "Error 6",
    "Error 7",
    "Error 8",
    "Error 9",
    "Hex file contains no end record",
    "Hex file contains a bad checksum",
    "Hex file contains a line without a colon at the start",
    "Hex file contains a line that is too long",
    "Hex file contains an invalid address",
    "Up load aborted",
};

}  // namespace

ResponseLine ExtractResponseLine(std::uint8_t* b, std::size_t& count) {
    ResponseLine result;
    const std::size_t n = count;
    b[n] = 0;
    long i = static_cast<long>(n) - 1;
    std::size_t cut = 0;
    // The ending is looked for in everything received since the last line taken, also past
    // a terminator that an earlier call wrote over a lone CR LF's carriage return.
    const std::size_t wait = std::string_view(reinterpret_cast<const char*>(b), n).find(kWait);
    if (wait != std::string_view::npos) {
        cut = wait;
        result.waitSeen = true;
    } else {
        for (long k = static_cast<long>(n) - 1; k >= 0; --k) {
            if (b[k] == kCr) {
                b[k] = 0;
                cut = static_cast<std::size_t>(k);
                i = k - 1;
                break;
            }
        }
    }
    if (cut == 0) {
        return result;
    }
    std::size_t start = 0;
    const std::size_t done = findInText(b, n, kDone);
    if (done != std::string_view::npos && done > 0) {
        start = done;
    } else {
        for (long k = i; k >= 0; --k) {
            if (b[k] == kCr) {
                start = static_cast<std::size_t>(k) + 1;
                break;
            }
        }
    }
    if (start == cut) {
        return result;
    }
    for (std::size_t k = start; k < cut; ++k) {
        if (b[k] == kCr) {
            result.line += '\n';
        } else if (b[k] >= 0x20 && b[k] <= 0x7E) {
            result.line += static_cast<char>(b[k]);
        }
    }
    if (cut < n - 1) {
        b[cut] = kCr;
        std::memmove(b, b + cut, n - cut);
        count = n - cut;
    } else {
        count = 0;
    }
    return result;
}

std::string FormatDeviceError(int code, const std::string& line) {
    const auto index = static_cast<unsigned>(code);
    return std::string("VX310 reported:\n\n") + (index <= 15 ? kErrorTexts[index] : line);
}

bool parseDeviceError(const std::string& line, int& code) {
    static const char prefix[] = "Error=";
    if (line.compare(0, sizeof prefix - 1, prefix) != 0) {
        return false;
    }
    const std::optional<std::uint32_t> value =
        scanNumber(std::string_view(line).substr(sizeof prefix - 1));
    if (!value) {
        return false;
    }
    code = static_cast<int>(*value);
    return true;
}
