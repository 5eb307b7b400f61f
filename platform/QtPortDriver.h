#pragma once

#include "device/PortNames.h"
#include "platform/SerialPort.h"

// Real serial ports through QSerialPort, named by the port-number rule.
class QtPortDriver : public SerialPortDriver {
public:
    explicit QtPortDriver(PortNames names = {});

    PortNames& names() { return m_names; }

    bool probe(unsigned n) override;
    std::unique_ptr<SerialChannel> open(unsigned n) override;
    std::string deviceName(unsigned n) const override { return m_names.devicePath(n); }

private:
    PortNames m_names;
};
