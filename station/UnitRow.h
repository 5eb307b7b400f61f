#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a unit's own vxconf-cli process tells the run that started it, a line at a time:
// a key and its values, separated by tabs ("state\tuploading\t45"). Line breaks, tabs and
// backslashes inside values are escaped, so that one event is always one line.
struct UnitEvent {
    std::string key;
    std::vector<std::string> values;
};
std::string encodeUnitEvent(const UnitEvent& event);
// False for a line that is no event.
bool decodeUnitEvent(const std::string& line, UnitEvent& event);

// Event keys.
namespace UnitKey {
inline constexpr char kState[] = "state";    // state word, percent or -1
inline constexpr char kSerial[] = "serial";  // the unit's serial number, once read
inline constexpr char kOut[] = "out";        // a line the unit's command printed as data
inline constexpr char kEnd[] = "end";        // exit code, result word, last message, planned
}  // namespace UnitKey

// One unit of a run on several units, as the table shows it.
struct UnitRow {
    std::string name;    // COM5, or the device path given
    std::string serial;  // once read
    std::string state = "waiting";
    int percent = -1;  // of a transfer that knows its size
    std::uint64_t startMs = 0;
    std::uint64_t endMs = 0;
    bool ended = false;
    int code = 0;
    std::string result;            // ok, mismatch or error
    std::string message;           // the last message of a unit that did not end ok
    std::string planned;           // the plan's values for this unit
    std::vector<std::string> out;  // what the unit printed as data
};

// Takes an event into its row; the time is the run's clock.
void applyUnitEvent(UnitRow& row, const UnitEvent& event, std::uint64_t nowMs);

// "COM5       4711    uploading 45%    0:12", the name padded to nameWidth.
std::string unitRowText(const UnitRow& row, std::uint64_t nowMs, std::size_t nameWidth);
// The line for a unit that has ended, where no table is drawn:
// "COM5: serial 4711: ok (1.4 s)", with the message's first line after a failure.
std::string unitEndLine(const UnitRow& row);
// "8 units: 7 ok, 1 mismatch (COM5, serial 4711: Port 2 Parity: sent even, the VX310 holds
// none)".
std::string gangSummary(const std::vector<UnitRow>& rows);
// The worst exit code of the units that ended.
int worstExitCode(const std::vector<UnitRow>& rows);
// One JSON object for a unit that ended, on one line.
std::string unitJson(const UnitRow& row);
// A unit's name in a file name: its path's characters other than letters, digits, dot,
// dash and underscore become underscores.
std::string unitFileTag(const std::string& name);
