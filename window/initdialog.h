#pragma once

#include <memory>

#include "device/ConnectionRead.h"
#include "window/TimedDialog.h"

namespace Ui {
class initdialog;
}

// The connection dialog: shows the connection read and feeds it timer ticks and buttons.
// Its result is 0 after a read or "&Demo", non-zero when the user leaves the program.
class initdialog : public TimedDialog {
    Q_OBJECT
public:
    explicit initdialog(DeviceHost& host, QWidget* parent = nullptr);
    ~initdialog() override;

    int exec() override;
    void reject() override;

    ConnectionRead& machine() { return m_machine; }

private:
    void refresh() override;

    std::unique_ptr<Ui::initdialog> m_ui;
    ConnectionRead m_machine;
};
