#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// Fills one number into one of the program's own fixed texts ("COM%u" and the like).
// The format always comes from the program, never from outside.
inline std::string formatNumber(const char* format, unsigned value) {
    char buffer[256];
    const int length = std::snprintf(buffer, sizeof buffer, format, value);
    if (length < 0) {
        return {};
    }
    if (static_cast<std::size_t>(length) < sizeof buffer) {
        return std::string(buffer, static_cast<std::size_t>(length));
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// What scanNumber does with a number too large for 32 bits.
enum class NumberOverflow {
    Wrap,      // keeps the low 32 bits, as "%u" and "%d" do
    Saturate,  // reads as 4294967295, so that any range check below that refuses it
};

// Reads a number as the C library's "%u" and "%d" conversions do: leading white space, an
// optional sign, then decimal digits, whatever follows ignored. A minus sign wraps the value
// modulo 2^32; a number past 32 bits wraps too unless overflow says Saturate, which holds
// whatever the sign. Nothing when no digit follows the sign.
inline std::optional<std::uint32_t> scanNumber(std::string_view text,
                                               NumberOverflow overflow = NumberOverflow::Wrap) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9') {
        return std::nullopt;
    }
    constexpr std::uint32_t kMax = 0xFFFFFFFFu;
    std::uint32_t value = 0;
    bool tooLarge = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint32_t>(text[i] - '0');
        tooLarge = tooLarge || value > (kMax - digit) / 10u;
        value = value * 10u + digit;
    }
    if (tooLarge && overflow == NumberOverflow::Saturate) {
        return kMax;
    }
    return negative ? 0u - value : value;
}
