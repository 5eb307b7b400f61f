#include "UnitRow.h"

#include <cstdio>

#include "cli/ExitStatus.h"
#include "cli/Terminal.h"

namespace {

std::string elapsedText(std::uint64_t ms) {
    char text[32];
    const std::uint64_t s = ms / 1000;
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
    return text;
}

// A failure's message in one line: a mismatch by its differences, without the heading.
std::string shortMessage(const UnitRow& row) {
    std::string text = row.message;
    if (row.result == "mismatch") {
        const std::size_t heading = text.find(":\n");
        if (heading != std::string::npos) {
            text = text.substr(heading + 2);
        }
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        text.replace(at, 1, "; ");
    }
    return terminalText(text);
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
    } else if (event.key == UnitKey::kEnd && !row.ended) {
        row.ended = true;
        row.endMs = nowMs;
        const std::string code = value(0);
        row.code = !code.empty() && code.size() <= 3 &&
                           code.find_first_not_of("0123456789") == std::string::npos
                       ? std::stoi(code)
                       : 2;
        row.result = value(1).empty() ? "error" : value(1);
        row.message = value(2);
        row.planned = value(3);
        row.state = row.result == "ok" ? "ok" : row.result == "mismatch" ? "MISMATCH" : "error";
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
    row.state = row.result == "ok" ? "ok" : row.result == "mismatch" ? "MISMATCH" : "error";
    row.percent = -1;
}

std::string unitRowText(const UnitRow& row, std::uint64_t nowMs, std::size_t nameWidth) {
    std::string name = terminalText(row.name);
    if (name.size() < nameWidth) {
        name.resize(nameWidth, ' ');
    }
    std::string serial = row.serial.empty() ? "-" : row.serial;
    serial.resize(std::max<std::size_t>(serial.size(), 7), ' ');
    std::string state = row.state;
    if (row.percent >= 0) {
        state += " " + std::to_string(row.percent) + "%";
    }
    state.resize(std::max<std::size_t>(state.size(), 16), ' ');
    const std::uint64_t until = row.ended ? row.endMs : nowMs;
    return name + "  " + serial + "  " + state + "  " +
           elapsedText(until > row.startMs ? until - row.startMs : 0);
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
        line += ": " + shortMessage(row);
    }
    return line;
}

std::string gangSummary(const std::vector<UnitRow>& rows) {
    std::size_t ok = 0;
    std::size_t mismatch = 0;
    std::size_t error = 0;
    std::size_t running = 0;
    std::string details;
    for (const UnitRow& row : rows) {
        if (!row.ended) {
            ++running;
            continue;
        }
        if (row.result == "ok") {
            ++ok;
            continue;
        }
        (row.result == "mismatch" ? mismatch : error) += 1;
    }
    std::string text = std::to_string(rows.size()) + (rows.size() == 1 ? " unit: " : " units: ");
    std::vector<std::string> parts;
    parts.push_back(std::to_string(ok) + " ok");
    const auto withDetails = [&rows](const char* result) {
        std::string list;
        for (const UnitRow& row : rows) {
            if (row.ended && row.result == result) {
                list += (list.empty() ? "" : "; ") + terminalText(row.name) +
                        (row.serial.empty() ? "" : ", serial " + row.serial) +
                        (row.message.empty() ? "" : ": " + shortMessage(row));
            }
        }
        return list.empty() ? std::string() : " (" + list + ")";
    };
    if (mismatch > 0) {
        parts.push_back(std::to_string(mismatch) + " mismatch" + withDetails("mismatch"));
    }
    if (error > 0) {
        parts.push_back(std::to_string(error) + (error == 1 ? " error" : " errors") +
                        withDetails("error"));
    }
    if (running > 0) {
        parts.push_back(std::to_string(running) + " not finished");
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : ", ") + parts[i];
    }
    return text;
}

int worstExitCode(const std::vector<UnitRow>& rows) {
    int worst = 0;
    for (const UnitRow& row : rows) {
        if (row.ended && row.code > worst) {
            worst = row.code;
        }
    }
    return worst;
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
