#include "CVxconfDlg.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include "editor/HelpContexts.h"
#include "platform/AssistantHelpViewer.h"
#include "platform/WindowManners.h"
#include "ui_CVxconfDlg.h"
#include "window/CAboutDlg.h"
#include "window/ModeDialogWidgets.h"
#include "window/Tips.h"
#include "window/fileUploadDialog.h"
#include "window/initdialog.h"
#include "window/loadsaveConfigDialog.h"
#include "window/updateDialog.h"

namespace {

// The height window managers give a title bar, with a little to spare.
constexpr int kTitleBarRoom = 30;
// Leaving on a signal looks at the dialog on top this often, until the main window is.
constexpr int kLeaveStepMs = 50;

}  // namespace

CVxconfDlg::CVxconfDlg(SerialPortDriver& driver, std::string settingsFile, Notifier* notifier,
                       HelpViewer* help, FileChooser* files, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::CVxconfDlg>()),
      m_messageBoxes(this),
      m_ownHelp(help != nullptr ? nullptr
                                : std::make_unique<AssistantHelpViewer>(
                                      AssistantHelpViewer::defaultProgram(),
                                      AssistantHelpViewer::installedCollectionFile(),
                                      notifier != nullptr ? *notifier : m_messageBoxes,
                                      [this] { return helpArea(); })),
      m_help(help != nullptr ? help : m_ownHelp.get()),
      m_fileDialogs(this, m_help, notifier != nullptr ? notifier : &m_messageBoxes),
      m_settingsFile(std::move(settingsFile)),
      m_editor(driver, notifier != nullptr ? *notifier : m_messageBoxes, *this),
      m_configFiles(m_editor, files != nullptr ? *files : m_fileDialogs, m_saver, *this),
      m_programs(m_editor, files != nullptr ? *files : m_fileDialogs, m_saver, *this) {
    initProgramResources();
    m_ui->setupUi(this);
    setWindowTitle(MainText::kCaption);
    setWindowIcon(QIcon(":/vxconf.png"));

    m_lists = {m_ui->baud1,  m_ui->bits1,  m_ui->parity1, m_ui->stop1,   m_ui->rxXon1,
               m_ui->txXon1, m_ui->baud2,  m_ui->bits2,   m_ui->parity2, m_ui->stop2,
               m_ui->rxXon2, m_ui->txXon2, m_ui->mode};
    for (std::size_t i = 0; i < m_lists.size(); ++i) {
        const FormListInfo& info = formListInfo(static_cast<FormList>(i));
        QComboBox* list = m_lists[i];
        list->clear();
        for (int e = 0; e < info.entryCount; ++e) {
            list->addItem(QString::fromLatin1(info.entries[e]));
        }
        list->setProperty("controlId", info.controlId);
        // Only the user's own choices count as edits, not the form being filled in.
        if (i == AdeModeList) {
            connect(list, &QComboBox::activated, this, [this] { m_editor.modeChanged(); });
        } else {
            connect(list, &QComboBox::activated, this, [this] { m_editor.markEdited(); });
        }
    }
    connect(m_ui->configureButton, &QPushButton::clicked, this, &CVxconfDlg::configure);
    connect(m_ui->uploadButton, &QPushButton::clicked, this, &CVxconfDlg::uploadProgram);
    connect(m_ui->deleteButton, &QPushButton::clicked, this, &CVxconfDlg::deleteProgram);
    connect(m_ui->updateButton, &QPushButton::clicked, this, &CVxconfDlg::updateVx310);
    buildMenu();
    render();
}

CVxconfDlg::~CVxconfDlg() {
    // The position kept is the client area's, as it was placed at start: the frame around
    // it belongs to the window manager, and writing the frame's corner would move the
    // window up and left by the frame on every run.
    m_editor.shutdown(m_settingsFile,
                      windowSystemPlacesWindows()
                          ? std::optional<WindowPos>(WindowPos{geometry().x(), geometry().y()})
                          : std::nullopt);
    m_help->quit();
}

QAction* CVxconfDlg::addCommand(QMenu* menu, const char* text, int id, void (CVxconfDlg::*slot)()) {
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setProperty("controlId", id);
    connect(action, &QAction::triggered, this, slot);
    m_commands[id] = action;
    return action;
}

