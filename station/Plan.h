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
    // Reads the file at path; a file that cannot be read is refused with its reason.
    static std::optional<Plan> load(const std::string& path, std::string& error);

    // The unit's assignments as set takes them ("mode2.address=7"), or nothing for a unit the
    // plan does not name.
    const std::vector<std::string>* find(unsigned serialNumber) const;
    // The unit's planned values as one text for the record: "mode2.address=7; mode2.leadIn=0".
    static std::string describe(const std::vector<std::string>& assignments);

    std::size_t size() const { return m_rows.size(); }
    const std::vector<std::string>& fields() const { return m_fields; }

private:
    std::vector<std::string> m_fields;
    std::map<unsigned, std::vector<std::string>> m_rows;
};

// The fields of one CSV line (RFC 4180: quoted fields with "" for a quote, commas inside
// quotes). False when a quote is left open.
bool splitCsvLine(const std::string& line, std::vector<std::string>& fields);

// The units of -p: "1,3,5-8" gives 1, 3, 5, 6, 7, 8, in order, each once. False with the
// reason for anything that is not a port number from 1 to 255 or a range of them.
bool parsePortList(const std::string& text, std::vector<unsigned>& ports, std::string& error);
