#pragma once

#include <string>
#include <vector>

#include "device/DeviceHost.h"

enum class ConnectState { Idle = 0, AwaitPrompt = 1, AwaitBlock = 2, Connected = 3 };

struct PortEntry {
    unsigned number = 0;
    std::string text;
};

// Everything the connection dialog shows.
struct ConnectScreen {
    std::vector<PortEntry> ports;  // sorted by text, as the list shows them
    unsigned selectedPort = 0;     // number of the selected entry; 0 when none is
    bool instructionVisible = true;
    bool messageVisible = false;
    bool statusVisible = false;
    bool timeoutVisible = false;
    bool progressVisible = false;
    int progress = 0;
    std::string okCaption;
    bool okEnabled = true;
    std::string messageText;
    std::string statusText;
    // Below the list: the ports that are there but do not open, one line each, with why.
    std::string unopenedText;
};

namespace ConnectText {
inline constexpr const char kCaption[] = "Reading configuration from VX310";
inline constexpr const char kPortLabel[] = "PC Comms Port:";
inline constexpr const char kInstruction[] =
    "Select the PC com port that the VX310 is connected to or press \"Demo\"";
inline constexpr const char kTimeoutLabel[] = "Timeout:";
inline constexpr const char kOk[] = "&OK";
inline constexpr const char kRetry[] = "&Retry";
inline constexpr const char kDemo[] = "&Demo";
inline constexpr const char kExit[] = "E&xit";
inline constexpr const char kOpenFailed[] =
    "The selected COM port does not exist or may be already in use by another program";
inline constexpr const char kReading[] = "Reading configuration from VX310 on COM%u";
inline constexpr const char kNotResponding[] =
    "VX310 is not responding on COM%u\n\nPlease check:\n    1. The correct PC port is "
    "selected;\n    2. The VX310 is running its\n        EXECUTIVE mode.\n";
inline constexpr const char kIncompatible[] =
    "This version of VXCONF is not compatible with your VX310\n\nPlease contact Tessaly Ltd. "
    "for an upgrade.";
inline constexpr const char kCorrupt[] =
    "Data from read from VX310 is corrupt, please check PC port configuration and retry";
inline constexpr const char kReadCaption[] = "VX310 Configuration";
}  // namespace ConnectText

// The notice of a port that does not open: the fixed text, then the device and the reason.
std::string openFailedText(SerialPortDriver& driver, unsigned n);

// The connection dialog's work: list the ports, open the chosen one, wake the prompt, ask for
// the configuration and check the reply, one timer tick at a time.
class ConnectionRead {
public:
    static constexpr int kTickMs = 100;
    static constexpr unsigned kTickLimit = 200;
    static constexpr unsigned kPromptRepeatTicks = 10;

    ConnectionRead(DeviceHost& host, DialogControl& control);

    // Lists the ports that open, preselects the remembered one and starts reading from it
    // when it is there.
    void initialise();
    void choosePort(unsigned n);
    // "&OK" / "&Retry".
    void ok();
    void demo();
    void exit();
    void tick();

    const ConnectScreen& screen() const { return m_screen; }
    ConnectState state() const { return m_state; }
    unsigned tickCount() const { return m_tickCount; }
    // The last read ended because the device did not answer in time.
    bool timedOut() const { return m_timedOut; }
    int portIndex() const { return m_portIndex; }

private:
    void resetView();
    // The port did not open: the notice with the reason, and the dialog waits for a choice.
    void openFailed(unsigned port);
    void fail(const char* text);

    DeviceHost& m_host;
    DialogControl& m_control;
    int m_portIndex;
    ConnectState m_state = ConnectState::Idle;
    unsigned m_tickCount = 0;
    bool m_timedOut = false;
    ConnectScreen m_screen;
};
