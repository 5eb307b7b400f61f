#pragma once

#include <functional>
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

private:
    DevicePathOf m_pathOf;
};
