#include "updateDialog.h"

#include "editor/MessageBoxNotifier.h"
#include "ui_updateDialog.h"

updateDialog::updateDialog(DeviceHost& host, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_ui(std::make_unique<Ui::updateDialog>()),
      m_machine(host, *this) {
    m_ui->setupUi(this);
    setWindowTitle(UpdateText::kCaption);
    m_ui->message->setText(toQt(UpdateText::kMessage));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_machine.tick(); });
}

updateDialog::~updateDialog() = default;

int updateDialog::exec() {
    m_machine.start();
    return QDialog::exec();
}

// Escape leaves the dialog early; the caller reads the device back as usual.
void updateDialog::reject() {
    m_timer.stop();
    QDialog::reject();
}

void updateDialog::startTimer(int periodMs) {
    m_timer.start(periodMs);
}

void updateDialog::stopTimer() {
    m_timer.stop();
}

void updateDialog::finish(int result) {
    m_timer.stop();
    done(result);
}
