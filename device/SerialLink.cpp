#include "SerialLink.h"

#include <cstring>
#include <string_view>

#include "device/Format.h"

SerialLink::SerialLink(SerialPortDriver& driver, Notifier& notifier)
    : m_driver(driver), m_notifier(notifier) {}

SerialLink::~SerialLink() {
    close();
}

bool SerialLink::probe(unsigned n) {
    return m_driver.probe(n);
}

bool SerialLink::open(unsigned n) {
    close();
    m_channel = m_driver.open(n);
    if (m_trace) {
        m_trace->event(formatNumber(m_channel ? "open COM%u" : "open COM%u failed", n) + " (" +
                       m_driver.deviceName(n) + ")");
    }
    if (!m_channel) {
        return false;
    }
    m_portNumber = n;
    m_isOpen = true;
    return true;
}

void SerialLink::close() {
    if (!m_isOpen) {
        return;
    }
    if (m_trace) {
        m_trace->event(formatNumber("close COM%u", m_portNumber));
    }
    m_isOpen = false;
    m_portNumber = 0;
    m_channel.reset();
}

bool SerialLink::write(const void* data, std::size_t count) {
    if (!m_isOpen) {
        return false;
    }
    const long timeout =
        kWriteTimeoutPerByteMs * static_cast<long>(count) + kWriteTimeoutConstantMs;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const bool ok = m_channel->write(bytes, count, static_cast<int>(timeout));
    if (m_trace) {
        m_trace->sent(bytes, count, ok);
    }
    return ok;
}

bool SerialLink::writeString(const char* text) {
    return write(text, std::strlen(text));
}

bool SerialLink::writeTx(std::size_t count) {
    if (count > txBuffer.size()) {
        return false;
    }
    return write(txBuffer.data(), count);
}

void SerialLink::poll() {
    if (!m_isOpen || rxCount >= kBufferSize) {
        return;
    }
    const long got = m_channel->read(rxBuffer.data() + rxCount, kBufferSize - rxCount);
    if (got > 0) {
        if (m_trace) {
            m_trace->received(rxBuffer.data() + rxCount, static_cast<std::size_t>(got));
        }
        rxCount += static_cast<std::size_t>(got);
    }
}

void SerialLink::purge() {
    if (m_isOpen) {
        m_channel->drain();
    }
    poll();
    rxCount = 0;
}

void SerialLink::reportWriteFailure() {
    m_notifier.show({kWriteFailureText, kWriteFailureCaption, NoticeIcon::Exclamation,
                     NoticeButtons::Ok, NoticeKind::DeviceError});
}

bool SerialLink::promptReceived() const {
    return rxCount > 0 && rxBuffer[rxCount - 1] == '>';
}

std::string_view SerialLink::received() const {
    return {reinterpret_cast<const char*>(rxBuffer.data()), rxCount};
}
