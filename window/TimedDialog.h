#pragma once

#include <QDialog>
#include <QTimer>

#include "device/DeviceHost.h"

// A modal dialog whose work a state machine does on timer ticks: the dialog owns the timer
// that the machine starts and stops, and ends its modal run when the machine finishes. Such
// dialogs have no close box.
class TimedDialog : public QDialog, protected DialogControl {
    Q_OBJECT
public:
    explicit TimedDialog(QWidget* parent);

    QTimer& timer() { return m_timer; }

protected:
    // A dialog that opens with its status already set (a read at start) says it once it is
    // up, for a screen reader: later changes of a label are announced as they come.
    void showEvent(QShowEvent* event) override;
    void startTimer(int periodMs) override { m_timer.start(periodMs); }
    void stopTimer() override { m_timer.stop(); }
    void finish(int result) override;
    void refresh() override {}

private:
    QTimer m_timer;
};
