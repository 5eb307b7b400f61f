#include "EventLoopRunner.h"

#include <fcntl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <memory>

namespace {

// The handler only writes the signal's number here; the event loop reads it.
int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_deferring = 0;

extern "C" void onStopSignal(int signal) {
    if (!g_deferring) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);  // delivered once the handler returns
        return;
    }
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

void EventLoopRunner::catchStopSignals() {
    if (g_signalPipe[0] >= 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // A tick's write must not be cut short: the configuration store goes out whole.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

void EventLoopRunner::deliverSignals() {
    unsigned char byte = 0;
    while (g_signalPipe[0] >= 0 && ::read(g_signalPipe[0], &byte, 1) == 1) {
        if (onSignal) {
            onSignal(byte);
        }
    }
}

EventLoopRunner::EventLoopRunner() {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_clock.start();
}

std::uint64_t EventLoopRunner::nowMs() const {
    return static_cast<std::uint64_t>(m_clock.elapsed());
}

void EventLoopRunner::finish(int result) {
    m_timer.stop();
    m_finished = true;
    m_result = result;
    if (m_loop) {
        m_loop->exit();
    }
}

int EventLoopRunner::run(const std::function<void()>& begin, const std::function<void()>& tick,
                         const std::function<bool()>& stopped) {
    m_finished = false;
    m_result = kLeft;
    QEventLoop loop;
    m_loop = &loop;
    const QMetaObject::Connection ticking = QObject::connect(&m_timer, &QTimer::timeout, [&] {
        tick();
        if (!m_finished && (stopped() || !m_timer.isActive())) {
            m_timer.stop();
            loop.exit();
        }
    });
    std::unique_ptr<QSocketNotifier> caught;
    if (g_signalPipe[0] >= 0) {
        caught = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(caught.get(), &QSocketNotifier::activated, [this] { deliverSignals(); });
    }
    g_deferring = 1;
    begin();
    // A machine that has stopped its timer without finishing waits for a button: over.
    if (!m_finished && !stopped() && m_timer.isActive()) {
        loop.exec();
    }
    QObject::disconnect(ticking);
    m_timer.stop();
    m_loop = nullptr;
    g_deferring = 0;
    // One that came during the last tick or before the loop began.
    deliverSignals();
    return m_finished ? m_result : kLeft;
}
