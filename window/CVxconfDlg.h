#pragma once

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "configfiles/ConfigFileCommands.h"
#include "editor/Editor.h"
#include "platform/MessageBoxNotifier.h"
#include "platform/QtFileChooser.h"
#include "platform/QtFileSaver.h"
#include "program/ProgramCommands.h"

namespace Ui {
class CVxconfDlg;
}
class QComboBox;
class HelpViewer;
class QMenuBar;

// Command ids of the main window's menu.
namespace Command {
constexpr int kAbout = 104;
constexpr int kExit = 105;
constexpr int kDownloadProgram = 106;
constexpr int kSelectPort = 32771;
constexpr int kDemo = 32775;
constexpr int kHelpTopics = 32776;
constexpr int kStartProgram = 32777;
constexpr int kLoadConfig = 32778;
constexpr int kSaveConfig = 32779;
constexpr int kShowHints = 32780;
}  // namespace Command

// The main window: the form of both ports and the mode, the device's labels, the four
// buttons and the menu. The rules behind it live in Editor.
class CVxconfDlg : public QDialog, private EditorView, private ConfigFileView, private ProgramView {
    Q_OBJECT
public:
    // Without a notifier, notices are shown as message boxes; without a file chooser, files
    // are chosen in file dialogs; without a help viewer, the program's help file is shown
    // by Qt Assistant.
    CVxconfDlg(SerialPortDriver& driver, std::string settingsFile, Notifier* notifier = nullptr,
               HelpViewer* help = nullptr, FileChooser* files = nullptr, QWidget* parent = nullptr);
    ~CVxconfDlg() override;

    // Reads the settings, connects and, unless the user left the program there, runs the
    // window modally.
    int run();
    // Reads the settings and connects; false when the user chose to leave the program.
    bool initialise();
    // A port number to use instead of the remembered one (the simulated device).
    void setStartPort(int port) { m_startPort = port; }

    Editor& editor() { return m_editor; }
    QAction* commandAction(int id) const;
    QMenu* runMenu() const { return m_runMenu; }
    QMenu* fileMenu() const { return m_fileMenu; }
    QComboBox* formList(FormList list) const { return m_lists[list]; }
    HelpViewer& helpViewer() { return *m_help; }

public slots:
    void loadConfigFile();
    void saveConfigFile();
    void downloadProgram();
    void exitProgram();
    // The desktop ends the program (logout, shutdown, kill): it leaves as Exit does, without
    // questions. Each open dialog is left as its Cancel or Escape would (a transfer aborts
    // through its machine); a configuration being stored is finished first.
    void leaveNow();
    void selectPcPort();
    void demo();
    void startProgram();
    void helpTopics();
    void toggleHints();
    void about();
    void configure();
    void uploadProgram();
    void deleteProgram();
    void updateVx310();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // EditorView
    void takeSelections(FormValues& form) override;
    void render() override;
    int runConnectionDialog() override;
    void runUpdateDialog() override;
    void runModeDialog(int mode) override;
    void leaveStep();
    void closeWindow() override;
    // ConfigFileView
    int runDescriptionDialog(DescriptionDialog& dialog) override;
    // ProgramView
    int runTransferDialog(const std::function<void(Transfer&)>& prepare) override;

    void buildMenu();
    void insertDownloadItem();
    // A check mark beside the command when marked, and no box at all when not.
    static void setMark(QAction* action, bool marked);
    QAction* addCommand(QMenu* menu, const char* text, int id, void (CVxconfDlg::*slot)());
    WindowPos defaultPosition() const;
    WindowPos onScreen(WindowPos wanted, WindowPos fallback) const;
    // Where the help window may open: the available area of this window's screen.
    QRect helpArea() const;

    std::unique_ptr<Ui::CVxconfDlg> m_ui;
    MessageBoxNotifier m_messageBoxes;
    std::unique_ptr<HelpViewer> m_ownHelp;
    HelpViewer* m_help;
    QtFileChooser m_fileDialogs;
    QtFileSaver m_saver;
    std::string m_settingsFile;
    std::optional<int> m_startPort;
    Editor m_editor;
    ConfigFileCommands m_configFiles;
    ProgramCommands m_programs;
    std::array<QComboBox*, kFormListCount> m_lists{};
    QMenuBar* m_menuBar = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_runMenu = nullptr;
    std::map<int, QAction*> m_commands;
    bool m_leaving = false;
};
