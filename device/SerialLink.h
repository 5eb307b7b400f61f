#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "device/LinkTrace.h"
#include "platform/Notice.h"
#include "platform/SerialPort.h"

// The program's one serial port to the VX310: fixed line settings, synchronous writes with
// a time-out, reads that never wait. The device dialogs look at rxBuffer themselves.
class SerialLink {
public:
    static constexpr std::size_t kBufferSize = 1024;
    static constexpr int kWriteTimeoutPerByteMs = 100;
    static constexpr int kWriteTimeoutConstantMs = 10;

    SerialLink(SerialPortDriver& driver, Notifier& notifier);
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    bool probe(unsigned n);
    bool open(unsigned n);
    void close();
    bool write(const void* data, std::size_t count);
    bool writeString(const char* text);
    bool writeTx(std::size_t count);
    void poll();
    void purge();
    void reportWriteFailure();

    unsigned portNumber() const { return m_portNumber; }
    bool isOpen() const { return m_isOpen; }
    // The open port's device has gone away; the next open tries it afresh.
    bool hungUp() const { return m_channel && m_channel->hungUp(); }
    SerialPortDriver& driver() { return m_driver; }
    // Every byte in both directions, and each open and close, go to trace; nullptr for none.
    void setTrace(LinkTrace* trace) { m_trace = trace; }

    // Whether the last received byte is the device's '>' prompt.
    bool promptReceived() const;
    std::string_view received() const;

    std::size_t rxCount = 0;
    // One spare byte beyond the buffer for the terminator that reply-line extraction writes.
    std::array<std::uint8_t, kBufferSize + 1> rxBuffer{};
    std::array<char, kBufferSize> txBuffer{};

private:
    SerialPortDriver& m_driver;
    Notifier& m_notifier;
    std::unique_ptr<SerialChannel> m_channel;
    unsigned m_portNumber = 0;
    bool m_isOpen = false;
    LinkTrace* m_trace = nullptr;
};

inline constexpr const char kWriteFailureText[] = "Failed to write to COM port";
inline constexpr const char kWriteFailureCaption[] = "VX310 Config";
