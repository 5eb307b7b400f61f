#include "loadsaveConfigDialog.h"

#include <QPushButton>

#include "platform/MessageBoxNotifier.h"
#include "ui_loadsaveConfigDialog.h"
#include "window/Tips.h"

loadsaveConfigDialog::loadsaveConfigDialog(DescriptionDialog& rules, bool showHints,
                                           QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_ui(std::make_unique<Ui::loadsaveConfigDialog>()),
      m_rules(rules) {
    m_ui->setupUi(this);
    m_ui->descriptionEdit->setPlainText(toQt(descriptionForWidget(rules.description())));
    m_ui->question->setText(toQt(rules.question()));
    applyTips(*this, showHints);
    setWindowTitle(rules.caption());
    m_ui->descriptionEdit->setReadOnly(rules.readOnly());
    // Typing starts in the description when saving; loading starts on Yes.
    if (rules.readOnly()) {
        m_ui->yesButton->setFocus();
    } else {
        m_ui->descriptionEdit->setFocus();
    }
    connect(m_ui->yesButton, &QPushButton::clicked, this, [this] {
        const QByteArray text = m_ui->descriptionEdit->toPlainText().toUtf8();
        done(m_rules.yes(descriptionFromWidget(text.toStdString())));
    });
    connect(m_ui->reselectButton, &QPushButton::clicked, this,
            [this] { done(DescriptionDialog::kReselect); });
    connect(m_ui->noButton, &QPushButton::clicked, this, [this] { done(DescriptionDialog::kNo); });
}

loadsaveConfigDialog::~loadsaveConfigDialog() = default;
