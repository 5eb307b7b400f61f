#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP for the whole process, and SIGWINCH, through one self-pipe. The
// handler only writes the signal's number into the pipe (keeping errno), which is all that is safe
// there; the event loop reads it and emits received(). While nobody catches them, the signals take
// their default action, as if they had never been caught.
class StopSignals : public QObject {
    Q_OBJECT
public:
    static StopSignals& instance();

    // Installs the handler, once; false when the pipe could not be made.
    bool install();
    // While on, the signals are caught and reported; off, they end the program as before.
    void setCatching(bool on);
    // The pipe's reading end: readable once a caught signal waits to be delivered.
    int fd() const;
    // Emits received() for each signal the pipe holds; the event loop calls it, and so may
    // anyone who waits outside one.
    void deliverPending();

signals:
    void received(int signal);
    // SIGWINCH: the terminal changed its size. It is always caught; its default is to do
    // nothing.
    void resized();

private:
    StopSignals();
    ~StopSignals() override;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Scoped catching: on for the object's life, then as it was.
class CatchingStopSignals {
public:
    CatchingStopSignals();
    ~CatchingStopSignals();
    CatchingStopSignals(const CatchingStopSignals&) = delete;
    CatchingStopSignals& operator=(const CatchingStopSignals&) = delete;

private:
    bool m_was;
};
