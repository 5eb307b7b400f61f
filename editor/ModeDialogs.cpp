#include "ModeDialogs.h"

#include <string_view>

#include "device/Format.h"

namespace {

constexpr std::size_t kFieldTextLimit = 63;  // the exchange reads this much of an edit

// The two %-placeholders of the range message, filled in one pass.
std::string rangeMessage(std::uint32_t max) {
    std::string text = ModeText::kOutOfRange;
    text.replace(text.find("%1"), 2, "0");
    text.replace(text.find("%2"), 2, std::to_string(max));
    return text;
}

Notice fieldNotice(const std::string& text) {
    return {text, kProgramName, NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::Warning};
}

}  // namespace

bool AskKeepChanges(Notifier& notifier) {
    return notifier.show({ModeText::kKeepChanges, kProgramName, NoticeIcon::Question,
                          NoticeButtons::YesNo}) == NoticeAnswer::Yes;
}

std::optional<std::uint32_t> readUnsignedText(const std::string& text) {
    return scanNumber(std::string_view(text).substr(0, kFieldTextLimit), NumberOverflow::Saturate);
}

std::optional<std::size_t> readUnsignedFields(const std::vector<UnsignedField>& fields,
                                              Notifier& notifier) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::optional<std::uint32_t> number = readUnsignedText(*fields[i].text);
        if (!number) {
            notifier.show(fieldNotice(ModeText::kNotANumber));
            return i;
        }
        *fields[i].value = *number;
        if (*number > fields[i].max) {
            notifier.show(fieldNotice(rangeMessage(fields[i].max)));
            return i;
        }
    }
    return std::nullopt;
}

// --- Mode 1 Configuration ---

Mode1Config::Mode1Config(ConfigBlock& block, Notifier& notifier)
    : m_block(block),
      m_notifier(notifier),
      m_driverChoice(block.byte(Offset::m1DriverAlwaysOn) != 0 ? kAlwaysEnabled : kAdeControlled) {}

bool Mode1Config::driverEnabled() const {
    return (m_block.byte(Offset::portInterfaces) & 1) != 0;
}

void Mode1Config::ok(int choice) {
    m_driverChoice = choice;
    const int stored =
        m_block.byte(Offset::m1DriverAlwaysOn) != 0 ? kAlwaysEnabled : kAdeControlled;
    if (m_driverChoice != stored && AskKeepChanges(m_notifier)) {
        m_block.setByte(Offset::m1DriverAlwaysOn, m_driverChoice == kAlwaysEnabled ? 1 : 0);
    }
}

// --- Mode 1 ADE Timing ---

Mode1Timing::Mode1Timing(ConfigBlock& block, Notifier& notifier)
    : m_block(block), m_notifier(notifier) {
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        m_turnOffDelay[i] = block.byte(Offset::m1TurnOffDelay + i);
    }
    showValues();
}

void Mode1Timing::showValues() {
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        m_screen.rows[i] = std::to_string(m_turnOffDelay[i]);
    }
}

void Mode1Timing::setDefaults() {
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        m_turnOffDelay[i] = kDefaultTurnOffDelays[i];
    }
    showValues();
    m_screen.focus = {};
}

bool Mode1Timing::ok() {
    std::vector<UnsignedField> fields;
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        fields.push_back({&m_screen.rows[i], 255, &m_turnOffDelay[i]});
    }
    m_screen.focus = {};
    if (const auto failed = readUnsignedFields(fields, m_notifier)) {
        m_screen.focus.controlId = kRowIds[*failed];
        return false;
    }
    bool changed = false;
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        changed = changed || m_turnOffDelay[i] != m_block.byte(Offset::m1TurnOffDelay + i);
    }
    if (changed && AskKeepChanges(m_notifier)) {
        for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
            m_block.setByte(Offset::m1TurnOffDelay + i, m_turnOffDelay[i]);
        }
    }
    return true;
}

// --- Mode 2 Configuration ---

