#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "device/ConfigBlock.h"

// Fields and their values in words, as set takes them: ("mode2.address", "7").
using FieldValues = std::vector<std::pair<std::string, std::string>>;

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
    FieldValues sent;      // the configuration sent, field by field
    FieldValues readBack;  // what the check after the write read back
    // Where, by whom and under what it ran, for the history and the JSON object.
    std::string time;  // when it ended: ISO, UTC
    std::string station;
    std::string operatorName;
    std::string job;
    std::string jobSha256;
    std::string note;  // the run's remark on the unit: an earlier run, a second one
};

// Every field the program sets, with its value in block.
FieldValues blockValues(const ConfigBlock& block);
// As FIELD=VALUE texts, and back (a text without "=" is left out).
std::vector<std::string> assignmentTexts(const FieldValues& values);
FieldValues fieldValuesOf(const std::vector<std::string>& assignments);

// A unit's planned values as one text: "mode2.address=7; mode2.leadIn=0".
std::string describePlanned(const std::vector<std::string>& assignments);

// One JSON object for the unit, on one line.
std::string unitJson(const UnitResult& unit);

// The record's row (time, device, serial, version, command, file, result, message), the
// message led by the unit's planned values.
std::vector<std::string> recordFields(const UnitResult& unit, std::time_t time,
                                      const std::string& device, const std::string& command,
                                      const std::string& file);
