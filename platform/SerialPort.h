#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/PortDiagnosis.h"

// The small port layer under SerialLink: real serial ports in the program, the simulated
// VX310 in tests.

// One open port, already set to 9600 baud, 8N1, no flow control.
class SerialChannel {
public:
    virtual ~SerialChannel() = default;
    // Writes every byte or reports failure; gives up after timeoutMs.
    virtual bool write(const std::uint8_t* data, std::size_t count, int timeoutMs) = 0;
    // Reads what has already arrived, at most capacity bytes, without waiting.
    // Returns the number read, or -1 when the read failed.
    virtual long read(std::uint8_t* buffer, std::size_t capacity) = 0;
    // Returns once everything written has left the port.
    virtual void drain() = 0;
    // True once the device has gone away (the adapter was pulled, the other end of a
    // pseudo-terminal closed); reads and writes then fail at once, and only a new open helps.
    virtual bool hungUp() const { return false; }
};

class SerialPortDriver {
public:
    virtual ~SerialPortDriver() = default;
    // True when port number n exists and nobody holds it; leaves it closed.
    virtual bool probe(unsigned n) = 0;
    // Opens port n exclusively and configures it; nullptr when that fails.
    virtual std::unique_ptr<SerialChannel> open(unsigned n) = 0;
    // The device behind port n as the user should see it beside "COMn" (a device path on
    // Linux); empty when there is nothing to add.
    virtual std::string deviceName(unsigned n) const = 0;
    // What else is known of the device behind port n (a USB adapter's description and
    // serial number), comma-separated; empty when nothing is.
    virtual std::string deviceDetails(unsigned /*n*/) const { return {}; }
    // Why the last probe or open of port n failed.
    virtual PortStatus status(unsigned /*n*/) const { return {}; }
};

// Port numbers run from COM1 to COM255.
constexpr unsigned kFirstPort = 1;
constexpr unsigned kLastPort = 255;
