#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

#include "device/ConfigUpdate.h"

namespace Ui {
class updateDialog;
}

// "Updating VX310 Configuration": sends the configuration text and closes itself.
class updateDialog : public QDialog, private DialogControl {
    Q_OBJECT
public:
    explicit updateDialog(DeviceHost& host, QWidget* parent = nullptr);
    ~updateDialog() override;

    int exec() override;
    void reject() override;

    ConfigUpdate& machine() { return m_machine; }

private:
    void startTimer(int periodMs) override;
    void stopTimer() override;
    void finish(int result) override;
    void refresh() override {}

    std::unique_ptr<Ui::updateDialog> m_ui;
    QTimer m_timer;
    ConfigUpdate m_machine;
};
