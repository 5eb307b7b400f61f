#pragma once

#include <cstdio>
#include <string>

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
