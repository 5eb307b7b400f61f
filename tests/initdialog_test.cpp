#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "TestSupport.h"
#include "WidgetSupport.h"
#include "device/initdialog.h"

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
