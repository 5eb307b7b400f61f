#include "fileUploadDialog.h"

#include <QPushButton>

#include "platform/MessageBoxNotifier.h"
#include "ui_fileUploadDialog.h"

fileUploadDialog::fileUploadDialog(DeviceHost& host, QWidget* parent)
    : TimedDialog(parent), m_ui(std::make_unique<Ui::fileUploadDialog>()), m_transfer(host, *this) {
    m_ui->setupUi(this);
    m_ui->abortButton->setText(TransferText::kAbort);
    // The Abort button comes and goes; the dialog keeps its shape.
    QSizePolicy policy = m_ui->abortButton->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_ui->abortButton->setSizePolicy(policy);
    connect(&timer(), &QTimer::timeout, this, [this] { m_transfer.tick(); });
    connect(m_ui->abortButton, &QPushButton::clicked, this, [this] { m_transfer.abort(); });
}

fileUploadDialog::~fileUploadDialog() = default;

int fileUploadDialog::exec() {
    m_transfer.start();
    return QDialog::exec();
}

void fileUploadDialog::refresh() {
    const TransferScreen& screen = m_transfer.screen();
    setWindowTitle(toQt(screen.caption));
    m_ui->statusText->setText(toQt(screen.statusText));
    m_ui->detailText->setText(toQt(screen.detailText));
    m_ui->progress->setRange(screen.progressMin, screen.progressMax);
    m_ui->progress->setValue(screen.progressPos);
    m_ui->abortButton->setVisible(screen.abortVisible);
}
