#pragma once

#include "platform/FileDialog.h"

class QWidget;
class HelpViewer;

// File dialogs as QFileDialog, over the owner window. The Help button, when asked for, and
// F1 open the request's topic in the help viewer.
class QtFileChooser : public FileChooser {
public:
    explicit QtFileChooser(QWidget* owner, HelpViewer* help = nullptr)
        : m_owner(owner), m_help(help) {}
    void setHelpViewer(HelpViewer* help) { m_help = help; }

    std::optional<ChosenFile> choose(const FileDialogRequest& request) override;

private:
    QWidget* m_owner;
    HelpViewer* m_help;
};
