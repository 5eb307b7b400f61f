#include "UnitEvents.h"

#include <cctype>

#include "device/ConfigBlock.h"

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string unescaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

// 0..15, or -1 for a character that is no hexadecimal digit.
int hexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) ? hexDigitValue(c) : -1;
}

}  // namespace

std::string encodeUnitEvent(const UnitEvent& event) {
    std::string line = escaped(event.key);
    for (const std::string& value : event.values) {
        line += '\t' + escaped(value);
    }
    return line + '\n';
}

bool decodeUnitEvent(const std::string& line, UnitEvent& event) {
    event = {};
    std::string text = line;
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (text.empty()) {
        return false;
    }
    std::size_t from = 0;
    bool first = true;
    while (true) {
        const std::size_t tab = text.find('\t', from);
        const std::string part = unescaped(text.substr(from, tab - from));
        if (first) {
            event.key = part;
            first = false;
        } else {
            event.values.push_back(part);
        }
        if (tab == std::string::npos) {
            break;
        }
        from = tab + 1;
    }
    return !event.key.empty();
}

std::string hexBytes(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

bool bytesFromHex(const std::string& hex, std::string& bytes) {
    bytes.clear();
    if (hex.size() % 2 != 0) {
        return false;
    }
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}
