#pragma once

#include <memory>

#include "program/Transfer.h"
#include "window/TimedDialog.h"

namespace Ui {
class fileUploadDialog;
}

// The transfer dialog: shows the transfer and feeds it timer ticks, Abort and Escape.
class fileUploadDialog : public TimedDialog {
    Q_OBJECT
public:
    explicit fileUploadDialog(DeviceHost& host, QWidget* parent = nullptr);
    ~fileUploadDialog() override;

    int exec() override;
    // Escape is Abort; the dialog closes only from its own tick.
    void reject() override { m_transfer.abort(); }

    Transfer& transfer() { return m_transfer; }

private:
    void refresh() override;

    std::unique_ptr<Ui::fileUploadDialog> m_ui;
    Transfer m_transfer;
};