void CVxconfDlg::buildMenu() {
    m_menuBar = new QMenuBar(this);
    m_fileMenu = m_menuBar->addMenu("&File");
    addCommand(m_fileMenu, "&Load Config File", Command::kLoadConfig, &CVxconfDlg::loadConfigFile);
    addCommand(m_fileMenu, "&Save Config File", Command::kSaveConfig, &CVxconfDlg::saveConfigFile);
    m_fileMenu->addSeparator();
    addCommand(m_fileMenu, "E&xit", Command::kExit, &CVxconfDlg::exitProgram);

    QMenu* port = m_menuBar->addMenu("&Port");
    addCommand(port, "&Select PC COM Port", Command::kSelectPort, &CVxconfDlg::selectPcPort);
    addCommand(port, "&Demo", Command::kDemo, &CVxconfDlg::demo);

    m_runMenu = m_menuBar->addMenu("Run");
    addCommand(m_runMenu, "&Start VX310 Program", Command::kStartProgram,
               &CVxconfDlg::startProgram);

    QMenu* help = m_menuBar->addMenu("&Help");
    addCommand(help, "&Help Topics", Command::kHelpTopics, &CVxconfDlg::helpTopics);
    help->addSeparator();
    setMark(addCommand(help, "Show &Hints", Command::kShowHints, &CVxconfDlg::toggleHints), true);
    help->addSeparator();
    addCommand(help, "&About VXCONF...", Command::kAbout, &CVxconfDlg::about);

    m_ui->mainLayout->setMenuBar(m_menuBar);
}

void CVxconfDlg::insertDownloadItem() {
    QAction* exitAction = commandAction(Command::kExit);
    QAction* download = new QAction("Download Program", m_fileMenu);
    download->setProperty("controlId", Command::kDownloadProgram);
    connect(download, &QAction::triggered, this, &CVxconfDlg::downloadProgram);
    m_commands[Command::kDownloadProgram] = download;
    m_fileMenu->insertAction(exitAction, download);
    m_fileMenu->insertSeparator(exitAction);
}

void CVxconfDlg::setMark(QAction* action, bool marked) {
    // Styles draw an empty box beside a checkable item that is not checked; an unmarked
    // command must look like any other item.
    action->setCheckable(marked);
    action->setChecked(marked);
}

QAction* CVxconfDlg::commandAction(int id) const {
    const auto it = m_commands.find(id);
    return it == m_commands.end() ? nullptr : it->second;
}

WindowPos CVxconfDlg::defaultPosition() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return {0, 0};
    }
    const QRect area = screen->availableGeometry();
    const QSize size = sizeHint();
    // The title bar above the window stays on the screen, also when the window is taller.
    return {area.x() + std::max(0, (area.width() - size.width()) / 2),
            area.y() + std::max(kTitleBarRoom, (area.height() - size.height()) / 2)};
}

QRect CVxconfDlg::helpArea() const {
    const QScreen* where = screen();
    return where != nullptr ? where->availableGeometry() : QRect();
}

WindowPos CVxconfDlg::onScreen(WindowPos wanted, WindowPos fallback) const {
    // The title bar, above the window's top, must be reachable on some screen, or the window
    // goes back to the middle.
    const QRect title(wanted.left, wanted.top - kTitleBarRoom, std::max(100, sizeHint().width()),
                      kTitleBarRoom);
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect visible = screen->availableGeometry().intersected(title);
        if (visible.width() >= 50 && visible.height() >= kTitleBarRoom / 2) {
            return wanted;
        }
    }
    return fallback;
}

bool CVxconfDlg::initialise() {
    const WindowPos fallback = defaultPosition();
    Settings settings = readSettings(m_settingsFile, fallback, currentFolder());
    if (m_startPort) {
        settings.pcPort = *m_startPort;
    }
    const WindowPos wanted = m_editor.applySettings(settings);
    const WindowPos position = onScreen(wanted, fallback);
    // The client area goes there, as the exit writes it back; the window manager puts its
    // frame around it.
    adjustSize();
    if (windowSystemPlacesWindows()) {
        setGeometry(QRect(QPoint(position.left, position.top), size()));
    }
    if (m_editor.downloadEnabled() != 0) {
        insertDownloadItem();
    }
    m_editor.initialise();
    return !m_editor.closed();
}

int CVxconfDlg::run() {
    if (!initialise()) {
        return 0;
    }
    exec();
    return 0;
}

