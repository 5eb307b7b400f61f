#include "Editor.h"

#include <cstring>

#include "device/Format.h"
#include "editor/BlockFields.h"

Editor::Editor(SerialPortDriver& driver, Notifier& notifier, EditorView& view)
    : m_notifier(notifier), m_view(view), m_link(driver, notifier) {}

WindowPos Editor::applySettings(const Settings& settings) {
    m_pcPort = settings.pcPort;
    m_userProgramDir = settings.userProgramDir;
    m_configFileDir = settings.configFileDir;
    m_showHints = settings.showHints;
    applyHints();
    m_downloadEnabled = settings.downloadEnabled;
    return settings.position;
}

void Editor::initialise() {
    m_screen.configureEnabled = modeHasSettings(m_screen.form[AdeModeList]);
    m_screen.updateEnabled = false;
    m_screen.uploadEnabled = false;
    m_screen.deleteEnabled = false;
    m_view.render();
    readConfiguration();
}

void Editor::shutdown(const std::string& settingsFile, std::optional<WindowPos> position) {
    writeSettings(settingsFile, position, m_pcPort, m_showHints,
                  m_userProgramDirChanged ? std::optional(m_userProgramDir) : std::nullopt,
                  m_configFileDirChanged ? std::optional(m_configFileDir) : std::nullopt);
    m_link.close();
}

bool Editor::readConfiguration() {
    if (m_view.runConnectionDialog() == 0) {
        showBlock();
        return true;
    }
    closeWindow();
    return false;
}

void Editor::showBlock() {
    m_screen.form = formFromBlock(m_block);
    m_screen.configureEnabled = modeHasSettings(m_screen.form[AdeModeList]);
    m_screen.serialLabel = formatNumber(MainText::kSerial, m_block.serialNumber());
    const bool prog = m_block.isProg();
    m_screen.productLabel = prog ? MainText::kProductProg : MainText::kProductAde;
    const auto& tag = m_block.versionTag;
    m_screen.versionLabel = std::string("Version: ") + tag[0] + tag[1] + '.' + tag[2] + tag[3];
    m_screen.programGroupEnabled = prog;
    m_screen.uploadEnabled = prog;
    m_screen.deleteEnabled = prog && m_validProgram;
    m_screen.validProgramLabel = !prog            ? MainText::kValidNotApplicable
                                 : m_validProgram ? MainText::kValidYes
                                                  : MainText::kValidNo;
    const unsigned interfaces = m_block.byte(Offset::portInterfaces);
    m_screen.port1Caption =
        std::string(MainText::kPort1) + (interfaces & 1 ? MainText::kRs422 : MainText::kRs232);
    m_screen.port2Caption =
        std::string(MainText::kPort2) + (interfaces & 2 ? MainText::kRs422 : MainText::kRs232);
    setRunMenu(m_validProgram || m_block.byte(Offset::adeMode) <= 2);
    m_view.render();
}

void Editor::collectControls() {
    takeSelections();
    formToBlock(m_screen.form, m_block);
}

void Editor::markEdited() {
    takeSelections();
    m_screen.updateEnabled = true;
    m_view.render();
}

void Editor::modeChanged() {
    takeSelections();
    m_screen.configureEnabled = modeHasSettings(m_screen.form[AdeModeList]);
    // Greyed until the device has been updated and read again.
    setRunMenu(false);
    m_view.render();
    markEdited();
}

void Editor::openModeDialog() {
    takeSelections();
    const int mode = m_screen.form[AdeModeList];
    if (modeHasSettings(mode)) {
        m_view.runModeDialog(mode);
    }
    markEdited();
}

void Editor::setRunMenu(bool enabled) {
    m_screen.runMenuEnabled = enabled;
    if (m_downloadEnabled != 0) {
        m_screen.downloadItemEnabled = enabled;
    }
}

void Editor::selectPort(int port, bool reconnect) {
    for (std::size_t i = 0; i < m_screen.portChecks.size(); ++i) {
        m_screen.portChecks[i] = port >= 0 && static_cast<std::size_t>(port) == i;
    }
    if (port >= 1) {
        m_screen.portLabel = formatNumber(MainText::kPortCom, static_cast<unsigned>(port));
        m_screen.updateEnabled = false;
        m_screen.uploadEnabled = false;
        m_screen.deleteEnabled = false;
        m_view.render();
        if (port == m_pcPort || !reconnect) {
            m_pcPort = port;
            return;
        }
        m_pcPort = port;
        readConfiguration();
    } else if (port == 0) {
        m_pcPort = 0;
        m_link.close();
        loadDemoBlock();
        showBlock();
    } else {
        m_pcPort = 0;
        m_view.render();
        readConfiguration();
    }
}

void Editor::loadDemoBlock() {
    m_screen.portLabel = MainText::kPortDemo;
    m_block = demoBlock();
    m_validProgram = true;
}

void Editor::applyHints() {
    m_screen.hintsChecked = m_showHints;
    m_view.render();
}

void Editor::toggleHints() {
    m_showHints = !m_showHints;
    applyHints();
}

void Editor::updateVx310() {
    collectControls();
    sendBlock(m_block);
}

void Editor::sendBlock(const ConfigBlock& block) {
    // A copy: block is often the window's own, which the read-back replaces.
    const ConfigBlock sent = block;
    const std::string text = encodeBlock(sent);
    std::memcpy(m_link.txBuffer.data(), text.data(), text.size());
    m_link.txBuffer[text.size()] = '\0';
    const bool toDevice = m_pcPort != 0;
    m_lastWriteChecked = false;
    m_lastDifferences.clear();
    m_lastSent = sent;
    m_lastReadBack.reset();
    m_view.runUpdateDialog();
    // The read-back may end in demonstration mode instead, which has nothing to compare.
    if (!readConfiguration() || !toDevice || m_pcPort == 0) {
        return;
    }
    m_lastWriteChecked = true;
    m_lastReadBack = m_block;
    m_lastDifferences = storedDifferences(sent, m_block);
    if (!m_lastDifferences.empty()) {
        m_notifier.show({notStoredText(m_lastDifferences), MainText::kCaption,
                         NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::Mismatch});
    }
}

void Editor::rememberUserProgramDir(const std::string& folder) {
    if (folder != m_userProgramDir) {
        m_userProgramDir = folder;
        m_userProgramDirChanged = true;
    }
}

void Editor::setProgramButtons(bool upload, bool remove) {
    m_screen.uploadEnabled = upload;
    m_screen.deleteEnabled = remove;
    m_view.render();
}

void Editor::rememberConfigFileDir(const std::string& folder) {
    if (folder != m_configFileDir) {
        m_configFileDir = folder;
        m_configFileDirChanged = true;
    }
}

void Editor::startProgram() {
    const unsigned mode = m_block.byte(Offset::adeMode);
    std::string question = MainText::kStartQuestionHead;
    question += mode <= 2 ? formatNumber(MainText::kStartAdeMode, mode) : MainText::kStartUser;
    question += MainText::kStartQuestionTail;
    if (m_notifier.show({question, MainText::kStartCaption, NoticeIcon::None,
                         NoticeButtons::YesNo}) != NoticeAnswer::Yes) {
        return;
    }
    if (m_pcPort != 0) {
        m_link.writeString("RU\r");
    }
    m_notifier.show(
        {MainText::kClosingText, MainText::kClosingCaption, NoticeIcon::None, NoticeButtons::Ok});
    closeWindow();
}

void Editor::closeWindow() {
    m_closed = true;
    m_view.closeWindow();
}
