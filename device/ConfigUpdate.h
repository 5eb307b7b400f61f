#pragma once

#include "device/DeviceHost.h"

namespace UpdateText {
inline constexpr const char kCaption[] = "VX310 Configuration";
inline constexpr const char kMessage[] = "Updating VX310 Configuration\n\nPlease wait....";
}  // namespace UpdateText

// The update dialog's work: send the store command and the configuration text already in
// the link's txBuffer on the first tick, then close half a second later. It never looks at
// the device's answer; the read that follows shows what the device holds.
class ConfigUpdate {
public:
    enum State { NotSent = 0, Sent = 1 };
    static constexpr int kFirstTickMs = 100;
    static constexpr int kCloseDelayMs = 500;

    ConfigUpdate(DeviceHost& host, DialogControl& control);

    void start();
    void tick();

    int state() const { return m_state; }

private:
    DeviceHost& m_host;
    DialogControl& m_control;
    int m_state = NotSent;
};
