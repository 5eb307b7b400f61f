#include "EventLoopRunner.h"

#include <QEventLoop>

#include "platform/StopSignals.h"

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
    StopSignals& stops = StopSignals::instance();
    const QMetaObject::Connection caught =
        QObject::connect(&stops, &StopSignals::received, [this](int signal) {
            if (onSignal) {
                onSignal(signal);
            }
        });
    {
        const CatchingStopSignals catching;
        begin();
        // A machine that has stopped its timer without finishing waits for a button: over.
        if (!m_finished && !stopped() && m_timer.isActive()) {
            loop.exec();
        }
        QObject::disconnect(ticking);
        m_timer.stop();
        m_loop = nullptr;
        // One that came during the last tick or before the loop began.
        stops.deliverPending();
    }
    QObject::disconnect(caught);
    return m_finished ? m_result : kLeft;
}
