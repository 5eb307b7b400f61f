#include "UnitLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "cli/ExitStatus.h"

namespace {

// What the launcher tells the run.
struct Report {
    std::int32_t kind;  // kStarted or kEnded
    std::int32_t pid;
    std::int32_t value;  // kStarted: 0 or errno; kEnded: the wait status
};
constexpr std::int32_t kStarted = 1;
constexpr std::int32_t kEnded = 2;

int g_childPipe[2] = {-1, -1};

extern "C" void onChildEnded(int) {
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(g_childPipe[1], &byte, 1);
    errno = saved;
}

void sendReport(int socket, std::int32_t kind, std::int32_t pid, std::int32_t value) {
    const Report report{kind, pid, value};
    while (::send(socket, &report, sizeof report, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

// Receives one request: the three descriptors a unit is to have. 0: the run has gone.
int receiveDescriptors(int socket, int fds[3]) {
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(3 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    if (got <= 0) {
        return static_cast<int>(got);
    }
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header == nullptr || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(3 * sizeof(int))) {
        return -1;
    }
    std::memcpy(fds, CMSG_DATA(header), 3 * sizeof(int));
    return 1;
}

}  // namespace

UnitLauncher::Role UnitLauncher::start() {
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        return Role::Failed;
    }
    const pid_t run = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(sockets[0]);
        ::close(sockets[1]);
        return Role::Failed;
    }
    if (pid == 0) {
        ::close(sockets[0]);
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != run) {
            ::_exit(0);
        }
        serve(sockets[1]);
        return Role::Unit;  // serve() returns only in a unit
    }
    ::close(sockets[1]);
    m_socket = sockets[0];
    m_launcher = pid;
    return Role::Run;
}

void UnitLauncher::serve(int socket) {
    if (::pipe2(g_childPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::_exit(1);
    }
    struct sigaction action {};
    action.sa_handler = onChildEnded;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    ::sigaction(SIGCHLD, &action, nullptr);
    const pid_t launcher = ::getpid();
    while (true) {
        pollfd fds[2] = {{socket, POLLIN, 0}, {g_childPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            continue;  // EINTR: a unit ended
        }
        if ((fds[1].revents & POLLIN) != 0) {
            char drained[64];
            while (::read(g_childPipe[0], drained, sizeof drained) > 0) {
            }
            int status = 0;
            for (pid_t ended; (ended = ::waitpid(-1, &status, WNOHANG)) > 0;) {
                sendReport(socket, kEnded, ended, status);
            }
        }
        if ((fds[0].revents & (POLLIN | POLLHUP)) == 0) {
            continue;
        }
        int given[3] = {-1, -1, -1};
        const int got = receiveDescriptors(socket, given);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
            ::_exit(0);  // the run has ended, and with it every unit it waited for
        }
        if (got < 0) {
            continue;
        }
        const pid_t unit = ::fork();
        if (unit == 0) {
            // The unit: the run's descriptors as its own, and nothing of the launcher.
            ::close(socket);
            ::close(g_childPipe[0]);
            ::close(g_childPipe[1]);
            ::signal(SIGCHLD, SIG_DFL);
            for (int i = 0; i < 3; ++i) {
                ::dup2(given[i], i);
                ::close(given[i]);
            }
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != launcher) {
                ::_exit(kExitSignalBase + SIGTERM);
            }
            m_socket = -1;
            m_launcher = -1;
            return;
        }
        const int error = unit < 0 ? errno : 0;
        for (const int fd : given) {
            ::close(fd);
        }
        sendReport(socket, kStarted, unit, error);
    }
}

pid_t UnitLauncher::spawn(int in, int out, int err, int& error) {
    const int fds[3] = {in, out, err};
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof fds)] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof fds);
    std::memcpy(CMSG_DATA(header), fds, sizeof fds);
    ssize_t sent = -1;
    while (m_socket >= 0 && (sent = ::sendmsg(m_socket, &message, MSG_NOSIGNAL)) < 0 &&
           errno == EINTR) {
    }
    if (sent < 0) {
        error = m_socket < 0 ? EPIPE : errno;
        return -1;
    }
    m_started = false;
    while (!m_started) {
        if (!receive(true)) {
            error = EPIPE;  // the launcher has gone
            return -1;
        }
    }
    error = m_startedError;
    return m_startedPid;
}

bool UnitLauncher::receive(bool wait) {
    Report report{};
    ssize_t got = -1;
    while (m_socket >= 0 &&
           (got = ::recv(m_socket, &report, sizeof report, wait ? 0 : MSG_DONTWAIT)) < 0 &&
           errno == EINTR) {
    }
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        if (m_socket >= 0) {
            ::close(m_socket);
            m_socket = -1;
        }
        return false;
    }
    if (got != static_cast<ssize_t>(sizeof report)) {
        return false;
    }
    if (report.kind == kStarted) {
        m_started = true;
        m_startedPid = report.pid;
        m_startedError = report.value;
    } else if (report.kind == kEnded) {
        m_ended.push_back({report.pid, report.value});
    }
    return true;
}

bool UnitLauncher::nextEnded(pid_t& pid, int& status) {
    while (receive(false)) {
    }
    if (m_ended.empty()) {
        return false;
    }
    pid = m_ended.front().pid;
    status = m_ended.front().status;
    m_ended.pop_front();
    return true;
}

UnitLauncher::~UnitLauncher() {
    if (m_socket >= 0) {
        ::close(m_socket);
    }
    if (m_launcher > 0) {
        // It ends as soon as it sees the run has.
        ::waitpid(m_launcher, nullptr, 0);
    }
}
