#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "platform/SerialPort.h"

class ProfileFile;

// Which device path stands for port number COMn on Linux. A built-in rule covers the usual
// device families; the settings file's "Ports" section can override or add numbers.
class PortNames {
public:
    // The built-in rule: "" for numbers it leaves free.
    static std::string builtInPath(unsigned n);

    // Reads keys COM1..COM255 of section "Ports". An empty value takes the number away.
    void loadOverrides(const ProfileFile& settings);
    void setOverride(unsigned n, const std::string& path);

    // "" when the number stands for no device.
    std::string devicePath(unsigned n) const;
    // devicePath over a copy of these names, for a port driver.
    std::function<std::string(unsigned)> resolver() const {
        return [names = *this](unsigned n) { return names.devicePath(n); };
    }

private:
    std::array<std::optional<std::string>, kLastPort + 1> m_overrides{};
};

// The connection dialog's list entry: "COMn", followed by the device in parentheses when
// there is one to name.
std::string portEntryText(unsigned n, const std::string& deviceName);

// The path a device given by path is opened and locked by: its real path, with every link
// followed, so that one device has one lock whatever it was called, and a relative path is
// taken from the current folder as every program takes it. A path that does not resolve
// stays as it is, made absolute, so that the reason it does not open names it.
std::string canonicalDevicePath(const std::string& path);
