#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "WidgetSupport.h"
#include "window/CVxconfDlg.h"
#include "window/ModeDialogWidgets.h"
#include "window/initdialog.h"

namespace {

// The widget Tab moves to from w.
QWidget* nextTabStop(QWidget* w) {
    QWidget* next = w->nextInFocusChain();
    while (next != w && !(next->focusPolicy() & Qt::TabFocus)) {
        next = next->nextInFocusChain();
    }
    return next;
}

// Lists a menu as "text=id" entries, separators as "-".
std::vector<std::string> entries(const QMenu* menu) {
    std::vector<std::string> out;
    for (const QAction* a : menu->actions()) {
        out.push_back(a->isSeparator() ? "-"
                                       : a->text().toStdString() + "=" +
                                             std::to_string(a->property("controlId").toInt()));
    }
    return out;
}

struct WindowTest : public ::testing::Test {
    WindowTest() : driver(clock) {
        // Without wire timing the simulated device answers at once, so the dialogs' real
        // timers finish a read in two ticks.
        device.pacing = false;
        driver.attach(1, device);
        settingsFile = dir.filePath("vxconf.ini").toStdString();
    }

    void writeSettings(const std::string& text) {
        std::ofstream(settingsFile, std::ios::binary) << text;
    }
    std::string settingsText() const {
        std::ifstream in(settingsFile, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    QTemporaryDir dir;
    std::string settingsFile;
    SimClock clock;
    Vx310Sim device;
    SimPortDriver driver;
    RecordingNotifier notes;
    RecordingHelp help;
};

// Runs f on the modal dialog of type T once it is up.
template <typename T, typename F>
void whenModal(F f) {
    QTimer::singleShot(0, [f] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        f(*dialog);
    });
}

TEST_F(WindowTest, MenuAndControlsCarryTheirTextsAndIds) {
    writeSettings("[Options]\r\nDownload=1\r\n[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes);
    ASSERT_TRUE(window.initialise());
    EXPECT_EQ(window.windowTitle(), "VX310 Configuration");

    const QMenuBar* bar = window.findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    std::vector<std::string> titles;
    std::vector<QMenu*> menus;
    for (const QAction* a : bar->actions()) {
        titles.push_back(a->text().toStdString());
        menus.push_back(a->menu());
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Port", "Run", "&Help"}));
    ASSERT_EQ(menus.size(), 4u);
    EXPECT_EQ(entries(menus[0]),
              (std::vector<std::string>{"&Load Config File=32778", "&Save Config File=32779", "-",
                                        "Download Program=106", "-", "E&xit=105"}));
    EXPECT_EQ(entries(menus[1]),
              (std::vector<std::string>{"&Select PC COM Port=32771", "&Demo=32775"}));
    EXPECT_EQ(entries(menus[2]), (std::vector<std::string>{"&Start VX310 Program=32777"}));
    EXPECT_EQ(entries(menus[3]),
              (std::vector<std::string>{"&Help Topics=32776", "-", "Show &Hints=32780", "-",
                                        "&About VXCONF...=104"}));

    const std::pair<int, const char*> buttons[] = {{1009, "&Configure"},
                                                   {1014, "Up&load Program"},
                                                   {1001, "&Delete Program"},
                                                   {1007, "&Update VX310"}};
    for (const auto& [id, text] : buttons) {
        ASSERT_NE(byId<QPushButton>(window, id), nullptr) << id;
        EXPECT_EQ(byId<QPushButton>(window, id)->text(), text);
    }
    EXPECT_EQ(byId<QGroupBox>(window, 1045)->title(), "PROG User Program");
    EXPECT_EQ(byId<QGroupBox>(window, 1046)->title(), "ADE Fixed Program");
    EXPECT_EQ(byId<QGroupBox>(window, 1043)->title(), "Port 1 (RS422/485)");
    EXPECT_EQ(byId<QLabel>(window, 1020)->text(), "PC Port: COM1");
    EXPECT_EQ(byId<QLabel>(window, 1023)->text(), "Serial Number: 4711");
    EXPECT_EQ(byId<QLabel>(window, 1021)->text(), "Product Type: PROG");
    EXPECT_EQ(byId<QLabel>(window, 1022)->text(), "Version: v1.04");
    EXPECT_EQ(byId<QLabel>(window, 1016)->text(), "Valid Program: YES");

    // Every list, with its entries, in the order of the form; the tab chain follows it.
    const int ids[] = {1005, 1006, 1008, 1010, 1011, 1012, 1015,
                       1017, 1018, 1019, 1025, 1026, 1004};
    QWidget* previous = nullptr;
    for (int id : ids) {
        QComboBox* list = byId<QComboBox>(window, id);
        ASSERT_NE(list, nullptr) << id;
        if (previous != nullptr) {
            EXPECT_EQ(nextTabStop(previous), list) << id;
        }
        previous = list;
    }
    EXPECT_EQ(byId<QComboBox>(window, 1015)->count(), 21);
    EXPECT_EQ(byId<QComboBox>(window, 1004)->itemText(3), "off");
    QWidget* after = nextTabStop(previous);
    for (int id : {1009, 1014, 1001, 1007}) {
        EXPECT_EQ(after, byId<QPushButton>(window, id)) << id;
        after = nextTabStop(after);
    }
}

TEST_F(WindowTest, EditsEnableUpdateAndModeChangesGreyRun) {
    writeSettings("[CommPort]\r\nPort=comm1\r\n[Options]\r\nDownload=1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes);
    ASSERT_TRUE(window.initialise());
    QPushButton* update = byId<QPushButton>(window, 1007);
    QComboBox* parity2 = byId<QComboBox>(window, 1018);
    EXPECT_FALSE(update->isEnabled());
    EXPECT_EQ(parity2->currentText(), "even");
    EXPECT_TRUE(window.runMenu()->menuAction()->isEnabled());

    parity2->setCurrentIndex(2);
    EXPECT_FALSE(update->isEnabled()) << "the program filling in the form is no edit";
    emit parity2->activated(2);
    EXPECT_TRUE(update->isEnabled());

    QComboBox* mode = byId<QComboBox>(window, 1004);
    mode->setCurrentIndex(1);
    emit mode->activated(1);
    EXPECT_FALSE(window.runMenu()->menuAction()->isEnabled());
    EXPECT_FALSE(window.commandAction(Command::kDownloadProgram)->isEnabled());
    EXPECT_TRUE(byId<QPushButton>(window, 1009)->isEnabled());

    // Demonstration: the fixed block, the check mark, and Run available again.
    window.commandAction(Command::kDemo)->trigger();
    EXPECT_EQ(byId<QLabel>(window, 1020)->text(), "PC Port: Demo");
    EXPECT_TRUE(window.commandAction(Command::kDemo)->isChecked());
    EXPECT_FALSE(window.commandAction(Command::kSelectPort)->isChecked());
    EXPECT_TRUE(window.runMenu()->menuAction()->isEnabled());
    EXPECT_EQ(byId<QComboBox>(window, 1015)->currentText(), "19200");
    EXPECT_EQ(byId<QComboBox>(window, 1004)->currentText(), "2");
}

// A checkable action is drawn with a box even when unchecked: only marked commands may be.
TEST_F(WindowTest, OnlyMarkedCommandsShowACheckIndicator) {
    writeSettings("[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes);
    ASSERT_TRUE(window.initialise());
    auto marks = [&window] {
        std::string out;
        for (int id : {Command::kSelectPort, Command::kDemo, Command::kShowHints}) {
            const QAction* a = window.commandAction(id);
            out += a->isCheckable() ? (a->isChecked() ? "X" : "box") : "-";
        }
        return out;
    };
    EXPECT_EQ(marks(), "X-X");  // COM1 marks "Select PC COM Port"
    window.commandAction(Command::kDemo)->trigger();
    EXPECT_EQ(marks(), "-XX");
    window.commandAction(Command::kShowHints)->trigger();
    EXPECT_EQ(marks(), "-X-");
    window.commandAction(Command::kDemo)->trigger();  // choosing it again keeps the mark
    window.commandAction(Command::kShowHints)->trigger();
    EXPECT_EQ(marks(), "-XX");
}

TEST_F(WindowTest, Mode1DefaultsReachTheDeviceThroughUpdate) {
    device.block.setByte(Offset::adeMode, 1);
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        device.block.setByte(Offset::m1TurnOffDelay + i, 10 + i);
    }
    device.block.setByte(Offset::checksum, computeChecksum(device.block));
    const ConfigBlock before = device.block;
    writeSettings("[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes, &help);
    ASSERT_TRUE(window.initialise());
    whenModal<ade1adialog>([](ade1adialog& mode1) {
        whenModal<ade1dialog>([](ade1dialog& timing) {
            byId<QPushButton>(timing, 1049)->click();  // Set Defaults
            byId<QPushButton>(timing, 1055)->click();  // OK, then Yes
        });
        byId<QPushButton>(mode1, 1076)->click();
        byId<QPushButton>(mode1, 1075)->click();
    });
    byId<QPushButton>(window, 1009)->click();
    ASSERT_EQ(notes.notices.size(), 1u);
    EXPECT_EQ(notes.notices[0].text, ModeText::kKeepChanges);
    EXPECT_TRUE(byId<QPushButton>(window, 1007)->isEnabled());
    byId<QPushButton>(window, 1007)->click();

    EXPECT_EQ(device.loadsStored, 1);
    for (std::size_t i = 0; i < kBlockSize - 1; ++i) {
        const bool delay = i >= Offset::m1TurnOffDelay && i < Offset::m1TurnOffDelay + 5;
        EXPECT_EQ(device.block.byte(i),
                  delay ? kDefaultTurnOffDelays[i - Offset::m1TurnOffDelay] : before.byte(i))
            << "byte " << i;
    }
}

TEST_F(WindowTest, TipsFollowShowHintsAndF1OpensTheControlsTopic) {
    writeSettings("[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes, &help);
    ASSERT_TRUE(window.initialise());
    EXPECT_EQ(byId<QPushButton>(window, 1007)->toolTip(), "Update VX310 configuration");
    EXPECT_EQ(byId<QComboBox>(window, 1011)->toolTip(),
              "If enabled, VX310 emits Xon/Xoff chars to control reception of data on Port 1");
    EXPECT_EQ(byId<QComboBox>(window, 1005)->toolTip(), "") << "no hint for the baud rate";
    window.commandAction(Command::kShowHints)->trigger();
    EXPECT_EQ(byId<QPushButton>(window, 1007)->toolTip(), "") << "off at once";
    EXPECT_EQ(byId<QPushButton>(window, 1007)->accessibleDescription(),
              "Update VX310 configuration")
        << "a screen reader still has it";
    window.commandAction(Command::kShowHints)->trigger();
    EXPECT_EQ(byId<QPushButton>(window, 1014)->toolTip(), "Send a user program to the VX310");

    byId<QComboBox>(window, 1005)->setFocus();
    QTest::keyClick(&window, Qt::Key_F1);
    byId<QPushButton>(window, 1014)->setFocus();
    QTest::keyClick(&window, Qt::Key_F1);
    window.commandAction(Command::kHelpTopics)->trigger();
    EXPECT_EQ(help.requests, (std::vector<long long>{0x806B03ED, 0x806B03F6, 0}));
}

TEST_F(WindowTest, HelpViewerIsToldToQuitWithTheWindow) {
    writeSettings("[CommPort]\r\nPort=comm1\r\n");
    {
        CVxconfDlg window(driver, settingsFile, &notes, &help);
        ASSERT_TRUE(window.initialise());
        EXPECT_TRUE(help.requests.empty());
    }
    EXPECT_EQ(help.requests, std::vector<long long>{-1});
}

TEST_F(WindowTest, OutOfRangeCodeShowsNoSelection) {
    device.block.setByte(Offset::p1Baud, 99);
    device.block.setByte(Offset::checksum, computeChecksum(device.block));
    writeSettings("[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes);
    ASSERT_TRUE(window.initialise());
    EXPECT_EQ(byId<QComboBox>(window, 1005)->currentIndex(), -1);
}

TEST_F(WindowTest, SettingsPersistBetweenRuns) {
    writeSettings(
        "; kept\r\n[FormPos]\r\nLeftPos=40\r\nTopPos=50\r\n[CommPort]\r\nPort=comm1\r\n"
        "[Hints]\r\nSelected=NO\r\n");
    {
        CVxconfDlg window(driver, settingsFile, &notes);
        ASSERT_TRUE(window.initialise());
        // The position is the client area's: the frame is the window manager's.
        EXPECT_EQ(window.geometry().topLeft(), QPoint(40, 50));
        EXPECT_FALSE(window.commandAction(Command::kShowHints)->isChecked());
        EXPECT_EQ(window.fileMenu()->actions().size(), 4) << "no Download item";
        window.commandAction(Command::kShowHints)->trigger();
        window.setGeometry(QRect(QPoint(60, 70), window.size()));
    }
    EXPECT_EQ(settingsText(),
              "; kept\r\n[FormPos]\r\nLeftPos=60\r\nTopPos=70\r\n[CommPort]\r\nPort=comm1\r\n"
              "[Hints]\r\nSelected=YES\r\n");

    // A position off every screen brings the window back where it can be reached.
    writeSettings("[FormPos]\r\nLeftPos=-30000\r\nTopPos=-30000\r\n[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes);
    ASSERT_TRUE(window.initialise());
    EXPECT_GE(window.pos().x(), 0);
    EXPECT_GE(window.pos().y(), 0);

    // So does one whose title bar, above it, would be off the top of the screen.
    writeSettings("[FormPos]\r\nLeftPos=100\r\nTopPos=4\r\n[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg high(driver, settingsFile, &notes);
    ASSERT_TRUE(high.initialise());
    EXPECT_GE(high.geometry().top(), 30);
}

TEST_F(WindowTest, EscapeDoesNotCloseTheMainWindow) {
    writeSettings("[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes);
    ASSERT_TRUE(window.initialise());
    window.show();
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible());
    window.commandAction(Command::kExit)->trigger();
    EXPECT_FALSE(window.isVisible());
}

}  // namespace

namespace {

TEST_F(WindowTest, TheMainWindowsTipsStayOutOfTheDialogsOpenOverIt) {
    writeSettings("[CommPort]\r\nPort=comm1\r\n");
    CVxconfDlg window(driver, settingsFile, &notes);
    ASSERT_TRUE(window.initialise());
    // The connection dialog's OK/Retry shares its id with Port 2's TX Xon/Xoff list.
    initdialog dialog(window.editor(), &window);
    window.commandAction(Command::kShowHints)->trigger();
    window.commandAction(Command::kShowHints)->trigger();
    EXPECT_EQ(byId<QComboBox>(window, 1026)->toolTip(),
              "If enabled, Xon/Xoff characters control data being transmitted on Port 2");
    for (const QWidget* w : dialog.findChildren<QWidget*>()) {
        EXPECT_TRUE(w->toolTip().isEmpty()) << w->objectName().toStdString();
    }
}

}  // namespace
