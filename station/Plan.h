#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// A per-unit plan: a CSV file whose header names serialNumber and fields as set spells them
// (serialNumber,mode2.address), and a row for each unit with its own values. Each unit gets
// the common command plus its row, found by the serial number the unit reports.
class Plan {
public:
    // Reads and checks the whole plan: every field known and settable, every value valid,
    // every serial number a number of 0 to 65535 and named once. False with the reason.
    static std::optional<Plan> parse(const std::string& text, std::string& error);
    // Reads the file at path once (a pipe gives its bytes only once); a file that cannot be
    // read is refused with its reason. exitCode: kExitFile when the file could not be read,
    // kExitUsage when it is no plan.
    // bytes, when given, receives the file's bytes as read.
    static std::optional<Plan> load(const std::string& path, std::string& error, int& exitCode,
                                    std::string* bytes = nullptr);

    // The unit's assignments as set takes them ("mode2.address=7"), or nothing for a unit the
    // plan does not name.
    const std::vector<std::string>* find(unsigned serialNumber) const;

    std::size_t size() const { return m_rows.size(); }
    // Every unit's row, by serial number, and the line of the file it stands on.
    const std::map<unsigned, std::vector<std::string>>& rows() const { return m_rows; }
    unsigned lineOf(unsigned serialNumber) const {
        const auto found = m_lines.find(serialNumber);
        return found == m_lines.end() ? 0 : found->second;
    }
    const std::vector<std::string>& fields() const { return m_fields; }

private:
    static std::optional<Plan> parseText(const std::string& text, std::string& error);

    std::vector<std::string> m_fields;
    std::map<unsigned, std::vector<std::string>> m_rows;
    std::map<unsigned, unsigned> m_lines;
};

// The fields of one CSV line (RFC 4180: quoted fields with "" for a quote, commas inside
// quotes). False when a quote is left open.
bool splitCsvLine(const std::string& line, std::vector<std::string>& fields);
