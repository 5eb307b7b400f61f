#pragma once

#include <memory>

#include "device/ConfigUpdate.h"
#include "window/TimedDialog.h"

namespace Ui {
class updateDialog;
}

// "Updating VX310 Configuration": sends the configuration text and closes itself.
class updateDialog : public TimedDialog {
    Q_OBJECT
public:
    explicit updateDialog(DeviceHost& host, QWidget* parent = nullptr);
    ~updateDialog() override;

    int exec() override;
    void reject() override;

    ConfigUpdate& machine() { return m_machine; }

private:
    std::unique_ptr<Ui::updateDialog> m_ui;
    ConfigUpdate m_machine;
};
