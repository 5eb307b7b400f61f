// The connection read against vx310sim on a pseudo-terminal, with real ports and timers.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTimer>

#include "TestSupport.h"
#include "device/PortNames.h"
#include "platform/QtPortDriver.h"
#include "sim/SimulatorProcess.h"
#include "window/initdialog.h"

namespace {

constexpr unsigned kPort = 200;
constexpr int kHardLimitMs = 15000;

// Ends a modal run that takes too long, so a fault cannot hang the test run.
int execWithLimit(QDialog& dialog) {
    QTimer::singleShot(kHardLimitMs, &dialog, [&dialog] { dialog.done(99); });
    return dialog.exec();
}

TEST(EndToEnd, ConnectionDialogReadsThroughASymlinkedPort) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("vx310");
    SimulatorProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({"--link", link, "--serial", "31337", "--no-program"}, error))
        << error.toStdString();

    PortNames names;
    names.setOverride(kPort, link.toStdString());
    QtPortDriver driver(names.resolver());
    PlainHost host(driver);
    host.port = kPort;
    initdialog dialog(host);
    EXPECT_EQ(execWithLimit(dialog), 0);
    EXPECT_EQ(dialog.machine().state(), ConnectState::Connected);
    EXPECT_EQ(host.configBlock.serialNumber(), 31337);
    EXPECT_FALSE(host.programValid);
    EXPECT_TRUE(host.notes.notices.empty());
    // 261 bytes at 9600 baud need about 272 ms: a handful of ticks, not the whole limit.
    EXPECT_LE(dialog.machine().tickCount(), 10u);

    // The open port is ours alone.
    EXPECT_TRUE(host.serialLink.isOpen());
    QtPortDriver other(names.resolver());
    EXPECT_FALSE(other.probe(kPort));
    EXPECT_EQ(other.open(kPort), nullptr);
    host.serialLink.close();
    EXPECT_TRUE(other.probe(kPort));
}

TEST(EndToEnd, SilentDeviceIsReportedAfterTheLimit) {
    SimulatorProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({"--silent", "--no-pacing"}, error)) << error.toStdString();
    PortNames names;
    names.setOverride(kPort, sim.devicePath().toStdString());
    QtPortDriver driver(names.resolver());
    PlainHost host(driver);
    host.port = kPort;
    initdialog dialog(host);
    // Twenty seconds is too long to wait for here: speed the dialog's timer up.
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.timer().setInterval(5); });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &dialog, [&] {
        if (dialog.machine().state() == ConnectState::Idle) {
            dialog.done(42);
        }
    });
    watch.start(50);
    EXPECT_EQ(execWithLimit(dialog), 42);
    EXPECT_EQ(dialog.machine().tickCount(), ConnectionRead::kTickLimit);
    EXPECT_TRUE(dialog.machine().screen().messageVisible);
}

}  // namespace