void CVxconfDlg::keyPressEvent(QKeyEvent* event) {
    // Escape would end the program and drop any edits not yet sent; leaving takes Exit.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        // The topic of the control with the focus, or of the group around it.
        std::uint32_t context = 0;
        for (QWidget* w = focusWidget(); w != nullptr && w != this && context == 0;
             w = w->parentWidget()) {
            context = mainWindowHelpContext(w->property("controlId").toInt());
        }
        if (context != 0) {
            m_help->showTopic(context);
        } else {
            m_help->showContents();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CVxconfDlg::takeSelections(FormValues& form) {
    for (std::size_t i = 0; i < m_lists.size(); ++i) {
        form[i] = m_lists[i]->currentIndex();
    }
}

void CVxconfDlg::render() {
    const MainScreen& screen = m_editor.screen();
    for (std::size_t i = 0; i < m_lists.size(); ++i) {
        const int index = screen.form[i];
        m_lists[i]->setCurrentIndex(index < m_lists[i]->count() ? index : -1);
    }
    m_ui->portLabel->setText(toQt(screen.portLabel));
    m_ui->serialLabel->setText(toQt(screen.serialLabel));
    m_ui->productLabel->setText(toQt(screen.productLabel));
    // The tag's characters come from the device: show them as bytes, not as UTF-8.
    m_ui->versionLabel->setText(
        QString::fromLatin1(screen.versionLabel.data(), qsizetype(screen.versionLabel.size())));
    m_ui->validProgramLabel->setText(toQt(screen.validProgramLabel));
    m_ui->port1Group->setTitle(toQt(screen.port1Caption));
    m_ui->port2Group->setTitle(toQt(screen.port2Caption));
    m_ui->configureButton->setEnabled(screen.configureEnabled);
    m_ui->updateButton->setEnabled(screen.updateEnabled);
    m_ui->progGroup->setEnabled(screen.programGroupEnabled);
    m_ui->uploadButton->setEnabled(screen.uploadEnabled);
    m_ui->deleteButton->setEnabled(screen.deleteEnabled);
    m_ui->validProgramLabel->setEnabled(screen.programGroupEnabled);
    m_runMenu->menuAction()->setEnabled(screen.runMenuEnabled);
    if (QAction* download = commandAction(Command::kDownloadProgram)) {
        download->setEnabled(screen.downloadItemEnabled);
    }
    setMark(commandAction(Command::kDemo), screen.portChecks[0]);
    setMark(commandAction(Command::kSelectPort), screen.portChecks[1]);
    setMark(commandAction(Command::kShowHints), screen.hintsChecked);
    applyTips(*this, m_editor.showHints());
}

int CVxconfDlg::runConnectionDialog() {
    initdialog dialog(m_editor, this);
    return dialog.exec();
}

void CVxconfDlg::runUpdateDialog() {
    updateDialog dialog(m_editor, this);
    dialog.exec();
}

void CVxconfDlg::runModeDialog(int mode) {
    const ModeDialogContext context{m_editor.block(), m_editor.notifier(), m_editor.showHints(),
                                    m_help};
    if (mode == 1) {
        ade1adialog dialog(context, this);
        dialog.exec();
    } else if (mode == 2) {
        ade2dialog dialog(context, this);
        dialog.exec();
    }
}

void CVxconfDlg::closeWindow() {
    done(0);
}

void CVxconfDlg::exitProgram() {
    closeWindow();
}

void CVxconfDlg::leaveNow() {
    if (!m_leaving) {
        m_leaving = true;  // a second signal finds the program leaving already
        leaveStep();
    }
}

void CVxconfDlg::leaveStep() {
    QWidget* top = QApplication::activeModalWidget();
    if (top == nullptr || top == this) {
        closeWindow();
        return;
    }
    // The store runs to its end and closes itself; anything else is left from the top down,
    // a question answered No.
    if (qobject_cast<updateDialog*>(top) == nullptr) {
        if (auto* dialog = qobject_cast<QDialog*>(top)) {
            dialog->reject();
        } else {
            top->close();
        }
    }
    QTimer::singleShot(kLeaveStepMs, this, &CVxconfDlg::leaveStep);
}
void CVxconfDlg::selectPcPort() {
    m_editor.chooseOtherPort();
}
void CVxconfDlg::demo() {
    m_editor.enterDemo();
}
void CVxconfDlg::startProgram() {
    m_editor.startProgram();
}
void CVxconfDlg::configure() {
    m_editor.openModeDialog();
}
void CVxconfDlg::updateVx310() {
    m_editor.updateVx310();
}

void CVxconfDlg::toggleHints() {
    m_editor.toggleHints();
}

void CVxconfDlg::loadConfigFile() {
    m_configFiles.loadConfigFile();
}

void CVxconfDlg::saveConfigFile() {
    m_configFiles.saveConfigFile();
}

int CVxconfDlg::runDescriptionDialog(DescriptionDialog& dialog) {
    loadsaveConfigDialog window(dialog, m_editor.showHints(), this);
    return window.exec();
}
void CVxconfDlg::downloadProgram() {
    m_programs.downloadProgram();
}

void CVxconfDlg::uploadProgram() {
    m_programs.uploadProgram();
}

void CVxconfDlg::deleteProgram() {
    m_programs.deleteProgram();
}

int CVxconfDlg::runTransferDialog(const std::function<void(Transfer&)>& prepare) {
    fileUploadDialog dialog(m_editor, this);
    prepare(dialog.transfer());
    return dialog.exec();
}
void CVxconfDlg::helpTopics() {
    m_help->showContents();
}

void CVxconfDlg::about() {
    CAboutDlg dialog(this);
    dialog.exec();
}
