#pragma once

#include <QDialog>
#include <memory>

#include "editor/ModeDialogs.h"

class HelpViewer;
class QLineEdit;
namespace Ui {
class ade1adialog;
class ade1dialog;
class ade2dialog;
}  // namespace Ui

// What the mode dialogs are given by the main window.
struct ModeDialogContext {
    ConfigBlock& block;
    Notifier& notifier;
    bool showHints;
    HelpViewer* help;
};

// "Mode 1 Configuration": the Port 1 driver choice, and the way to the ADE timing.
class ade1adialog : public QDialog {
    Q_OBJECT
public:
    ade1adialog(const ModeDialogContext& context, QWidget* parent = nullptr);
    ~ade1adialog() override;

    Mode1Config& rules() { return m_rules; }
    void reject() override { done(0); }

private:
    void ok();
    void openTiming();

    std::unique_ptr<Ui::ade1adialog> m_ui;
    ModeDialogContext m_context;
    Mode1Config m_rules;
};

// "Mode 1 ADE Timing": the five driver turn-off delays.
class ade1dialog : public QDialog {
    Q_OBJECT
public:
    ade1dialog(const ModeDialogContext& context, QWidget* parent = nullptr);
    ~ade1dialog() override;

    Mode1Timing& rules() { return m_rules; }
    void reject() override { done(0); }

private:
    void takeRows();
    void render();

    std::unique_ptr<Ui::ade1dialog> m_ui;
    ModeDialogContext m_context;
    Mode1Timing m_rules;
};

// "Mode 2 Configuration": RS485 address, lead-in byte and time-out.
class ade2dialog : public QDialog {
    Q_OBJECT
public:
    ade2dialog(const ModeDialogContext& context, QWidget* parent = nullptr);
    ~ade2dialog() override;

    Mode2Config& rules() { return m_rules; }
    void reject() override { done(0); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeControls();
    void render();
    // A reaction of the rules, guarded so that the focus moves of its own notices do not
    // start another one.
    template <typename F>
    void react(F reaction);

    std::unique_ptr<Ui::ade2dialog> m_ui;
    ModeDialogContext m_context;
    Mode2Config m_rules;
    bool m_reacting = false;
};

// Puts the focus on a field and selects its text, as after a failed exchange.
void focusField(QLineEdit* field);
