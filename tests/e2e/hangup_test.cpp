// A device that goes away while its port is open, against vx310sim on a pseudo-terminal.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "TestSupport.h"
#include "device/PortNames.h"
#include "platform/QtPortDriver.h"
#include "sim/SimulatorProcess.h"

namespace {

constexpr unsigned kPort = 201;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for ms milliseconds with a 100 ms tick that polls the link, as the
// device dialogs do.
void tickFor(SerialLink& link, int ms) {
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&link] { link.poll(); });
    tick.start(100);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool wakePrompt(SerialLink& link) {
    link.rxCount = 0;
    if (!link.writeString("\r")) {
        return false;
    }
    const QDeadlineTimer deadline(3000);
    while (!link.promptReceived() && !deadline.hasExpired()) {
        tickFor(link, 20);
        link.poll();
    }
    return link.promptReceived();
}

TEST(EndToEnd, DeviceThatGoesAwayCostsNoCpuAndRetryReopensIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("vx310");
    auto sim = std::make_unique<SimulatorProcess>();
    QString error;
    ASSERT_TRUE(sim->start({"--link", path, "--no-pacing"}, error)) << error.toStdString();

    PortNames names;
    names.setOverride(kPort, path.toStdString());
    QtPortDriver driver(names.resolver());
    RecordingNotifier notes;
    SerialLink link(driver, notes);
    ASSERT_TRUE(link.open(kPort));
    ASSERT_TRUE(wakePrompt(link));
    EXPECT_FALSE(link.hungUp());

    sim->stop();
    link.rxCount = 0;
    const double before = cpuSeconds();
    tickFor(link, 2000);
    const double spent = cpuSeconds() - before;
    // A port that keeps reporting its hang-up spins the loop and takes a whole core.
    EXPECT_LT(spent, 0.2) << "CPU seconds in 2 s of ticks after the device went away";
    EXPECT_TRUE(link.hungUp());
    EXPECT_EQ(link.rxCount, 0u);
    EXPECT_FALSE(link.writeString("\r"));
    EXPECT_TRUE(notes.notices.empty());  // failed polls are silent

    // The device comes back: a new open (the connection dialog's Retry) reaches it.
    sim = std::make_unique<SimulatorProcess>();
    ASSERT_TRUE(sim->start({"--link", path, "--no-pacing"}, error)) << error.toStdString();
    ASSERT_TRUE(link.open(kPort));
    EXPECT_FALSE(link.hungUp());
    EXPECT_TRUE(wakePrompt(link));
}

}  // namespace
