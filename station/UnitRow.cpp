#include "UnitRow.h"

#include <cstdio>

#include "cli/ExitStatus.h"
#include "cli/Terminal.h"

namespace {

std::string stateOfResult(const std::string& result) {
    return result == "ok" || result == kProvisionedWord ? result
           : result == "mismatch"                       ? "MISMATCH"
                                                        : "error";
}

}  // namespace

void applyUnitEvent(UnitRow& row, const UnitEvent& event, std::uint64_t nowMs) {
    const auto value = [&event](std::size_t i) {
        return i < event.values.size() ? event.values[i] : std::string();
    };
    if (event.key == UnitKey::kState && !row.ended) {
        row.state = value(0);
        row.percent = -1;
        if (!value(1).empty() && value(1).size() <= 3 &&
            value(1).find_first_not_of("0123456789") == std::string::npos) {
            row.percent = std::stoi(value(1));
        }
    } else if (event.key == UnitKey::kSerial) {
        row.serial = value(0);
        row.version = value(1);
    } else if (event.key == UnitKey::kOut) {
        row.out.push_back(value(0));
    } else if (event.key == UnitKey::kSent) {
        row.sent = fieldValuesOf(event.values);
    } else if (event.key == UnitKey::kReadBack) {
        row.readBack = fieldValuesOf(event.values);
    } else if (event.key == UnitKey::kEnd && !row.ended) {
        row.ended = true;
        row.endMs = nowMs;
        const std::string code = value(0);
        row.code = !code.empty() && code.size() <= 3 &&
                           code.find_first_not_of("0123456789") == std::string::npos
                       ? std::stoi(code)
                       : 2;
        row.result = resultWord(row.code);
        row.message = value(2);
        row.planned = value(3);
        row.state = stateOfResult(row.result);
        row.percent = -1;
        row.seconds = double(nowMs > row.startMs ? nowMs - row.startMs : 0) / 1000.0;
    }
}

void endUnitRow(UnitRow& row, int code, const std::string& message, std::uint64_t nowMs) {
    if (!row.ended) {
        row.ended = true;
        row.endMs = nowMs;
        row.seconds = double(nowMs > row.startMs ? nowMs - row.startMs : 0) / 1000.0;
    }
    row.code = code;
    row.result = resultWord(code);
    row.message = message;
    row.state = stateOfResult(row.result);
    row.percent = -1;
}

std::string reasonLine(const UnitRow& row) {
    std::string text = row.message;
    if (row.result == "mismatch") {
        const std::size_t heading = text.find(":\n");
        if (heading != std::string::npos) {
            text = text.substr(heading + 2);
        }
    }
    std::string line;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string part = text.substr(from, end - from);
        const std::size_t first = part.find_first_not_of(" \t\r");
        if (first != std::string::npos) {
            part = part.substr(first, part.find_last_not_of(" \t\r") + 1 - first);
            line += (line.empty() ? "" : "; ") + part;
        }
        from = end + 1;
    }
    return terminalText(line);
}

std::string unitEndLine(const UnitRow& row) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s",
                  double(row.endMs > row.startMs ? row.endMs - row.startMs : 0) / 1000.0);
    std::string line = terminalText(row.name);
    if (!row.serial.empty()) {
        line += ": serial " + row.serial;
    }
    line += ": " + row.state + " (" + seconds + ")";
    if (row.result != "ok" && !row.message.empty()) {
        line += ": " + reasonLine(row);
    }
    return line;
}

std::string unitFileTag(const std::string& name) {
    std::string tag;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        tag += plain ? c : '_';
    }
    while (!tag.empty() && tag.front() == '_') {
        tag.erase(tag.begin());
    }
    return tag;
}
