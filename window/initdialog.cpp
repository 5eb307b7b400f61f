#include "initdialog.h"

#include "platform/MessageBoxNotifier.h"
#include "ui_initdialog.h"

namespace {
// The result of leaving the dialog by Escape, which counts as Exit.
constexpr int kCancelled = 2;
}  // namespace

initdialog::initdialog(DeviceHost& host, QWidget* parent)
    : TimedDialog(parent), m_ui(std::make_unique<Ui::initdialog>()), m_machine(host, *this) {
    m_ui->setupUi(this);
    setWindowTitle(ConnectText::kCaption);
    m_ui->portLabel->setText(ConnectText::kPortLabel);
    m_ui->instruction->setText(ConnectText::kInstruction);
    m_ui->timeoutLabel->setText(ConnectText::kTimeoutLabel);
    m_ui->demoButton->setText(ConnectText::kDemo);
    m_ui->exitButton->setText(ConnectText::kExit);
    m_ui->progress->setRange(0, static_cast<int>(ConnectionRead::kTickLimit));
    // Room for the longest message, so the window does not jump when it appears.
    m_ui->message->setText(toQt(ConnectText::kNotResponding));
    m_ui->textArea->setRowMinimumHeight(0, m_ui->message->sizeHint().height());
    m_ui->textArea->setColumnMinimumWidth(0, m_ui->message->sizeHint().width());
    // Rows that come and go keep their room, so the buttons stay where the user saw them.
    for (QWidget* w :
         {static_cast<QWidget*>(m_ui->timeoutLabel), static_cast<QWidget*>(m_ui->progress)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }

    connect(&timer(), &QTimer::timeout, this, [this] { m_machine.tick(); });
    connect(m_ui->okButton, &QPushButton::clicked, this, [this] { m_machine.ok(); });
    connect(m_ui->demoButton, &QPushButton::clicked, this, [this] { m_machine.demo(); });
    connect(m_ui->exitButton, &QPushButton::clicked, this, [this] { m_machine.exit(); });
    connect(m_ui->portList, &QComboBox::activated, this,
            [this](int index) { m_machine.choosePort(m_ui->portList->itemData(index).toUInt()); });
    refresh();
}

initdialog::~initdialog() = default;

int initdialog::exec() {
    m_machine.initialise();
    return QDialog::exec();
}

void initdialog::reject() {
    finish(kCancelled);
}

void initdialog::refresh() {
    const ConnectScreen& screen = m_machine.screen();
    QComboBox* list = m_ui->portList;
    if (list->count() != static_cast<int>(screen.ports.size())) {
        list->clear();
        for (const PortEntry& entry : screen.ports) {
            list->addItem(toQt(entry.text), entry.number);
        }
    }
    list->setCurrentIndex(list->findData(screen.selectedPort));
    m_ui->unopened->setText(toQt(screen.unopenedText));
    m_ui->unopened->setVisible(!screen.unopenedText.empty());
    m_ui->instruction->setVisible(screen.instructionVisible);
    m_ui->message->setText(toQt(screen.messageText));
    m_ui->message->setVisible(screen.messageVisible);
    m_ui->status->setText(toQt(screen.statusText));
    m_ui->status->setVisible(screen.statusVisible);
    m_ui->timeoutLabel->setVisible(screen.timeoutVisible);
    m_ui->progress->setVisible(screen.progressVisible);
    m_ui->progress->setValue(screen.progress);
    m_ui->okButton->setText(toQt(screen.okCaption));
    m_ui->okButton->setEnabled(screen.okEnabled);
}
