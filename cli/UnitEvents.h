#pragma once

#include <string>
#include <vector>

// The exchange between a run on several units and each unit's own vxconf-cli process, a line
// at a time in each direction: a key and its values, separated by tabs ("state\tuploading\t45").
// Line breaks, tabs and backslashes inside values are escaped, so that one message is always
// one line, whatever bytes a value holds.
//
// The run writes on the unit's standard input:
//   args  ARG...         the unit's command line (raw bytes: paths need not be UTF-8)
//   input HEX            the command's file, read once by the run and checked there
//   program HEX NAME     a program to upload once the command has ended well (a job's)
//   start [planned]      nothing more before the unit begins; a plan gives it values
// then, once the unit has said its serial number, its go-ahead or refusal:
//   go    ASSIGNMENT...  go on, with the plan's values for this unit ("mode2.address=7")
//   refuse CODE TEXT     send nothing to this unit; end with CODE and say TEXT
// The unit writes its events on standard output (UnitKey), and sends nothing to its device
// between its serial number and the run's answer.
struct UnitEvent {
    std::string key;
    std::vector<std::string> values;
};
std::string encodeUnitEvent(const UnitEvent& event);
// False for a line that is no event.
bool decodeUnitEvent(const std::string& line, UnitEvent& event);

// The unit's events.
namespace UnitKey {
inline constexpr char kState[] = "state";        // state word, percent or -1
inline constexpr char kSerial[] = "serial";      // serial number and version, once read
inline constexpr char kOut[] = "out";            // a line the unit's command printed as data
inline constexpr char kSent[] = "sent";          // FIELD=VALUE... of the configuration sent
inline constexpr char kReadBack[] = "readback";  // FIELD=VALUE... of what the check read back
inline constexpr char kEnd[] = "end";            // exit code, result word, last message, planned
}  // namespace UnitKey

// The run's words to a unit.
namespace RunKey {
inline constexpr char kArgs[] = "args";
inline constexpr char kInput[] = "input";
inline constexpr char kProgram[] = "program";
inline constexpr char kStart[] = "start";
inline constexpr char kPlanned[] = "planned";
inline constexpr char kGo[] = "go";
inline constexpr char kRefuse[] = "refuse";
}  // namespace RunKey

// The run's answer to a unit's serial number.
struct GoAhead {
    bool go = true;
    bool stopped = false;  // a stop signal came while the unit waited
    int code = 0;          // the exit code of a refusal
    std::string refusal;   // its words
    std::vector<std::string> planned;
};

// Bytes as hexadecimal digits, and back; false for text that is not an even run of them.
std::string hexBytes(const std::string& bytes);
bool bytesFromHex(const std::string& hex, std::string& bytes);

// The largest line either side takes: a file of several megabytes, in hexadecimal.
inline constexpr std::size_t kMaxExchangeLine = 40u * 1024 * 1024;
