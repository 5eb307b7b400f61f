#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/SerialPort.h"

// Real serial ports through QSerialPort. Which device stands for a port number is the
// caller's rule: an empty path means the number names no device.
class QtPortDriver : public SerialPortDriver {
public:
    using DevicePathOf = std::function<std::string(unsigned)>;

    explicit QtPortDriver(DevicePathOf pathOf);

    bool probe(unsigned n) override;
    std::unique_ptr<SerialChannel> open(unsigned n) override;
    std::string deviceName(unsigned n) const override { return m_pathOf(n); }
    std::string deviceDetails(unsigned n) const override;
    PortStatus status(unsigned n) const override;

private:
    void failed(unsigned n, const std::string& path, bool lineSettingsRefused);

    DevicePathOf m_pathOf;
    std::map<unsigned, PortStatus> m_status;
};
