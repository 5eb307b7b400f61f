#include "PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

// Output is taken from the device only as fast as the client reads it, so the device's own
// bound on queued output holds.
constexpr std::size_t kMaxPendingOut = 4096;

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

PtyServer::PtyServer(Vx310Sim& device) : m_device(device), m_startNs(steadyNs()) {}

PtyServer::~PtyServer() {
    closeFd(m_slaveKeeper);
    closeFd(m_master);
    if (!m_linkPath.empty()) {
        // Only our own link: another server may have taken the name over since.
        char target[4096];
        const ssize_t length = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
        if (length >= 0 && std::string(target, static_cast<std::size_t>(length)) == m_devicePath) {
            ::unlink(m_linkPath.c_str());
        }
    }
}

bool PtyServer::start(const std::string& linkPath, std::string& error) {
    if (m_master >= 0) {
        error = "the pseudo-terminal is already open";
        return false;
    }
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    const char* name = nullptr;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        (name = ::ptsname(m_master)) == nullptr) {
        error = systemError("preparing the pseudo-terminal");
        closeFd(m_master);
        return false;
    }
    m_devicePath = name;
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_slaveKeeper = ::open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (m_slaveKeeper < 0 || ::tcgetattr(m_slaveKeeper, &tio) != 0) {
        error = systemError("opening " + m_devicePath);
        closeFd(m_slaveKeeper);
        closeFd(m_master);
        return false;
    }
    // Raw, so that the terminal layer neither echoes nor turns CR into LF.
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(m_slaveKeeper, TCSANOW, &tio) != 0) {
        error = systemError("setting " + m_devicePath + " to raw mode");
        closeFd(m_slaveKeeper);
        closeFd(m_master);
        return false;
    }

    if (!linkPath.empty()) {
        struct stat st {};
        if (::lstat(linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = linkPath + " exists and is not a symbolic link; not replacing it";
                closeFd(m_slaveKeeper);
                closeFd(m_master);
                return false;
            }
            ::unlink(linkPath.c_str());
        }
        if (::symlink(m_devicePath.c_str(), linkPath.c_str()) != 0) {
            error = systemError("linking " + linkPath + " to " + m_devicePath);
            closeFd(m_slaveKeeper);
            closeFd(m_master);
            return false;
        }
        m_linkPath = linkPath;
    }
    m_startNs = steadyNs();
    return true;
}

std::uint64_t PtyServer::nowUs() const {
    return static_cast<std::uint64_t>((steadyNs() - m_startNs) / 1000);
}

void PtyServer::serveFor(int maxWaitMs) {
    if (m_master < 0) {
        return;
    }
    int waitMs = std::max(maxWaitMs, 0);
    const std::uint64_t next = m_device.nextEventUs();
    // With the client not reading, output stays due; waiting on it would spin.
    if (next != Vx310Sim::kNever && m_pendingOut.size() < kMaxPendingOut) {
        const std::uint64_t now = nowUs();
        const std::uint64_t untilNextMs = next <= now ? 0 : (next - now + 999) / 1000;
        waitMs = static_cast<int>(std::min<std::uint64_t>(untilNextMs, waitMs));
    }
    pollfd pfd{m_master, static_cast<short>(POLLIN | (m_pendingOut.empty() ? 0 : POLLOUT)), 0};
    ::poll(&pfd, 1, waitMs);  // EINTR just ends the wait early

    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got <= 0) {
            break;  // EAGAIN: all read; nothing else is expected with the slave kept open
        }
        m_device.hostWrite(buffer, static_cast<std::size_t>(got), nowUs());
    }

    const std::uint64_t now = nowUs();
    m_device.advanceTo(now);
    while (m_pendingOut.size() < kMaxPendingOut) {
        const std::size_t got =
            m_device.hostRead(now, buffer, std::min(sizeof buffer, kMaxPendingOut));
        if (got == 0) {
            break;
        }
        m_pendingOut.append(reinterpret_cast<const char*>(buffer), got);
    }
    while (!m_pendingOut.empty()) {
        const ssize_t put = ::write(m_master, m_pendingOut.data(), m_pendingOut.size());
        if (put <= 0) {
            break;  // the client is not reading; the rest waits for the next round
        }
        m_pendingOut.erase(0, static_cast<std::size_t>(put));
    }
}

void PtyServer::run(const volatile std::sig_atomic_t& stop) {
    while (!stop) {
        serveFor(50);
    }
}
