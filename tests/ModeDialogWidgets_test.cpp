#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "TestSupport.h"
#include "WidgetSupport.h"
#include "window/CAboutDlg.h"
#include "window/ModeDialogWidgets.h"

namespace {

struct ModeWidgets : public ::testing::Test {
    ModeDialogContext context(bool hints = true) { return {block, notes, hints, &help}; }
    ConfigBlock block = demoBlock();
    RecordingNotifier notes;
    RecordingHelp help;
};

// The widgets in the order Tab visits them, from the one with the focus.
std::vector<int> tabChain(QWidget& dialog, int count) {
    std::vector<int> ids;
    for (int i = 0; i < count; ++i) {
        ids.push_back(QApplication::focusWidget()->property("controlId").toInt());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    (void)dialog;
    return ids;
}

TEST_F(ModeWidgets, TimingOpensOnTheFirstRowAndFollowsTheLayout) {
    ade1dialog dialog(context());
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    auto* first = byId<QLineEdit>(dialog, 1050);
    ASSERT_EQ(QApplication::focusWidget(), first);
    EXPECT_EQ(first->selectedText(), "181");
    EXPECT_EQ(tabChain(dialog, 9),
              (std::vector<int>{1050, 1051, 1052, 1053, 1054, 1055, 1056, 1049, 1058}));
    EXPECT_EQ(byId<QPushButton>(dialog, 1049)->toolTip(), "Restore factory defaults");
    EXPECT_EQ(byId<QPushButton>(dialog, 1056)->toolTip(), "");

    // A failing row keeps the focus with its text selected; nothing is stored.
    auto* third = byId<QLineEdit>(dialog, 1052);
    third->setText("256");
    byId<QPushButton>(dialog, 1055)->click();
    EXPECT_EQ(QApplication::focusWidget(), third);
    EXPECT_EQ(third->selectedText(), "256");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(block, demoBlock());

    byId<QPushButton>(dialog, 1058)->click();
    EXPECT_EQ(help.requests, std::vector<long long>{0x20065});
    QApplication::setActiveWindow(&dialog);
    QTest::keyClick(&dialog, Qt::Key_F1);
    EXPECT_EQ(help.requests, (std::vector<long long>{0x20065, 0x20065})) << "F1 as Help";
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(block, demoBlock());
}

TEST_F(ModeWidgets, Mode1GreysTheDriverForAnRs232PortAndHelpsWithTheTimingTopic) {
    block.setByte(Offset::portInterfaces, 2);
    ade1adialog dialog(context(false));
    dialog.show();
    EXPECT_FALSE(byId<QRadioButton>(dialog, 1059)->isEnabled());
    EXPECT_TRUE(byId<QRadioButton>(dialog, 1062)->isChecked());
    EXPECT_EQ(byId<QPushButton>(dialog, 1076)->toolTip(), "") << "hints are off";
    EXPECT_EQ(byId<QPushButton>(dialog, 1076)->accessibleDescription(),
              "Adjust ADE driver turn-off delay")
        << "and a screen reader still has the hint";
    QApplication::setActiveWindow(&dialog);
    QTest::keyClick(&dialog, Qt::Key_F1);  // as Help, 1073
    byId<QPushButton>(dialog, 1075)->click();
    EXPECT_TRUE(notes.notices.empty());
    EXPECT_EQ(help.requests, std::vector<long long>{0x20065});
}

TEST_F(ModeWidgets, TimingKeptSurvivesCancellingMode1) {
    ade1adialog dialog(context());
    dialog.show();
    // The timing dialog runs modally from "ADE &Timing": work it once it is up.
    QTimer::singleShot(0, [] {
        auto* timing = qobject_cast<ade1dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(timing, nullptr);
        byId<QPushButton>(*timing, 1049)->click();
        byId<QPushButton>(*timing, 1055)->click();
    });
    byId<QPushButton>(dialog, 1076)->click();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        EXPECT_EQ(block.byte(Offset::m1TurnOffDelay + i), kDefaultTurnOffDelays[i]);
    }
}

TEST_F(ModeWidgets, Mode2OpensOnTheAddressAndReactsToTheLeadInBox) {
    ade2dialog dialog(context());
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    auto* address = byId<QLineEdit>(dialog, 1065);
    ASSERT_EQ(QApplication::focusWidget(), address);
    EXPECT_EQ(address->selectedText(), "1");
    EXPECT_EQ(tabChain(dialog, 7), (std::vector<int>{1065, 1064, 1067, 1068, 1070, 1071, 1072}));
    EXPECT_EQ(byId<QLineEdit>(dialog, 1068)->toolTip(),
              "RS232 device response timeout - see User Manual");
    EXPECT_EQ(byId<QCheckBox>(dialog, 1064)->toolTip(), "");

    auto* box = byId<QCheckBox>(dialog, 1064);
    auto* leadIn = byId<QLineEdit>(dialog, 1067);
    box->click();
    EXPECT_EQ(leadIn->text(), "0");
    EXPECT_FALSE(leadIn->isEnabled());
    box->click();
    EXPECT_EQ(leadIn->text(), "100");
    EXPECT_TRUE(leadIn->isEnabled());

    // Leaving the field with 0 in it clears the box.
    leadIn->setFocus();
    leadIn->setText("0");
    address->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(leadIn->isEnabled());

    QApplication::setActiveWindow(&dialog);
    QTest::keyClick(&dialog, Qt::Key_F1);  // as Help, 1072
    EXPECT_EQ(help.requests, std::vector<long long>{0x2006C});
    address->setText("9");
    byId<QPushButton>(dialog, 1070)->click();  // Yes
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(block.byte(Offset::m2Address), 9);
    EXPECT_EQ(block.byte(Offset::m2LeadIn), 0);
}

TEST_F(ModeWidgets, Mode2KeepsRejectedTypingForTheUserToCorrect) {
    ade2dialog dialog(context());
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    auto* address = byId<QLineEdit>(dialog, 1065);
    auto* leadIn = byId<QLineEdit>(dialog, 1067);
    auto* timeout = byId<QLineEdit>(dialog, 1068);
    auto* ok = byId<QPushButton>(dialog, 1070);

    timeout->setFocus(Qt::TabFocusReason);
    timeout->selectAll();
    QTest::keyClicks(timeout, "70000");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(notes.notices, std::vector<Notice>{exclamation(
                                 "Please enter an integer between 0 and 65535.", kProgramName)});
    EXPECT_EQ(timeout->text(), "70000");
    EXPECT_EQ(QApplication::focusWidget(), timeout);
    EXPECT_EQ(timeout->selectedText(), "70000");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(block, demoBlock());

    // Letters in the address; the other fields keep what was typed in them too.
    timeout->setText("2000");
    address->setText("abc");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(notes.notices.back(), exclamation("Please enter a positive integer.", kProgramName));
    EXPECT_EQ(address->text(), "abc");
    EXPECT_EQ(timeout->text(), "2000");
    EXPECT_EQ(QApplication::focusWidget(), address);
    EXPECT_EQ(address->selectedText(), "abc");
    EXPECT_EQ(block, demoBlock());

    // Leaving the lead-in field with letters in it brings the focus back to them.
    address->setText("1");
    leadIn->setFocus(Qt::TabFocusReason);
    leadIn->setText("x5");
    timeout->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(notes.notices.size(), 3u);
    EXPECT_EQ(leadIn->text(), "x5");
    EXPECT_TRUE(leadIn->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), leadIn);
    EXPECT_EQ(block, demoBlock());
}

TEST(About, ShowsTheProgramAndClosesWithEnterOrEscape) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        CAboutDlg about;
        about.show();
        EXPECT_EQ(about.windowTitle(), "About vxconf");
        QStringList texts;
        for (const QLabel* label : about.findChildren<QLabel*>()) {
            texts << label->text();
        }
        EXPECT_TRUE(texts.contains("VX310 Configuration"));
        EXPECT_TRUE(texts.contains("Version " VXCONF_VERSION));
        EXPECT_TRUE(texts.contains("Tessaly Ltd."));
        EXPECT_FALSE(byId<QLabel>(about, 130)->pixmap().isNull());
        QTest::keyClick(&about, key);
        EXPECT_FALSE(about.isVisible());
        EXPECT_EQ(about.result(), QDialog::Accepted);
    }
}

}  // namespace
