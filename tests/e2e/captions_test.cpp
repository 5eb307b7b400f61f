// Window captions as the window manager shows them (_NET_WM_NAME), on a real X server: the
// offscreen platform would not show what the application object adds to them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <string>

#include "TestSupport.h"
#include "platform/MessageBoxNotifier.h"
#include "sim/SimPort.h"
#include "window/CVxconfApp.h"
#include "window/CVxconfDlg.h"
#include "window/initdialog.h"
#include "window/updateDialog.h"

namespace {

// The title the X server holds for a shown window, read with xprop.
std::string netWmName(QWidget& window) {
    window.show();
    QApplication::processEvents();
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(window.winId()), "-notype", "_NET_WM_NAME"});
    if (!xprop.waitForFinished(5000)) {
        return "(xprop did not answer)";
    }
    // _NET_WM_NAME = "VX310 Configuration"
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const int quote = out.indexOf('"');
    return quote < 0 ? out.toStdString() : out.mid(quote + 1).chopped(1).toStdString();
}

struct Captions : public ::testing::Test {
    Captions() : driver(clock), host(driver) {}
    SimClock clock;
    SimPortDriver driver;
    PlainHost host;
};

TEST_F(Captions, WindowsCarryExactlyTheirOwnCaption) {
    QTemporaryDir dir;
    CVxconfDlg window(driver, dir.filePath("vxconf.ini").toStdString(), &host.notes);
    EXPECT_EQ(netWmName(window), MainText::kCaption);
    initdialog connect(host);
    EXPECT_EQ(netWmName(connect), ConnectText::kCaption);
    updateDialog update(host);
    EXPECT_EQ(netWmName(update), UpdateText::kCaption);
}

TEST_F(Captions, NoticesCarryExactlyTheirCaption) {
    QWidget owner;
    MessageBoxNotifier boxes(&owner);
    for (const char* caption : {kWriteFailureCaption, kProgramName}) {
        std::string seen;
        QTimer::singleShot(300, [&seen] {
            QWidget* box = QApplication::activeModalWidget();
            if (box != nullptr) {
                seen = netWmName(*box);
                box->close();
            }
        });
        boxes.show({kWriteFailureText, caption, NoticeIcon::Exclamation, NoticeButtons::Ok});
        EXPECT_EQ(seen, caption);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The application object of the program itself, with whatever names it gives itself.
    CVxconfApp app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
