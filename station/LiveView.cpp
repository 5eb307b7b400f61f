#include "LiveView.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "cli/ExitStatus.h"
#include "cli/Terminal.h"

namespace {

constexpr char kEllipsis[] = "\xE2\x80\xA6";  // …

// Colours of a state: ANSI SGR codes.
constexpr char kGreen[] = "\033[32m";
constexpr char kRed[] = "\033[1;31m";
constexpr char kYellow[] = "\033[33m";
constexpr char kPlain[] = "\033[0m";

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

// The byte where the text's column number column begins.
std::size_t byteOfColumn(const std::string& text, std::size_t column) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isContinuation(text[i])) {
            if (seen == column) {
                return i;
            }
            ++seen;
        }
    }
    return text.size();
}

std::string padded(const std::string& text, std::size_t width) {
    const std::size_t columns = columnsOf(text);
    return columns >= width ? text : text + std::string(width - columns, ' ');
}

std::string elapsedText(std::uint64_t ms) {
    char text[32];
    const std::uint64_t s = ms / 1000;
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
    return text;
}

bool failed(const UnitRow& row) {
    return row.ended && row.result != "ok";
}

// The state as the row shows it: failures in capitals, so that no colour is needed.
std::string stateWord(const UnitRow& row) {
    if (failed(row)) {
        return row.result == "mismatch"         ? "MISMATCH"
               : row.result == kProvisionedWord ? "ALREADY PROVISIONED"
                                                : "ERROR";
    }
    std::string state = row.state;
    if (row.percent >= 0) {
        state += " " + std::to_string(row.percent) + "%";
    }
    if (!row.hookNote.empty()) {
        state += " (hook failed)";
    }
    return row.again ? state + " (again)" : state;
}

// The name in width columns, keeping what tells it from the other names shown: the part
// after their common front (a by-id folder and the adapter's make), from its start.
std::string nameText(const std::string& name, std::size_t common, std::size_t width) {
    if (columnsOf(name) <= width) {
        return name;
    }
    while (common > 0 && common < name.size() && isContinuation(name[common])) {
        --common;
    }
    const std::string rest = name.substr(std::min(common, name.size()));
    if (common == 0 || width < 4) {
        return shortenedFromLeft(name, width);
    }
    return kEllipsis + shortenedFromRight(rest, width - 1);
}

std::size_t commonFront(const std::vector<std::string>& names) {
    if (names.size() < 2) {
        return 0;
    }
    std::size_t common = names[0].size();
    for (const std::string& name : names) {
        std::size_t i = 0;
        while (i < common && i < name.size() && name[i] == names[0][i]) {
            ++i;
        }
        common = i;
    }
    // Never the whole of a name: one name may be the front of another.
    for (const std::string& name : names) {
        common = std::min(common, name.empty() ? 0 : name.size() - 1);
    }
    return common;
}

std::string rowText(const UnitRow& row, std::uint64_t nowMs, std::size_t common,
                    std::size_t nameWidth, std::size_t width, bool colour) {
    const std::uint64_t until = row.ended ? row.endMs : nowMs;
    const std::string name = padded(nameText(terminalText(row.name), common, nameWidth), nameWidth);
    const std::string serial = padded(row.serial.empty() ? "-" : terminalText(row.serial), 5);
    const std::string state = padded(stateWord(row), 14);
    std::string text = name + "  " + serial + "  " + state + "  " +
                       padded(elapsedText(until > row.startMs ? until - row.startMs : 0), 5);
    if (failed(row)) {
        text += "  " + reasonLine(row);
    }
    text = shortenedFromRight(text, width);
    if (!colour) {
        return text;
    }
    const char* tint = failed(row) ? kRed : row.ended ? kGreen : kYellow;
    return tint + text + kPlain;
}

}  // namespace

std::string yieldText(const Tally& tally) {
    const std::size_t ended = tally.ok + tally.failed;
    if (ended == 0) {
        return "yield -";
    }
    char text[32];
    std::snprintf(text, sizeof text, "yield %.1f%%", 100.0 * double(tally.ok) / double(ended));
    return text;
}

std::size_t columnsOf(const std::string& text) {
    std::size_t columns = 0;
    for (const char c : text) {
        columns += isContinuation(c) ? 0 : 1;
    }
    return columns;
}

std::string shortenedFromLeft(const std::string& text, std::size_t width) {
    const std::size_t columns = columnsOf(text);
    if (columns <= width) {
        return text;
    }
    if (width == 0) {
        return {};
    }
    return kEllipsis + text.substr(byteOfColumn(text, columns - (width - 1)));
}

std::string shortenedFromRight(const std::string& text, std::size_t width) {
    if (columnsOf(text) <= width) {
        return text;
    }
    if (width == 0) {
        return {};
    }
    return text.substr(0, byteOfColumn(text, width - 1)) + kEllipsis;
}

