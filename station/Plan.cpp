#include "Plan.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/ExitStatus.h"
#include "cli/Terminal.h"
#include "editor/BlockFields.h"

namespace {

constexpr char kSerialColumn[] = "serialNumber";
// A plan names units of one order: anything larger is a mistake, not a plan.
constexpr std::size_t kMaxPlanBytes = 4 * 1024 * 1024;

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

std::optional<unsigned> wholeNumber(const std::string& text, unsigned max) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > max) {
        return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

}  // namespace

bool splitCsvLine(const std::string& line, std::vector<std::string>& fields) {
    fields.clear();
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return !quoted;
}

std::optional<Plan> Plan::parse(const std::string& text, std::string& error) {
    std::optional<Plan> plan = parseText(text, error);
    if (!plan) {
        // Cells and paths are shown as they may reach a terminal.
        error = terminalText(error);
    }
    return plan;
}

std::optional<Plan> Plan::parseText(const std::string& text, std::string& error) {
    // A spreadsheet's "CSV UTF-8" starts with a byte order mark.
    const std::string_view bom = "\xEF\xBB\xBF";
    std::istringstream lines(text.compare(0, bom.size(), bom) == 0 ? text.substr(bom.size())
                                                                   : text);
    std::string line;
    std::vector<std::string> cells;
    Plan plan;
    std::size_t serialColumn = 0;
    std::size_t number = 0;
    bool header = true;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (trimmed(line).empty()) {
            continue;
        }
        const std::string where = "plan line " + std::to_string(number) + ": ";
        if (!splitCsvLine(line, cells)) {
            error = where + "a quote is not closed";
            return std::nullopt;
        }
        for (std::string& cell : cells) {
            cell = trimmed(cell);
        }
        if (header) {
            header = false;
            bool serial = false;
            std::set<std::string> seen;
            for (std::size_t i = 0; i < cells.size(); ++i) {
                if (!seen.insert(cells[i]).second) {
                    error = where + "the column \"" + cells[i] + "\" is named twice";
                    return std::nullopt;
                }
                if (cells[i] == kSerialColumn) {
                    serial = true;
                    serialColumn = i;
                    continue;
                }
                if (findField(cells[i]) == nullptr) {
                    error =
                        where + (isDeviceField(cells[i])
                                     ? "\"" + cells[i] + "\" is the VX310's own and cannot be set"
                                     : "unknown field \"" + cells[i] + "\"");
                    return std::nullopt;
                }
                plan.m_fields.push_back(cells[i]);
            }
            if (!serial) {
                error = where + "the header has no serialNumber column";
                return std::nullopt;
            }
            if (plan.m_fields.empty()) {
                error = where + "the header names no field to set";
                return std::nullopt;
            }
            continue;
        }
        if (cells.size() != plan.m_fields.size() + 1) {
            error = where + "has " + std::to_string(cells.size()) + " values, the header " +
                    std::to_string(plan.m_fields.size() + 1);
            return std::nullopt;
        }
        const std::optional<unsigned> serial = wholeNumber(cells[serialColumn], 65535);
        if (!serial) {
            error = where + "\"" + cells[serialColumn] + "\" is no serial number (0 to 65535)";
            return std::nullopt;
        }
        std::vector<std::string> assignments;
        std::size_t field = 0;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i != serialColumn) {
                assignments.push_back(plan.m_fields[field++] + "=" + cells[i]);
            }
        }
        std::vector<FieldAssignment> checked;
        std::string why;
        if (!parseAssignments(assignments, checked, why)) {
            error = where + why;
            return std::nullopt;
        }
        if (!plan.m_rows.emplace(*serial, assignments).second) {
            error = where + "serial number " + std::to_string(*serial) + " has a row already";
            return std::nullopt;
        }
        plan.m_lines[*serial] = static_cast<unsigned>(number);
    }
    if (header) {
        error = "the plan is empty";
        return std::nullopt;
    }
    return plan;
}

std::optional<Plan> Plan::load(const std::string& path, std::string& error, int& exitCode,
                               std::string* bytes) {
    exitCode = kExitFile;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error =
            "Unable to open file: \"" + terminalText(path) + "\"? (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kMaxPlanBytes) {
            exitCode = kExitUsage;
            error = "\"" + terminalText(path) + "\" is too large for a plan";
            return std::nullopt;
        }
    }
    if (file.bad()) {
        error = "Unable to read file: \"" + terminalText(path) + "\"?";
        return std::nullopt;
    }
    exitCode = kExitUsage;
    if (bytes != nullptr) {
        *bytes = text;
    }
    return parse(text, error);
}

const std::vector<std::string>* Plan::find(unsigned serialNumber) const {
    const auto row = m_rows.find(serialNumber);
    return row == m_rows.end() ? nullptr : &row->second;
}
