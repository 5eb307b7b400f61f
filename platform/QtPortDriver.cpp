#include "QtPortDriver.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QSerialPort>
#include <algorithm>

namespace {

constexpr int kDrainLimitMs = 2000;

class QtSerialChannel : public SerialChannel {
public:
    explicit QtSerialChannel(const QString& path) {
        m_port.setPortName(path);
        // A port whose device has gone reports a read error each time its notifier fires,
        // and the notifier fires without end: close it, once control is back in the loop.
        QObject::connect(
            &m_port, &QSerialPort::errorOccurred, &m_port,
            [this](QSerialPort::SerialPortError error) {
                if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError) {
                    return;
                }
                m_hungUp = true;
                QMetaObject::invokeMethod(
                    &m_port, [this] { m_port.close(); }, Qt::QueuedConnection);
            });
    }

    bool openAndConfigure() {
        if (!m_port.open(QIODevice::ReadWrite)) {
            return false;
        }
        const bool configured =
            m_port.setBaudRate(QSerialPort::Baud9600) && m_port.setDataBits(QSerialPort::Data8) &&
            m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(QSerialPort::OneStop) &&
            m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (!configured) {
            m_port.close();
        }
        return configured;
    }

    bool write(const std::uint8_t* data, std::size_t count, int timeoutMs) override {
        if (m_hungUp || !m_port.isOpen()) {
            return false;
        }
        const QDeadlineTimer deadline(timeoutMs);
        const qint64 queued =
            m_port.write(reinterpret_cast<const char*>(data), static_cast<qint64>(count));
        if (queued != static_cast<qint64>(count)) {
            m_port.clear(QSerialPort::Output);
            return false;
        }
        // Qt hands the kernel one chunk per wait.
        while (m_port.bytesToWrite() > 0) {
            const qint64 remaining = deadline.remainingTime();
            if (remaining <= 0 || !m_port.waitForBytesWritten(static_cast<int>(remaining))) {
                if (m_port.bytesToWrite() == 0) {
                    break;
                }
                // What did not go out in time must not trickle out later.
                m_port.clear(QSerialPort::Output);
                return false;
            }
        }
        return true;
    }

    long read(std::uint8_t* buffer, std::size_t capacity) override {
        if (m_hungUp || !m_port.isOpen()) {
            return -1;
        }
        // Qt only fills its buffer from the event loop or a wait; a zero wait takes in what
        // the kernel holds without blocking.
        m_port.waitForReadyRead(0);
        const qint64 got =
            m_port.read(reinterpret_cast<char*>(buffer), static_cast<qint64>(capacity));
        return got < 0 ? -1 : static_cast<long>(got);
    }

    void drain() override {
        if (m_hungUp || !m_port.isOpen()) {
            return;
        }
        const QDeadlineTimer deadline(kDrainLimitMs);
        while (m_port.bytesToWrite() > 0 && !deadline.hasExpired()) {
            m_port.waitForBytesWritten(
                static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
        // tcdrain could wait for ever on a pseudo-terminal nobody reads, so watch the queue
        // with a limit instead.
        const int fd = static_cast<int>(m_port.handle());
        int queued = 0;
        while (fd >= 0 && ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 &&
               !deadline.hasExpired()) {
            usleep(500);
        }
    }

    bool hungUp() const override { return m_hungUp; }

private:
    QSerialPort m_port;
    bool m_hungUp = false;
};

}  // namespace

QtPortDriver::QtPortDriver(DevicePathOf pathOf) : m_pathOf(std::move(pathOf)) {}

bool QtPortDriver::probe(unsigned n) {
    const std::string path = m_pathOf(n);
    struct stat info;
    // Most numbers name nothing; settle those without touching lock files.
    if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return false;
    }
    QSerialPort port;
    port.setPortName(QString::fromLocal8Bit(path.c_str()));
    if (!port.open(QIODevice::ReadWrite)) {
        return false;
    }
    port.close();
    return true;
}

std::unique_ptr<SerialChannel> QtPortDriver::open(unsigned n) {
    const std::string path = m_pathOf(n);
    if (path.empty()) {
        return nullptr;
    }
    auto channel = std::make_unique<QtSerialChannel>(QString::fromLocal8Bit(path.c_str()));
    if (!channel->openAndConfigure()) {
        return nullptr;
    }
    return channel;
}
