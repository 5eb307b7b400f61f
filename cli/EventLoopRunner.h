#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include "cli/CliSession.h"

// Runs a device dialog's machine on the Qt event loop, with the same 100 ms timer the
// dialog would own, but no window.
class EventLoopRunner : public TickRunner {
public:
    EventLoopRunner();

    int run(const std::function<void()>& begin, const std::function<void()>& tick,
            const std::function<bool()>& stopped) override;
    std::uint64_t nowMs() const override;

    void startTimer(int periodMs) override { m_timer.start(periodMs); }
    void stopTimer() override { m_timer.stop(); }
    void finish(int result) override;

    // SIGINT, SIGTERM and SIGHUP (StopSignals, installed by the caller): while run() runs
    // they reach onSignal from the event loop, between two ticks; outside it they take their
    // default action unless someone else catches them.
    std::function<void(int)> onSignal;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    class QEventLoop* m_loop = nullptr;
    bool m_finished = false;
    int m_result = kLeft;
};
