#pragma once

#include "platform/FileDialog.h"
#include "platform/MessageBoxNotifier.h"

class QWidget;
class HelpViewer;

// File dialogs as QFileDialog, over the owner window. The Help button, when asked for, and
// F1 open the request's topic in the help viewer. A chosen path the caller cannot take is
// explained by a notice before the dialog comes back.
class QtFileChooser : public FileChooser {
public:
    explicit QtFileChooser(QWidget* owner, HelpViewer* help = nullptr, Notifier* notifier = nullptr)
        : m_owner(owner),
          m_help(help),
          m_messageBoxes(owner),
          m_notifier(notifier != nullptr ? notifier : &m_messageBoxes) {}
    void setHelpViewer(HelpViewer* help) { m_help = help; }

    std::optional<ChosenFile> choose(const FileDialogRequest& request) override;

private:
    QWidget* m_owner;
    HelpViewer* m_help;
    MessageBoxNotifier m_messageBoxes;
    Notifier* m_notifier;
};
