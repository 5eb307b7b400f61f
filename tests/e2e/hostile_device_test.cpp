// vxconf-cli against devices that misbehave on a real pseudo-terminal: one that goes away,
// one that floods the line, one that never stops talking; and signals mid-transfer.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "app/Cli.h"
#include "app/SimulatorProcess.h"

namespace {

struct CliRun {
    int code = -1;
    bool crashed = false;
    std::string out;
    std::string err;
    qint64 ms = 0;
};

struct HostileDevice : public ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path());
    }

    void start(QProcess& process, const QStringList& args) {
        process.setProcessEnvironment(env);
        process.start(VXCONF_CLI, args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    // Waits for a run started with start(), killing it after limitMs.
    CliRun finish(QProcess& process, const QElapsedTimer& since, int limitMs = 40000) {
        CliRun run;
        if (!process.waitForFinished(limitMs)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "vxconf-cli did not finish in " << limitMs << " ms";
        }
        run.ms = since.elapsed();
        run.crashed = process.exitStatus() != QProcess::NormalExit;
        run.code = run.crashed ? -1 : process.exitCode();
        run.out = process.readAllStandardOutput().toStdString();
        run.err = process.readAllStandardError().toStdString();
        return run;
    }

    CliRun cli(const QStringList& args, int limitMs = 40000) {
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        start(process, args);
        return finish(process, clock, limitMs);
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
};

TEST_F(HostileDevice, ADeviceThatGoesAwayDuringAReadEndsItAtOnce) {
    const QString link = dir.filePath("vx310");
    SimulatorProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({"--link", link, "--silent"}, error)) << error.toStdString();
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    start(process, {"--device", link, "read"});
    QThread::msleep(1500);
    sim.stop();
    const CliRun run = finish(process, clock);
    EXPECT_EQ(run.code, kExitDevice);
    const std::string path = link.toStdString();
    EXPECT_EQ(run.err, "The selected port " + path +
                           " does not exist or may be already in use by another program\n\n" +
                           path + ": no such device.\n");
    // Not the 20 s of a device that does not answer.
    EXPECT_LT(run.ms, 6000);
}

}  // namespace
