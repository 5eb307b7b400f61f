#include "QtPortDriver.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <ctime>

namespace {

constexpr int kDrainLimitMs = 2000;
// A byte on the line: start bit, 8 data bits, stop bit.
constexpr qint64 kBitsPerByte = 10;
// What Qt may hold of the incoming bytes; the rest waits in the system (a device at the other
// end of a pseudo-terminal waits to write, a real line drops it). A read takes a kilobyte a
// tick, so this is four ticks' worth: without the bound a device that never stops grows the
// program without end, and a byte at a time costs Qt a whole chunk of memory.
constexpr qint64 kReadBufferBytes = 4096;
// Longer than any tick of a device dialog: a read after so long without a read or a write
// finds only what came while nobody listened, and drops it.
constexpr qint64 kUnheardMs = 1000;

// Qt's lock file is named after the path it was given, and root passes TIOCEXCL, so one
// device under two names (a by-id link and its ttyUSB node, two links to one pseudo-terminal)
// would open twice. A lock on the open device itself holds whatever the name; a lock file
// under the device's real name, from another program, counts as well.
bool excludeOthers(QSerialPort& port, const std::string& path) {
    const int fd = static_cast<int>(port.handle());
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    return lockHolder(path, defaultLockFolders()) == 0;
}

class QtSerialChannel : public SerialChannel {
public:
    explicit QtSerialChannel(const std::string& path) : m_path(path) {
        m_port.setPortName(QString::fromLocal8Bit(path.c_str()));
        m_port.setReadBufferSize(kReadBufferBytes);
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

    enum class Opened { Yes, No, NotConfigured };

    Opened openAndConfigure() {
        if (!m_port.open(QIODevice::ReadWrite)) {
            return Opened::No;
        }
        if (!excludeOthers(m_port, m_path)) {
            m_port.close();
            return Opened::No;
        }
        const bool configured =
            m_port.setBaudRate(QSerialPort::Baud9600) && m_port.setDataBits(QSerialPort::Data8) &&
            m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(QSerialPort::OneStop) &&
            m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (!configured) {
            m_port.close();
            return Opened::NotConfigured;
        }
        m_heard.start();
        quietReads();
        return Opened::Yes;
    }

    bool write(const std::uint8_t* data, std::size_t count, int timeoutMs) override {
        if (m_hungUp || !m_port.isOpen()) {
            return false;
        }
        m_heard.start();
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
        if (m_heard.hasExpired(kUnheardMs)) {
            m_port.clear(QSerialPort::Input);
        }
        m_heard.start();
        // Qt only fills its buffer from the event loop or a wait; a zero wait takes in what
        // the kernel holds without blocking.
        m_port.waitForReadyRead(0);
        const qint64 got =
            m_port.read(reinterpret_cast<char*>(buffer), static_cast<qint64>(capacity));
        quietReads();
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
        // tcdrain could wait for ever on a pseudo-terminal nobody reads, so the queue is
        // watched with a limit instead: each wait as long as what is queued takes on the
        // line, never a spin.
        const int fd = static_cast<int>(m_port.handle());
        int queued = 0;
        while (fd >= 0 && ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 &&
               !deadline.hasExpired()) {
            const qint64 lineMs =
                std::max<qint64>(1, (qint64(queued) * kBitsPerByte * 1000) / 9600);
            const qint64 waitMs = std::min(lineMs, std::max<qint64>(1, deadline.remainingTime()));
            const timespec pause{static_cast<time_t>(waitMs / 1000),
                                 static_cast<long>((waitMs % 1000) * 1000000)};
            nanosleep(&pause, nullptr);
        }
    }

    bool hungUp() const override { return m_hungUp; }

private:
    // Qt wakes the program for every byte that arrives, a thousand times a second at 9600
    // baud, to move it into its own buffer; the dialogs' ticks read what has come anyway.
    // Qt turns its read notifier on again with every read, so it is turned off after each.
    void quietReads() {
        for (QSocketNotifier* notifier : m_port.findChildren<QSocketNotifier*>()) {
            if (notifier->type() == QSocketNotifier::Read) {
                notifier->setEnabled(false);
            }
        }
    }

    std::string m_path;
    QSerialPort m_port;
    QElapsedTimer m_heard;  // since the last read or write
    bool m_hungUp = false;
};

}  // namespace

QtPortDriver::QtPortDriver(DevicePathOf pathOf) : m_pathOf(std::move(pathOf)) {}

void QtPortDriver::failed(unsigned n, const std::string& path, bool lineSettingsRefused) {
    m_status[n] = diagnosePort(path, lineSettingsRefused);
}

PortStatus QtPortDriver::status(unsigned n) const {
    const auto it = m_status.find(n);
    return it == m_status.end() ? PortStatus{} : it->second;
}

bool QtPortDriver::probe(unsigned n) {
    const std::string path = m_pathOf(n);
    struct stat info;
    // Most numbers name nothing; settle those without touching lock files.
    const bool exists = !path.empty() && stat(path.c_str(), &info) == 0;
    if (!exists || !S_ISCHR(info.st_mode)) {
        m_status[n] = PortStatus{};
        m_status[n].fault = exists ? PortFault::NotSerial : PortFault::Missing;
        return false;
    }
    QSerialPort port;
    port.setPortName(QString::fromLocal8Bit(path.c_str()));
    if (!port.open(QIODevice::ReadWrite)) {
        failed(n, path, false);
        return false;
    }
    if (!excludeOthers(port, path)) {
        port.close();
        failed(n, path, false);
        return false;
    }
    port.close();
    m_status.erase(n);
    return true;
}

std::unique_ptr<SerialChannel> QtPortDriver::open(unsigned n) {
    const std::string path = m_pathOf(n);
    if (path.empty()) {
        m_status[n] = PortStatus{};
        m_status[n].fault = PortFault::Missing;
        return nullptr;
    }
    auto channel = std::make_unique<QtSerialChannel>(path);
    auto opened = channel->openAndConfigure();
    // A lock left by a program that was killed keeps everyone out: gone, where this user may
    // remove it, and the port is tried once more.
    if (opened == QtSerialChannel::Opened::No && removeStaleLocks(path, defaultLockFolders())) {
        channel = std::make_unique<QtSerialChannel>(path);
        opened = channel->openAndConfigure();
    }
    if (opened != QtSerialChannel::Opened::Yes) {
        failed(n, path, opened == QtSerialChannel::Opened::NotConfigured);
        return nullptr;
    }
    m_status.erase(n);
    return channel;
}

std::string QtPortDriver::deviceDetails(unsigned n) const {
    const std::string path = m_pathOf(n);
    if (path.empty()) {
        return {};
    }
    const QString canonical = QFileInfo(QString::fromLocal8Bit(path.c_str())).canonicalFilePath();
    if (canonical.isEmpty()) {
        return {};
    }
    std::string details;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        if (QFileInfo(port.systemLocation()).canonicalFilePath() != canonical) {
            continue;
        }
        for (QString part : {port.description(), port.serialNumber()}) {
            // The adapter chose these strings: nothing in them may steer a terminal.
            for (QChar& ch : part) {
                if (ch.category() == QChar::Other_Control) {
                    ch = u'?';
                }
            }
            if (!part.isEmpty()) {
                details += (details.empty() ? "" : ", ") + part.toStdString();
            }
        }
        break;
    }
    return details;
}
