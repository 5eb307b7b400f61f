#pragma once

#include <ctime>
#include <string>
#include <vector>

// How one unit's command ended: what the record, the --json object and the summary of a run
// on several units say of it.
struct UnitResult {
    std::string name;              // COM5, or the device path as given
    std::string serial;            // once read
    std::string version;           // the unit's firmware, once read
    int code = 0;                  // the exit status
    std::string result;            // ok, mismatch or error
    std::string message;           // the last message of a unit that did not end ok
    std::string planned;           // the plan's values for this unit
    std::vector<std::string> out;  // what the command printed as data
    double seconds = 0;
};

// A unit's planned values as one text: "mode2.address=7; mode2.leadIn=0".
std::string describePlanned(const std::vector<std::string>& assignments);

// One JSON object for the unit, on one line.
std::string unitJson(const UnitResult& unit);

// The record's row (time, device, serial, version, command, file, result, message), the
// message led by the unit's planned values.
std::vector<std::string> recordFields(const UnitResult& unit, std::time_t time,
                                      const std::string& device, const std::string& command,
                                      const std::string& file);
