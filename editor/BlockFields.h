#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "device/ConfigBlock.h"

// The configuration block field by field, in the words the windows use for each field: what
// the command-line program prints and sets, and what the check after a write reports.

enum class FieldKind {
    List,    // one of the entries of a main window list
    Xon,     // one half of a port's Xon/Xoff byte: "disabled" or "enabled"
    Driver,  // the Mode 1 driver choice
    Byte,    // a number 0..255
    Word,    // a number 0..65535
};

struct BlockField {
    const char* name;   // as command lines and JSON name it: "port2.parity"
    const char* label;  // as a person reads it: "Port 2 Parity"
    std::size_t offset;
    FieldKind kind;
    int list;      // FormList of a List field
    int bias;      // a List field's code is its entry index plus this
    unsigned bit;  // an Xon field's bit: 0 for RX, 1 for TX
};

// Every field the program sets, in the order the windows show them.
const std::vector<BlockField>& blockFields();
// By name, in any case.
const BlockField* findField(std::string_view name);
// The device's own fields, which --json shows but nothing sets.
bool isDeviceField(std::string_view name);

// The field's value in words: a list entry, a driver choice or a number. A code that no
// entry stands for reads "code N".
std::string fieldText(const ConfigBlock& block, const BlockField& field);
// The value as JSON: a string, a number, or null for a code no entry stands for.
std::string fieldJson(const ConfigBlock& block, const BlockField& field);

// Sets the field from its words (list entries and driver choices in any case, numbers in
// decimal). False, with the reason in error, when the value is not one of the field's.
bool setField(ConfigBlock& block, const BlockField& field, std::string_view value,
              std::string& error);
// A set command's FIELD=VALUE pairs, checked against the field table before anything is
// sent. False with the reason in error.
struct FieldAssignment {
    const BlockField* field;
    std::string value;
};
bool parseAssignments(const std::vector<std::string>& texts, std::vector<FieldAssignment>& out,
                      std::string& error);
// The assignments on a block already checked by parseAssignments; false with the reason for
// one the block refuses (a driver choice on an RS232 port).
bool applyAssignments(ConfigBlock& block, const std::vector<FieldAssignment>& assignments,
                      std::string& error);

// The values a field takes, for messages: "none, even, odd" or "0 to 255".
std::string fieldValues(const BlockField& field);

inline constexpr const char kNotStoredHeading[] =
    "The VX310 did not store the configuration as sent:";

// Every byte the program sends and the device should keep, compared: one line for each field
// that differs ("Port 2 Parity: sent even, the VX310 holds none"), and one for each other
// byte. The device's own fields and the checksum are left out.
std::vector<std::string> storedDifferences(const ConfigBlock& sent, const ConfigBlock& held);
// The heading and the lines, one to a line.
std::string notStoredText(const std::vector<std::string>& differences);
// "Port 2 Parity: none -> even" for each field the load or update would change.
std::vector<std::string> plannedChanges(const ConfigBlock& current, const ConfigBlock& next);

// The device's own fields in words, as the main window's labels show them.
std::string productText(const ConfigBlock& block);
std::string versionText(const ConfigBlock& block);
// "RS232" or "RS422/485" for port 1 or 2.
std::string interfaceText(const ConfigBlock& block, int port);

// Everything read from a device: labelled lines, and one JSON object.
std::string blockReport(const ConfigBlock& block, bool validProgram);
std::string blockJson(const ConfigBlock& block, bool validProgram);
// A JSON string literal.
std::string jsonString(std::string_view text);