std::vector<std::string> viewLines(const std::vector<const UnitRow*>& rows, const Tally& tally,
                                   std::uint64_t nowMs, std::size_t width, std::size_t height,
                                   bool colour) {
    width = std::max<std::size_t>(width, 20) - 1;
    const std::size_t lines = height > 2 ? height - 1 : 1;
    std::vector<std::string> view;
    std::string header = "running " + std::to_string(tally.running) + " | ok " +
                         std::to_string(tally.ok) + " | failed " + std::to_string(tally.failed) +
                         " | " + yieldText(tally);
    if (tally.again > 0) {
        header += " | provisioned again " + std::to_string(tally.again);
    }
    if (tally.provisioned > 0) {
        header += " | already provisioned " + std::to_string(tally.provisioned);
    }
    view.push_back(shortenedFromRight(header, width));
    if (lines < 2) {
        return view;
    }

    // Running, then failed, then ok, each in the order the units started.
    std::vector<const UnitRow*> running;
    std::vector<const UnitRow*> failures;
    std::vector<const UnitRow*> good;
    for (const UnitRow* row : rows) {
        (!row->ended ? running : failed(*row) ? failures : good).push_back(row);
    }
    const std::size_t room = lines - 1;
    std::vector<const UnitRow*> shown;
    std::size_t hidden = 0;
    for (const auto* group : {&running, &failures}) {
        for (const UnitRow* row : *group) {
            if (shown.size() < room) {
                shown.push_back(row);
            } else {
                ++hidden;
            }
        }
    }
    if (hidden > 0) {
        // The last line says what does not fit.
        hidden += 1;
        shown.pop_back();
    }
    const std::size_t okRoom = room - shown.size() - (hidden > 0 ? 1 : 0);
    const std::size_t firstGood = good.size() > okRoom ? good.size() - okRoom : 0;
    shown.insert(shown.end(), good.begin() + static_cast<std::ptrdiff_t>(firstGood), good.end());

    std::size_t nameWidth = 4;
    std::vector<std::string> names;
    for (const UnitRow* row : shown) {
        names.push_back(terminalText(row->name));
        nameWidth = std::max(nameWidth, columnsOf(names.back()));
    }
    const std::size_t common = commonFront(names);
    // The name takes up to half of what the other columns leave, so that a failure keeps
    // room for its reason; a tail of 12 columns tells units apart on the narrowest.
    nameWidth = std::min(nameWidth, std::max<std::size_t>(width > 32 ? (width - 32) / 2 : 0, 12));
    for (const UnitRow* row : shown) {
        view.push_back(rowText(*row, nowMs, common, nameWidth, width, colour));
    }
    if (hidden > 0) {
        view.push_back(
            shortenedFromRight("+ " + std::to_string(hidden) + " more running or failed", width));
    }
    return view;
}

std::vector<std::string> summaryLines(const Tally& tally,
                                      const std::vector<const UnitRow*>& failures,
                                      const std::vector<const UnitRow*>& again) {
    const std::size_t total = tally.running + tally.ok + tally.failed + tally.provisioned;
    std::string counts = std::to_string(total) + (total == 1 ? " unit: " : " units: ") +
                         std::to_string(tally.ok) + " ok, " + std::to_string(tally.failed) +
                         " failed";
    if (tally.provisioned > 0) {
        counts += ", " + std::to_string(tally.provisioned) + " already provisioned";
    }
    if (tally.running > 0) {
        counts += ", " + std::to_string(tally.running) + " not finished";
    }
    counts += ", " + yieldText(tally);
    std::vector<std::string> lines{counts};
    for (const UnitRow* row : failures) {
        lines.push_back(unitEndLine(*row));
    }
    for (const UnitRow* row : again) {
        lines.push_back(terminalText(row->name) + ": serial " + row->serial +
                        ": provisioned again");
    }
    return lines;
}

void ScreenWriter::enter() {
    if (!m_active) {
        // The alternate screen, without a cursor: the terminal's own screen and its
        // scrollback stay as they were.
        m_out << "\033[?1049h\033[?25l\033[H\033[2J" << std::flush;
        m_active = true;
        m_shown.clear();
    }
}

void ScreenWriter::invalidate() {
    m_clear = true;
    m_shown.clear();
}

void ScreenWriter::draw(const std::vector<std::string>& lines) {
    if (!m_active) {
        return;
    }
    std::string text;
    if (m_clear) {
        text += "\033[H\033[2J";
        m_clear = false;
    }
    for (std::size_t i = 0; i < std::max(lines.size(), m_shown.size()); ++i) {
        const std::string line = i < lines.size() ? lines[i] : std::string();
        if (i < m_shown.size() && m_shown[i] == line) {
            continue;
        }
        text += "\033[" + std::to_string(i + 1) + ";1H" + line + "\033[K";
    }
    m_shown = lines;
    if (!text.empty()) {
        m_out << text << std::flush;
    }
}

void ScreenWriter::leave() {
    if (m_active) {
        m_out << "\033[?25h\033[?1049l" << std::flush;
        m_active = false;
    }
}
