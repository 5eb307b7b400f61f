#include "StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace {

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_catching = 0;

extern "C" void onStopSignal(int signal) {
    if (!g_catching && signal != SIGWINCH) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);  // delivered once the handler returns
        return;
    }
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe only loses a repeated signal.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals() = default;
StopSignals::~StopSignals() = default;

StopSignals& StopSignals::instance() {
    static StopSignals one;
    return one;
}

bool StopSignals::install() {
    if (g_pipe[0] >= 0) {
        return true;
    }
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // A tick's write must not be cut short: the configuration store goes out whole.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGWINCH}) {
        ::sigaction(signal, &action, nullptr);
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::deliverPending);
    return true;
}

void StopSignals::setCatching(bool on) {
    g_catching = on ? 1 : 0;
}

int StopSignals::fd() const {
    return g_pipe[0];
}

void StopSignals::deliverPending() {
    unsigned char byte = 0;
    while (g_pipe[0] >= 0 && ::read(g_pipe[0], &byte, 1) == 1) {
        if (byte == SIGWINCH) {
            emit resized();
        } else {
            emit received(byte);
        }
    }
}

CatchingStopSignals::CatchingStopSignals() : m_was(g_catching != 0) {
    g_catching = 1;
}

CatchingStopSignals::~CatchingStopSignals() {
    g_catching = m_was ? 1 : 0;
}
