#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "editor/CommandHost.h"
#include "editor/FormTable.h"
#include "editor/Settings.h"

namespace MainText {
inline constexpr const char kCaption[] = "VX310 Configuration";
inline constexpr const char kPortNone[] = "PC Port: NONE";
inline constexpr const char kPortCom[] = "PC Port: COM%u";
inline constexpr const char kPortDemo[] = "PC Port: Demo";
inline constexpr const char kSerialInitial[] = "Serial Number: ________";
inline constexpr const char kSerial[] = "Serial Number: %u";
inline constexpr const char kProductInitial[] = "Product Type: ____";
inline constexpr const char kProductProg[] = "Product Type: PROG";
inline constexpr const char kProductAde[] = "Product Type: ADE";
inline constexpr const char kVersionInitial[] = "Version: _.__";
inline constexpr const char kValidInitial[] = "Valid Program: N/A";
inline constexpr const char kValidYes[] = "Valid Program: YES";
inline constexpr const char kValidNo[] = "Valid Program: NO";
inline constexpr const char kValidNotApplicable[] = "Valid Program: N/A";
inline constexpr const char kPort1[] = "Port 1 ";
inline constexpr const char kPort2[] = "Port 2 ";
inline constexpr const char kRs422[] = "(RS422/485)";
inline constexpr const char kRs232[] = "(RS232)";

inline constexpr const char kStartCaption[] = "Start VX310 Program";
inline constexpr const char kStartQuestionHead[] = "Run VX310 - ";
inline constexpr const char kStartAdeMode[] = "ADE Mode %u";
inline constexpr const char kStartUser[] = "PROG User";
inline constexpr const char kStartQuestionTail[] = " Program";
inline constexpr const char kClosingText[] =
    "VXCONF WILL NOW CLOSE DOWN.\n\nRemember to run VX310 EXECUTIVE before restarting VXCONF.";
inline constexpr const char kClosingCaption[] = "VX310 Restarting";
}  // namespace MainText

// Commands of the port menu's check-mark list, in the order of the port each stands for:
// demonstration, then COM1 to COM4. Only the first two are menu items.
inline constexpr std::array<int, 5> kPortCheckCommands{32775, 32771, 32772, 32773, 32774};

// Everything the main window shows.
struct MainScreen {
    FormValues form = initialForm();
    std::string portLabel = MainText::kPortNone;
    std::string serialLabel = MainText::kSerialInitial;
    std::string productLabel = MainText::kProductInitial;
    std::string versionLabel = MainText::kVersionInitial;
    std::string validProgramLabel = MainText::kValidInitial;
    std::string port1Caption = "Port 1";
    std::string port2Caption = "Port 2";
    bool configureEnabled = false;
    bool updateEnabled = false;
    bool uploadEnabled = false;
    bool deleteEnabled = false;
    bool programGroupEnabled = true;  // group 1045 and label 1016
    bool runMenuEnabled = true;
    bool downloadItemEnabled = true;
    std::array<bool, kPortCheckCommands.size()> portChecks{};
    bool hintsChecked = true;
};

// What the main window's widget does for the editor.
class EditorView {
public:
    virtual ~EditorView() = default;
    // The user may have changed the lists: their current selections into form.
    virtual void takeSelections(FormValues& form) = 0;
    // The editor's screen into the controls, labels, buttons and menus.
    virtual void render() = 0;
    // The connection dialog, modally; its result (0: block read or demonstration).
    virtual int runConnectionDialog() = 0;
    virtual void runUpdateDialog() = 0;
    // The settings dialog of ADE mode 1 or 2.
    virtual void runModeDialog(int mode) = 0;
    // Closes the main window, which ends the program.
    virtual void closeWindow() = 0;
};

// The main window's state and rules, without widgets: the block and the form, the selected
// port, the enabling of buttons and menus, and the commands that act on the device.
class Editor : public CommandHost {
public:
    Editor(SerialPortDriver& driver, Notifier& notifier, EditorView& view);

    // --- DeviceHost ---
    SerialLink& link() override { return m_link; }
    ConfigBlock& block() override { return m_block; }
    bool& validProgram() override { return m_validProgram; }
    int pcPort() const override { return m_pcPort; }
    void selectPort(int port, bool reconnect) override;
    Notifier& notifier() override { return m_notifier; }

    // Settings read at start: returns where the window goes.
    WindowPos applySettings(const Settings& settings);
    // First connection, after the settings have been read.
    void initialise();
    // Window destroyed: settings written, link closed.
    // position: the window's, or nothing where the window system cannot tell it.
    void shutdown(const std::string& settingsFile, std::optional<WindowPos> position);

    // The connection dialog, then the block shown; false when it ended the program.
    bool readConfiguration() override;
    void showBlock();
    void collectControls();
    void markEdited();
    void modeChanged();
    void openModeDialog();
    void loadDemoBlock();
    void applyHints();
    void toggleHints();

    // Commands.
    void updateVx310();
    // Encodes block into the link's txBuffer, runs the update dialog, then reads back and
    // tells the user of every field the device did not store as sent.
    void sendBlock(const ConfigBlock& block) override;
    // What the read-back after the last sendBlock found: whether it compared anything
    // (demonstration mode sends nothing and checks nothing) and the differences.
    bool lastWriteChecked() const { return m_lastWriteChecked; }
    const std::vector<std::string>& lastWriteDifferences() const { return m_lastDifferences; }
    // The block the last sendBlock sent, and the one its check read back (when checked).
    const std::optional<ConfigBlock>& lastSent() const { return m_lastSent; }
    const std::optional<ConfigBlock>& lastReadBack() const { return m_lastReadBack; }
    // The folder of the configuration file last chosen; marked changed when it differs.
    void rememberConfigFileDir(const std::string& folder) override;
    void rememberUserProgramDir(const std::string& folder) override;
    // "Up&load Program" and "&Delete Program", while a transfer runs.
    void setProgramButtons(bool upload, bool remove) override;
    void startProgram();
    void chooseOtherPort() { selectPort(-1, true); }
    void enterDemo() { selectPort(0, true); }

    const MainScreen& screen() const { return m_screen; }
    bool showHints() const { return m_showHints; }
    unsigned downloadEnabled() const { return m_downloadEnabled; }
    const std::string& userProgramDir() const override { return m_userProgramDir; }
    const std::string& configFileDir() const override { return m_configFileDir; }
    bool deleteEnabled() const override { return m_screen.deleteEnabled; }
    bool configFileDirChanged() const { return m_configFileDirChanged; }
    bool userProgramDirChanged() const { return m_userProgramDirChanged; }
    bool closed() const { return m_closed; }

private:
    void takeSelections() { m_view.takeSelections(m_screen.form); }
    void closeWindow();
    void setRunMenu(bool enabled);

    Notifier& m_notifier;
    EditorView& m_view;
    SerialLink m_link;
    int m_pcPort = 0;
    ConfigBlock m_block;
    bool m_validProgram = false;
    bool m_showHints = true;
    std::string m_userProgramDir;
    std::string m_configFileDir;
    bool m_userProgramDirChanged = false;
    bool m_configFileDirChanged = false;
    unsigned m_downloadEnabled = 0;
    bool m_closed = false;
    bool m_lastWriteChecked = false;
    std::vector<std::string> m_lastDifferences;
    std::optional<ConfigBlock> m_lastSent;
    std::optional<ConfigBlock> m_lastReadBack;
    MainScreen m_screen;
};
