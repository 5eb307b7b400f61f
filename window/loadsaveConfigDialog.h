#pragma once

#include <QDialog>
#include <memory>

#include "configfiles/ConfigFileCommands.h"

namespace Ui {
class loadsaveConfigDialog;
}

// The description dialog of Save and Load Config File: the description, the question and
// Yes, Reselect, No. Escape counts as Reselect.
class loadsaveConfigDialog : public QDialog {
    Q_OBJECT
public:
    loadsaveConfigDialog(DescriptionDialog& rules, bool showHints, QWidget* parent = nullptr);
    ~loadsaveConfigDialog() override;

    void reject() override { done(DescriptionDialog::kReselect); }

private:
    std::unique_ptr<Ui::loadsaveConfigDialog> m_ui;
    DescriptionDialog& m_rules;
};
