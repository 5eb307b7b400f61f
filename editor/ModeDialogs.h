#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/ConfigBlock.h"
#include "platform/Notice.h"

// The rules of the three mode dialogs (Mode 1 Configuration, Mode 1 ADE Timing, Mode 2
// Configuration), without widgets. Each works straight on the main window's block; the
// widgets hand over what the controls hold and show the screen back.

namespace ModeText {
inline constexpr const char kKeepChanges[] =
    "Mode configuration changes have been made, do you want to keep them?";
inline constexpr const char kNotANumber[] = "Please enter a positive integer.";
inline constexpr const char kOutOfRange[] = "Please enter an integer between %1 and %2.";

inline constexpr const char kMode1Caption[] = "Mode 1 Configuration";
inline constexpr const char kDriverGroup[] = "Port 1 RS422/485 driver (firmware 1.03+ only)";
inline constexpr const char kAlwaysEnabled[] = "Always Enabled (RS422)";
inline constexpr const char kAdeControlled[] = "ADE Controlled (RS485)";
inline constexpr const char kTimingButton[] = "ADE &Timing";

inline constexpr const char kTimingCaption[] = "Mode 1 ADE Timing";
inline constexpr const char kTimingGroup[] = "Driver Turn-off Delay";
inline constexpr const char kSetDefaults[] = "Set &Defaults";
inline constexpr std::array<const char*, kTurnOffDelayCount> kTimingRows{
    "9600 baud", "19200 baud", "38400 baud", "57600 baud", "115200 baud"};

inline constexpr const char kMode2Caption[] = "Mode 2 Configuration";
inline constexpr const char kRs485Group[] = "RS485 Options";
inline constexpr const char kAddress[] = "Address";
inline constexpr const char kLeadIn[] = "Lead-in Byte";
inline constexpr const char kTimeout[] = "Timeout period";
inline constexpr const char kMs[] = "ms";

inline constexpr const char kOk[] = "&OK";
inline constexpr const char kCancel[] = "&Cancel";
inline constexpr const char kHelp[] = "&Help";
}  // namespace ModeText

// Help topics of the dialogs' Help buttons.
inline constexpr std::uint32_t kMode1HelpContext = 0x20065;
inline constexpr std::uint32_t kMode2HelpContext = 0x2006C;

// "Mode configuration changes have been made, do you want to keep them?": true for Yes.
bool AskKeepChanges(Notifier& notifier);

// How an edit field's text reads as an unsigned number: leading blanks, an optional sign
// and the digits after it, whatever follows ignored; a minus sign wraps modulo 2^32, while a
// number too large for 32 bits reads as 4294967295, out of every field's range. Nothing
// when the text does not start with a number. Only the first 63 characters count.
std::optional<std::uint32_t> readUnsignedText(const std::string& text);

// One edit field of a dialog's exchange: its text, the range 0..max it must hold, and the
// value it is read into.
struct UnsignedField {
    const std::string* text;
    std::uint32_t max;
    std::uint32_t* value;
};

// Reads the fields in order. At the first one that fails, shows its message (the program's
// name as caption) and returns its index; a field out of range keeps the number it read, a
// field that is no number and every field after the failing one keep their values.
std::optional<std::size_t> readUnsignedFields(const std::vector<UnsignedField>& fields,
                                              Notifier& notifier);

// Where a dialog puts the focus after a failed exchange: that field, its text selected.
struct FieldFocus {
    int controlId = 0;  // 0: no change
};

// Mode 1 Configuration: the Port 1 driver choice.
class Mode1Config {
public:
    static constexpr int kAlwaysEnabled = 0;
    static constexpr int kAdeControlled = 1;

    Mode1Config(ConfigBlock& block, Notifier& notifier);

    int driverChoice() const { return m_driverChoice; }
    // The group and its radio buttons: only for an RS422/485 Port 1.
    bool driverEnabled() const;
    // OK, with the radio buttons' choice. Asks only when the choice changed.
    void ok(int choice);

private:
    ConfigBlock& m_block;
    Notifier& m_notifier;
    int m_driverChoice;
};

// What the ADE Timing dialog shows.
struct TimingScreen {
    std::array<std::string, kTurnOffDelayCount> rows;
    FieldFocus focus;
};

// Mode 1 ADE Timing: the five driver turn-off delays.
class Mode1Timing {
public:
    static constexpr std::array<int, kTurnOffDelayCount> kRowIds{1050, 1051, 1052, 1053, 1054};

    Mode1Timing(ConfigBlock& block, Notifier& notifier);

    const TimingScreen& screen() const { return m_screen; }
    // The edits' texts, as the user left them.
    void takeRows(const std::array<std::string, kTurnOffDelayCount>& rows) { m_screen.rows = rows; }
    void setDefaults();
    // OK: true when the dialog closes (values stored or kept); false when a row failed.
    bool ok();

private:
    void showValues();

    ConfigBlock& m_block;
    Notifier& m_notifier;
    std::array<std::uint32_t, kTurnOffDelayCount> m_turnOffDelay{};
    TimingScreen m_screen;
};

// What the Mode 2 dialog shows.
struct Mode2Screen {
    std::string address;
    std::string leadIn;
    std::string timeout;
    bool leadInChecked = false;
    bool leadInEditEnabled = true;
    FieldFocus focus;
};

// Mode 2 Configuration: RS485 address, lead-in byte and time-out.
class Mode2Config {
public:
    static constexpr int kAddressId = 1065;
    static constexpr int kLeadInCheckId = 1064;
    static constexpr int kLeadInId = 1067;
    static constexpr int kTimeoutId = 1068;
    static constexpr std::uint32_t kLeadInWhenTicked = 100;

    Mode2Config(ConfigBlock& block, Notifier& notifier);

    const Mode2Screen& screen() const { return m_screen; }
    // The controls' state, as the user left it.
    void takeControls(const std::string& address, const std::string& leadIn,
                      const std::string& timeout, bool leadInChecked);
    // A click on "Lead-in Byte" (the box already shows its new state).
    void leadInClicked();
    // The lead-in field lost the focus.
    void leadInLeft();
    // OK: true when the dialog closes; false when a field failed, which then has the focus
    // while every control keeps what the user left in it.
    bool ok();

private:
    // The controls into the fields; the index of the field that failed, in exchange order.
    std::optional<std::size_t> exchange();
    void showValues();
    // After a failed exchange: the failing field and the ones not read after it show what
    // the user typed, so no typing is lost to a message.
    void keepTyped(std::size_t failed);

    ConfigBlock& m_block;
    Notifier& m_notifier;
    std::uint32_t m_leadIn;
    std::uint32_t m_timeout;
    std::uint32_t m_address;
    bool m_leadInEnabled;
    Mode2Screen m_screen;
    Mode2Screen m_taken;  // what the controls held at the last take
};
