// The main window against vx310sim on a pseudo-terminal: connect, edit, update, read back.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "TestSupport.h"
#include "device/PortNames.h"
#include "platform/QtPortDriver.h"
#include "sim/SimulatorProcess.h"
#include "window/CVxconfDlg.h"

namespace {

constexpr int kPort = 200;

// Ends any modal dialog still up after the limit, so a fault cannot hang the run.
class Watchdog {
public:
    explicit Watchdog(int limitMs) {
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                    dialog->done(99);
                }
            }
        });
        m_timer.start(limitMs);
    }

private:
    QTimer m_timer;
};

TEST(EndToEnd, EditUpdateAndReadBack) {
    QTemporaryDir dir;
    const std::string settings = dir.filePath("vxconf.ini").toStdString();
    SimulatorProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({}, error)) << error.toStdString();
    PortNames names;
    names.setOverride(kPort, sim.devicePath().toStdString());
    QtPortDriver driver(names.resolver());
    Watchdog watchdog(20000);
    RecordingNotifier notes;
    {
        CVxconfDlg window(driver, settings, &notes);
        window.setStartPort(kPort);
        ASSERT_TRUE(window.initialise());
        QComboBox* parity2 = window.formList(P2Parity);
        ASSERT_EQ(parity2->currentText(), "even");

        parity2->setCurrentIndex(2);
        emit parity2->activated(2);
        window.findChild<QPushButton*>("updateButton")->click();
        EXPECT_EQ(parity2->currentText(), "odd");
        EXPECT_EQ(window.editor().block().byte(Offset::p2Parity), 3);
        EXPECT_FALSE(window.findChild<QPushButton*>("updateButton")->isEnabled());
    }
    // A fresh connection finds the device holding the new setting.
    CVxconfDlg again(driver, settings, &notes);
    again.setStartPort(kPort);
    ASSERT_TRUE(again.initialise());
    EXPECT_EQ(again.formList(P2Parity)->currentText(), "odd");
    EXPECT_TRUE(notes.notices.empty());
}

}  // namespace
