#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "TestSupport.h"
#include "WidgetSupport.h"
#include "window/initdialog.h"

namespace {

TEST(initdialog, ShowsTheControlsWithTheirTextsAndIds) {
    SimBench bench;
    initdialog dialog(bench);
    EXPECT_EQ(dialog.windowTitle(), "Reading configuration from VX310");
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    ASSERT_NE(byId<QComboBox>(dialog, 1077), nullptr);
    EXPECT_EQ(byId<QLabel>(dialog, 1031)->text(),
              "Select the PC com port that the VX310 is connected to or press \"Demo\"");
    EXPECT_EQ(byId<QLabel>(dialog, 1030)->text(), "Timeout:");
    EXPECT_EQ(byId<QPushButton>(dialog, 1026)->text(), "&OK");
    EXPECT_EQ(byId<QPushButton>(dialog, 1027)->text(), "&Demo");
    EXPECT_EQ(byId<QPushButton>(dialog, 1028)->text(), "E&xit");
    EXPECT_EQ(byId<QProgressBar>(dialog, 1029)->maximum(), 200);
    ASSERT_NE(byId<QLabel>(dialog, 1032), nullptr);
    ASSERT_NE(byId<QLabel>(dialog, 1033), nullptr);
    for (const QWidget* w : dialog.findChildren<QWidget*>()) {
        EXPECT_TRUE(w->toolTip().isEmpty()) << "the connection dialog shows no tips";
    }
    dialog.machine().initialise();
    EXPECT_FALSE(dialog.findChild<QLabel*>("unopened")->isVisibleTo(&dialog))
        << "nothing to say about ports that do not open";
}

TEST(initdialog, PortsThatAreThereButDoNotOpenAreNamedWithTheReason) {
    SimBench bench;
    PortStatus denied;
    denied.fault = PortFault::NoPermission;
    denied.group = "dialout";
    PortStatus held;
    held.fault = PortFault::Busy;
    held.pid = 4242;
    held.program = "minicom";
    PortStatus empty;
    empty.fault = PortFault::NoHardware;
    bench.driver.setUnopenable(34, "/dev/ttyUSB1", denied);
    bench.driver.setUnopenable(66, "/dev/ttyACM1", held);
    bench.driver.setUnopenable(2, "/dev/ttyS1", empty);
    initdialog dialog(bench);
    dialog.show();
    dialog.machine().initialise();
    const QLabel* unopened = dialog.findChild<QLabel*>("unopened");
    EXPECT_TRUE(unopened->isVisibleTo(&dialog));
    EXPECT_EQ(unopened->text().toStdString(),
              "/dev/ttyUSB1 is there but may not be opened: no permission (group dialout)\n"
              "/dev/ttyACM1 is there but may not be opened: held by another program (process "
              "4242, minicom)");
    // The instruction and the list stay as they are.
    EXPECT_EQ(byId<QLabel>(dialog, 1031)->text(),
              "Select the PC com port that the VX310 is connected to or press \"Demo\"");
    const QComboBox* list = byId<QComboBox>(dialog, 1077);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->itemText(0), "COM3 (simulated VX310)");

    // The listed port stops opening before OK: the notice says where and why, and how to
    // get the permission.
    bench.driver.setUnopenable(3, "/dev/ttyUSB0", denied);
    QTest::mouseClick(byId<QPushButton>(dialog, 1026), Qt::LeftButton);
    ASSERT_EQ(bench.notes.notices.size(), 1u);
    EXPECT_EQ(bench.notes.notices[0],
              exclamation("The selected COM port does not exist or may be already in use by "
                          "another program\n\n/dev/ttyUSB0: no permission (group dialout). To "
                          "get it: sudo usermod -aG dialout " +
                              currentUserName() + ", then log in again.",
                          "vxconf"));
}

TEST(initdialog, WidgetsFollowTheRead) {
    SimBench bench;
    bench.device.faults.silent = true;
    Vx310Sim other;
    bench.driver.attach(12, other);
    bench.port = 3;
    initdialog dialog(bench);
    dialog.show();
    dialog.machine().initialise();

    auto* list = byId<QComboBox>(dialog, 1077);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), "COM12 (simulated VX310)");
    EXPECT_EQ(list->currentText(), "COM3 (simulated VX310)");
    EXPECT_TRUE(dialog.timer().isActive());
    EXPECT_EQ(dialog.timer().interval(), 100);
    EXPECT_TRUE(byId<QProgressBar>(dialog, 1029)->isVisible());
    EXPECT_FALSE(byId<QLabel>(dialog, 1031)->isVisible());
    EXPECT_EQ(byId<QLabel>(dialog, 1033)->text(), "Reading configuration from VX310 on COM3");
    EXPECT_FALSE(byId<QPushButton>(dialog, 1026)->isEnabled());
    EXPECT_EQ(byId<QPushButton>(dialog, 1026)->text(), "&Retry");

    for (int i = 0; i < 200; ++i) {
        bench.clock.advanceMs(100);
        dialog.machine().tick();
    }
    EXPECT_FALSE(dialog.timer().isActive());
    EXPECT_TRUE(byId<QLabel>(dialog, 1032)->isVisible());
    EXPECT_TRUE(byId<QLabel>(dialog, 1032)->text().startsWith("VX310 is not responding on COM3"));
    EXPECT_FALSE(byId<QProgressBar>(dialog, 1029)->isVisible());
    EXPECT_TRUE(byId<QPushButton>(dialog, 1026)->isEnabled());

    // The user picks the other port: Retry reads that one.
    list->setCurrentIndex(0);
    emit list->activated(0);
    QTest::mouseClick(byId<QPushButton>(dialog, 1026), Qt::LeftButton);
    EXPECT_EQ(bench.serialLink.portNumber(), 12u);
    EXPECT_EQ(bench.port, 12);
}

TEST(initdialog, EscapeCountsAsExitAndDemoAsSuccess) {
    SimBench bench;
    {
        initdialog dialog(bench);
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_NE(dialog.result(), 0);
    }
    {
        initdialog dialog(bench);
        dialog.show();
        QTest::mouseClick(byId<QPushButton>(dialog, 1028), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), 1);
    }
    {
        initdialog dialog(bench);
        dialog.show();
        QTest::mouseClick(byId<QPushButton>(dialog, 1027), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), 0);
        EXPECT_EQ(bench.selections.back(), std::make_pair(0, false));
    }
}

// Starting a read shows the progress row and hides the instruction; nothing may move.
TEST(initdialog, LayoutStaysStillWhenARowAppears) {
    SimBench bench;
    bench.device.faults.silent = true;
    initdialog dialog(bench);
    dialog.show();
    dialog.machine().initialise();
    QApplication::processEvents();
    auto* ok = byId<QPushButton>(dialog, 1026);
    const QRect before = ok->geometry();
    const QSize sizeBefore = dialog.size();
    ok->click();
    QApplication::processEvents();
    ASSERT_TRUE(byId<QProgressBar>(dialog, 1029)->isVisible());
    EXPECT_EQ(ok->geometry(), before);
    EXPECT_EQ(dialog.size(), sizeBefore);
}

}  // namespace
