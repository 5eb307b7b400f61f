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

// Reads a number as the C library's "%u" and "%d" conversions do: leading white space, an
// optional sign, then decimal digits, whatever follows ignored. The value wraps modulo 2^32
// (a minus sign too). Nothing when no digit follows the sign.
inline std::optional<std::uint32_t> scanNumber(std::string_view text) {
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
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    return negative ? 0u - value : value;
}
