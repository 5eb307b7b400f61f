#include "ModeDialogWidgets.h"

#include <QShortcut>

#include <QFocusEvent>
#include <QPushButton>

#include "platform/HelpViewer.h"
#include "platform/MessageBoxNotifier.h"
#include "ui_ade1adialog.h"
#include "ui_ade1dialog.h"
#include "ui_ade2dialog.h"
#include "window/Tips.h"

namespace {

constexpr Qt::WindowFlags kDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// F1 opens the dialog's own topic, as its Help button does.
void helpOnF1(QDialog& dialog, QPushButton& helpButton) {
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), &dialog);
    QObject::connect(f1, &QShortcut::activated, &helpButton, &QPushButton::click);
}

void openHelp(HelpViewer* help, std::uint32_t context) {
    if (help != nullptr) {
        help->showTopic(context);
    }
}

std::string fromQt(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// A field already holding the text is left alone, with its cursor and undo history.
void showText(QLineEdit* field, const std::string& text) {
    if (field->text() != toQt(text)) {
        field->setText(toQt(text));
    }
}

}  // namespace

void focusField(QLineEdit* field) {
    if (field != nullptr) {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
    }
}

// --- Mode 1 Configuration ---

ade1adialog::ade1adialog(const ModeDialogContext& context, QWidget* parent)
    : QDialog(parent, kDialogFlags),
      m_ui(std::make_unique<Ui::ade1adialog>()),
      m_context(context),
      m_rules(context.block, context.notifier) {
    m_ui->setupUi(this);
    setWindowTitle(ModeText::kMode1Caption);
    applyTips(*this, context.showHints);
    const bool enabled = m_rules.driverEnabled();
    m_ui->driverGroup->setEnabled(enabled);
    QRadioButton* chosen = m_rules.driverChoice() == Mode1Config::kAlwaysEnabled
                               ? m_ui->alwaysEnabled
                               : m_ui->adeControlled;
    chosen->setChecked(true);
    if (enabled) {
        chosen->setFocus();
    } else {
        m_ui->okButton->setFocus();
    }
    connect(m_ui->okButton, &QPushButton::clicked, this, &ade1adialog::ok);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { done(0); });
    connect(m_ui->timingButton, &QPushButton::clicked, this, &ade1adialog::openTiming);
    connect(m_ui->helpButton, &QPushButton::clicked, this,
            [this] { openHelp(m_context.help, kMode1HelpContext); });
    helpOnF1(*this, *m_ui->helpButton);
}

ade1adialog::~ade1adialog() = default;

void ade1adialog::ok() {
    m_rules.ok(m_ui->alwaysEnabled->isChecked() ? Mode1Config::kAlwaysEnabled
                                                : Mode1Config::kAdeControlled);
    done(0);
}

void ade1adialog::openTiming() {
    // The timing dialog belongs to the main window and works on its block.
    ade1dialog timing(m_context, this);
    timing.exec();
}

// --- Mode 1 ADE Timing ---

ade1dialog::ade1dialog(const ModeDialogContext& context, QWidget* parent)
    : QDialog(parent, kDialogFlags),
      m_ui(std::make_unique<Ui::ade1dialog>()),
      m_context(context),
      m_rules(context.block, context.notifier) {
    m_ui->setupUi(this);
    setWindowTitle(ModeText::kTimingCaption);
    applyTips(*this, context.showHints);
    for (QLineEdit* row :
         {m_ui->row9600, m_ui->row19200, m_ui->row38400, m_ui->row57600, m_ui->row115200}) {
        row->setMaxLength(63);
    }
    render();
    focusField(m_ui->row9600);
    connect(m_ui->okButton, &QPushButton::clicked, this, [this] {
        takeRows();
        const bool closes = m_rules.ok();
        render();
        if (closes) {
            done(0);
        }
    });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { done(0); });
    connect(m_ui->defaultsButton, &QPushButton::clicked, this, [this] {
        m_rules.setDefaults();
        render();
    });
    connect(m_ui->helpButton, &QPushButton::clicked, this,
            [this] { openHelp(m_context.help, kMode1HelpContext); });
    helpOnF1(*this, *m_ui->helpButton);
}

ade1dialog::~ade1dialog() = default;

void ade1dialog::takeRows() {
    m_rules.takeRows({fromQt(m_ui->row9600->text()), fromQt(m_ui->row19200->text()),
                      fromQt(m_ui->row38400->text()), fromQt(m_ui->row57600->text()),
                      fromQt(m_ui->row115200->text())});
}

void ade1dialog::render() {
    const TimingScreen& screen = m_rules.screen();
    QLineEdit* rows[] = {m_ui->row9600, m_ui->row19200, m_ui->row38400, m_ui->row57600,
                         m_ui->row115200};
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        showText(rows[i], screen.rows[i]);
        if (screen.focus.controlId == Mode1Timing::kRowIds[i]) {
            focusField(rows[i]);
        }
    }
}

// --- Mode 2 Configuration ---

ade2dialog::ade2dialog(const ModeDialogContext& context, QWidget* parent)
    : QDialog(parent, kDialogFlags),
      m_ui(std::make_unique<Ui::ade2dialog>()),
      m_context(context),
      m_rules(context.block, context.notifier) {
    m_ui->setupUi(this);
    setWindowTitle(ModeText::kMode2Caption);
    applyTips(*this, context.showHints);
    for (QLineEdit* field : {m_ui->address, m_ui->leadIn, m_ui->timeout}) {
        field->setMaxLength(63);
    }
    render();
    focusField(m_ui->address);
    m_ui->leadIn->installEventFilter(this);
    connect(m_ui->leadInCheck, &QCheckBox::clicked, this,
            [this] { react([this] { m_rules.leadInClicked(); }); });
    connect(m_ui->okButton, &QPushButton::clicked, this, [this] {
        bool closes = false;
        react([this, &closes] { closes = m_rules.ok(); });
        if (closes) {
            done(0);
        }
    });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] { done(0); });
    connect(m_ui->helpButton, &QPushButton::clicked, this,
            [this] { openHelp(m_context.help, kMode2HelpContext); });
    helpOnF1(*this, *m_ui->helpButton);
}

ade2dialog::~ade2dialog() = default;

template <typename F>
void ade2dialog::react(F reaction) {
    if (m_reacting) {
        return;
    }
    m_reacting = true;
    takeControls();
    reaction();
    render();
    m_reacting = false;
}

bool ade2dialog::eventFilter(QObject* watched, QEvent* event) {
    // Leaving the lead-in field for another control of this dialog; focus that goes to a
    // notice or another window is not the user leaving it.
    if (watched == m_ui->leadIn && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            react([this] { m_rules.leadInLeft(); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ade2dialog::takeControls() {
    m_rules.takeControls(fromQt(m_ui->address->text()), fromQt(m_ui->leadIn->text()),
                         fromQt(m_ui->timeout->text()), m_ui->leadInCheck->isChecked());
}

void ade2dialog::render() {
    const Mode2Screen& screen = m_rules.screen();
    showText(m_ui->address, screen.address);
    showText(m_ui->leadIn, screen.leadIn);
    showText(m_ui->timeout, screen.timeout);
    m_ui->leadInCheck->setChecked(screen.leadInChecked);
    m_ui->leadIn->setEnabled(screen.leadInEditEnabled);
    switch (screen.focus.controlId) {
        case Mode2Config::kAddressId:
            focusField(m_ui->address);
            break;
        case Mode2Config::kLeadInId:
            focusField(m_ui->leadIn);
            break;
        case Mode2Config::kTimeoutId:
            focusField(m_ui->timeout);
            break;
        default:
            break;
    }
}
