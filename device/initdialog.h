#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

#include "device/ConnectionRead.h"

namespace Ui {
class initdialog;
}

// The connection dialog: shows the connection read and feeds it timer ticks and buttons.
// Its result is 0 after a read or "&Demo", non-zero when the user leaves the program.
class initdialog : public QDialog, private DialogControl {
    Q_OBJECT
public:
    explicit initdialog(DeviceHost& host, QWidget* parent = nullptr);
    ~initdialog() override;

    int exec() override;
    void reject() override;

    ConnectionRead& machine() { return m_machine; }
    QTimer& timer() { return m_timer; }

private:
    void startTimer(int periodMs) override;
    void stopTimer() override;
    void finish(int result) override;
    void refresh() override;

    std::unique_ptr<Ui::initdialog> m_ui;
    QTimer m_timer;
    ConnectionRead m_machine;
};
