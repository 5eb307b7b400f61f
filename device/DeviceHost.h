#pragma once

#include "device/ConfigBlock.h"
#include "device/SerialLink.h"
#include "platform/Notice.h"

// What the device operations need of the main window that runs them.
class DeviceHost {
public:
    virtual ~DeviceHost() = default;
    virtual SerialLink& link() = 0;
    virtual ConfigBlock& block() = 0;
    virtual bool& validProgram() = 0;
    // The selected PC port; 0 for none, which is also demonstration mode.
    virtual int pcPort() const = 0;
    virtual void selectPort(int port, bool reconnect) = 0;
    virtual Notifier& notifier() = 0;
};

// What a device dialog does for the state machine behind it. The machine calls these
// synchronously, so a stopped timer is stopped before any notice appears.
class DialogControl {
public:
    virtual ~DialogControl() = default;
    virtual void startTimer(int periodMs) = 0;
    virtual void stopTimer() = 0;
    // Ends the dialog's modal run with this result.
    virtual void finish(int result) = 0;
    // Brings the window up to date with the machine's texts and states.
    virtual void refresh() = 0;
};
