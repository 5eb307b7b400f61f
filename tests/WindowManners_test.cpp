#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "platform/WindowManners.h"

namespace {

// The filter as the program installs it, for the windows of one test.
struct MannersTest : public ::testing::Test {
    WindowManners manners;
    void SetUp() override { manners.install(); }
    void TearDown() override { qApp->removeEventFilter(&manners); }
};

TEST_F(MannersTest, NarrowDialogsAndNoticesAreWideEnoughForTheirCaptions) {
    // Side by side, as the mode dialogs lay out their fields and buttons.
    QDialog dialog;
    auto* row = new QHBoxLayout(&dialog);
    row->addWidget(new QLabel("1"));
    row->addWidget(new QPushButton("OK"));
    dialog.setWindowTitle("Reading configuration from VX310");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_GE(dialog.width(), captionWidth(dialog.windowTitle()));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "the size its contents need";

    // A caption that grows while the window is up widens it again.
    dialog.setWindowTitle("Reading configuration from VX310 on a much longer caption");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return dialog.width() >= captionWidth(dialog.windowTitle()); }, 10000));

    QMessageBox box(QMessageBox::Warning, "Unexpected response from VX310", "x", QMessageBox::Ok);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_GE(box.width(), captionWidth(box.windowTitle()));
}

TEST_F(MannersTest, AWideDialogKeepsItsOwnWidthAndTheMainWindowIsLeftAlone) {
    QDialog wide;
    auto* row = new QHBoxLayout(&wide);
    row->addWidget(new QLabel(QString(120, 'w')));
    wide.setWindowTitle("A");
    wide.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wide));
    EXPECT_EQ(wide.width(), wide.layout()->sizeHint().width());

    QDialog window(nullptr, Qt::Window);
    new QHBoxLayout(&window);
    window.setWindowTitle("VX310 Configuration");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_NE(window.minimumSize(), window.maximumSize()) << "the main window stays resizable";
}

}  // namespace
