#include "updateDialog.h"

#include "platform/MessageBoxNotifier.h"
#include "ui_updateDialog.h"

updateDialog::updateDialog(DeviceHost& host, QWidget* parent)
    : TimedDialog(parent), m_ui(std::make_unique<Ui::updateDialog>()), m_machine(host, *this) {
    m_ui->setupUi(this);
    setWindowTitle(UpdateText::kCaption);
    m_ui->message->setText(toQt(UpdateText::kMessage));
    connect(&timer(), &QTimer::timeout, this, [this] { m_machine.tick(); });
}

updateDialog::~updateDialog() = default;

int updateDialog::exec() {
    m_machine.start();
    return QDialog::exec();
}

// Escape leaves the dialog early; the caller reads the device back as usual.
void updateDialog::reject() {
    finish(QDialog::Rejected);
}
