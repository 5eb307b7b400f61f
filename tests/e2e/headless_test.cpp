// vxconf's answers that need no window: over SSH there is no display at all.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

#include "ProcessRun.h"

namespace {

// One run of vxconf with no display of any kind in its environment.
Result runWithoutDisplay(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(name);
    }
    return runProcess(VXCONF_GUI, args, env, 15000);
}

TEST(Headless, HelpAndVersionNeedNoDisplay) {
    const Result version = runWithoutDisplay({"--version"});
    EXPECT_EQ(version.code, 0) << version.err;
    EXPECT_EQ(version.out, "vxconf " VXCONF_VERSION "\n");

    for (const char* option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        const Result help = runWithoutDisplay({option});
        EXPECT_EQ(help.code, 0) << help.err;
        EXPECT_EQ(help.out.rfind("Usage: " VXCONF_GUI " [options]\n", 0), 0u) << help.out;
        for (const char* line :
             {"Configures a VX310 serial interface converter.\n", "  --simulate ",
              "  --sim-option <option> ", "  --trace <FILE> ", "  -v, --version "}) {
            EXPECT_NE(help.out.find(line), std::string::npos) << line;
        }
    }
}

TEST(Headless, ABadOptionIsReportedWithoutDisplay) {
    const Result bad = runWithoutDisplay({"--simulat"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.err, "vxconf: Unknown option 'simulat'.\n");
    EXPECT_TRUE(bad.out.empty());

    const Result missing = runWithoutDisplay({"--simulate", "--bogus", "-platform", "offscreen"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "vxconf: Unknown option 'bogus'.\n");
}

// The desktop ends the program at logout or shutdown with SIGTERM or SIGHUP, and people use
// kill: it leaves as Exit does, its port closed and its lock file gone, its settings written.
TEST(Headless, ASignalEndsTheWindowAsExitDoes) {
    QTemporaryDir dir;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        const QString trace = dir.filePath(QString("trace%1").arg(signal));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess window;
        window.setProcessEnvironment(env);
        window.start(VXCONF_GUI, {"--simulate", "--trace", trace});
        ASSERT_TRUE(window.waitForStarted());
        // Connected: the configuration read has come back.
        ASSERT_TRUE(waitUntil([&] { return fileBytes(trace).count(" RX ") > 10; }));
        const QByteArray opened = fileBytes(trace);
        const int at = opened.indexOf("(/dev/");
        ASSERT_GE(at, 0) << opened.toStdString();
        const QByteArray device = opened.mid(at + 6, opened.indexOf(')', at) - at - 6);
        ::kill(static_cast<pid_t>(window.processId()), signal);
        ASSERT_TRUE(window.waitForFinished(30000));
        EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(window.exitCode(), 0);
        EXPECT_TRUE(fileBytes(trace).contains("close COM")) << "the port closed in good order";
        QByteArray lockName = "LCK.." + device;
        lockName.replace('/', '_');
        for (const char* folder : {"/var/lock/", "/run/lock/", "/tmp/"}) {
            EXPECT_FALSE(QFileInfo::exists(folder + lockName)) << folder << lockName.constData();
        }
        EXPECT_TRUE(fileBytes(dir.filePath("vxconf.ini")).contains("Port=comm255"))
            << "the settings were written";
    }
}

}  // namespace