Mode2Config::Mode2Config(ConfigBlock& block, Notifier& notifier)
    : m_block(block),
      m_notifier(notifier),
      m_leadIn(block.byte(Offset::m2LeadIn)),
      m_timeout(block.m2Timeout()),
      m_address(block.byte(Offset::m2Address)),
      // A lead-in byte is configured exactly when it is not 0; the box says so from the start.
      m_leadInEnabled(block.byte(Offset::m2LeadIn) != 0) {
    showValues();
    m_screen.leadInEditEnabled = true;  // enabled at opening, whatever the box shows
    m_taken = m_screen;
}

void Mode2Config::takeControls(const std::string& address, const std::string& leadIn,
                               const std::string& timeout, bool leadInChecked) {
    m_taken.address = address;
    m_taken.leadIn = leadIn;
    m_taken.timeout = timeout;
    m_taken.leadInChecked = leadInChecked;
}

namespace {

// The edits of the Mode 2 exchange, in the order it reads them.
constexpr std::array<int, 3> kMode2FieldIds{Mode2Config::kLeadInId, Mode2Config::kTimeoutId,
                                            Mode2Config::kAddressId};
constexpr std::array<std::string Mode2Screen::*, 3> kMode2FieldTexts{
    &Mode2Screen::leadIn, &Mode2Screen::timeout, &Mode2Screen::address};

}  // namespace

std::optional<std::size_t> Mode2Config::exchange() {
    m_screen.focus = {};
    const std::vector<UnsignedField> fields{{&m_taken.leadIn, 255, &m_leadIn},
                                            {&m_taken.timeout, 65535, &m_timeout},
                                            {&m_taken.address, 255, &m_address}};
    if (const auto failed = readUnsignedFields(fields, m_notifier)) {
        m_screen.focus.controlId = kMode2FieldIds[*failed];
        return failed;
    }
    m_leadInEnabled = m_taken.leadInChecked;
    return std::nullopt;
}

void Mode2Config::showValues() {
    m_screen.leadIn = std::to_string(m_leadIn);
    m_screen.timeout = std::to_string(m_timeout);
    m_screen.address = std::to_string(m_address);
    m_screen.leadInChecked = m_leadInEnabled;
}

void Mode2Config::keepTyped(std::size_t failed) {
    for (std::size_t i = failed; i < kMode2FieldTexts.size(); ++i) {
        m_screen.*kMode2FieldTexts[i] = m_taken.*kMode2FieldTexts[i];
    }
    // The failing field takes the focus, which a greyed field cannot.
    if (kMode2FieldIds[failed] == kLeadInId) {
        m_screen.leadInEditEnabled = true;
    }
}

void Mode2Config::leadInClicked() {
    // A failing field has shown its message; the reaction goes on with what was taken.
    const auto failed = exchange();
    if (!m_leadInEnabled) {
        m_leadIn = 0;
    } else if (m_leadIn == 0) {
        m_leadIn = kLeadInWhenTicked;
    }
    m_screen.leadInEditEnabled = m_leadInEnabled;
    showValues();
    if (failed) {
        keepTyped(*failed);
    }
    m_taken = m_screen;
}

void Mode2Config::leadInLeft() {
    const auto failed = exchange();
    m_leadInEnabled = m_leadIn != 0;
    m_screen.leadInEditEnabled = m_leadInEnabled;
    showValues();
    if (failed) {
        keepTyped(*failed);
    }
    m_taken = m_screen;
}

bool Mode2Config::ok() {
    if (exchange().has_value()) {
        // A field failed. Nothing is written back: every control keeps what the user left
        // in it.
        keepTyped(0);
        m_screen.leadInChecked = m_taken.leadInChecked;
        return false;
    }
    const bool changed = m_address != m_block.byte(Offset::m2Address) ||
                         m_leadIn != m_block.byte(Offset::m2LeadIn) ||
                         m_timeout != m_block.m2Timeout();
    if (changed && AskKeepChanges(m_notifier)) {
        m_block.setByte(Offset::m2Address, m_address);
        m_block.setByte(Offset::m2LeadIn, m_leadIn);
        m_block.setWord(Offset::m2Timeout, m_timeout);
    }
    return true;
}
