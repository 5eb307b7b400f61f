// Why a real port does not open, as the port layer finds it: a pseudo-terminal this user may
// not open, one another program holds, a regular file, a path that is not there.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "TestSupport.h"
#include "platform/PortDiagnosis.h"
#include "platform/QtPortDriver.h"

namespace {

constexpr unsigned kPort = 210;
// vxconf-cli's open-failure notice for --device path, up to the reason.
std::string openFailedOn(const std::string& path) {
    return "The selected port " + path +
           " does not exist or may be already in use by another program\n\n" + path;
}

// A pseudo-terminal of our own: the master stays open, nobody answers on it.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            path = ptsname(master);
        }
    }
    ~Pty() {
        if (master >= 0) {
            ::close(master);
        }
    }
    int master = -1;
    std::string path;
};

PortStatus statusOf(const std::string& path) {
    QtPortDriver driver([path](unsigned n) { return n == kPort ? path : std::string(); });
    EXPECT_FALSE(driver.probe(kPort)) << path;
    const PortStatus probed = driver.status(kPort);
    EXPECT_EQ(driver.open(kPort), nullptr);
    EXPECT_EQ(driver.status(kPort), probed) << "probe and open agree";
    return probed;
}

struct CliRun {
    int code = -1;
    std::string err;
};

CliRun cli(const QString& program, const QStringList& args) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", "/nonexistent");
    process.setProcessEnvironment(env);
    process.start(program, args);
    CliRun run;
    if (!process.waitForFinished(40000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitCode();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

TEST(PortReasons, MissingAndNotASerialDevice) {
    QTemporaryDir dir;
    const std::string missing = dir.filePath("ttyUSB9").toStdString();
    EXPECT_EQ(portFaultWords(statusOf(missing)), "no such device");
    const std::string dangling = dir.filePath("by-id").toStdString();
    ASSERT_EQ(symlink(missing.c_str(), dangling.c_str()), 0);
    EXPECT_EQ(portFaultWords(statusOf(dangling)), "no such device");

    const QString file = dir.filePath("plain");
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_EQ(portFaultWords(statusOf(file.toStdString())), "not a serial device");
    EXPECT_EQ(portFaultWords(statusOf("/dev/null")), "not a serial device");

    const CliRun run = cli(VXCONF_CLI, {"--device", file, "read"});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err, openFailedOn(file.toStdString()) + ": not a serial device.\n");
}

TEST(PortReasons, APortAnotherProgramHoldsNamesItsProcess) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    // vxconf-cli waits on the silent terminal for the prompt, holding it and its lock file.
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", "/nonexistent");
    holder.setProcessEnvironment(env);
    holder.start(VXCONF_CLI, {"--device", QString::fromStdString(pty.path), "read"});
    ASSERT_TRUE(holder.waitForStarted(5000));
    const long pid = static_cast<long>(holder.processId());
    for (int i = 0; i < 100 && lockHolder(pty.path, defaultLockFolders()) != pid; ++i) {
        QThread::msleep(50);
    }
    ASSERT_EQ(lockHolder(pty.path, defaultLockFolders()), pid) << "the lock file is there";

    const std::string words =
        "held by another program (process " + std::to_string(pid) + ", vxconf-cli)";
    EXPECT_EQ(portFaultWords(statusOf(pty.path)), words);
    const CliRun run = cli(VXCONF_CLI, {"--device", QString::fromStdString(pty.path), "read"});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err, openFailedOn(pty.path) + ": " + words + ".\n");
    holder.kill();
    holder.waitForFinished(5000);
}

// Root passes TIOCEXCL, and the lock file carries the name the port was opened under: only
// a lock on the device itself keeps a second name of it from opening mid-transfer.
TEST(PortReasons, OneDeviceUnderTwoNamesOpensOnce) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    QTemporaryDir dir;
    const std::string alias = dir.filePath("by-id").toStdString();
    ASSERT_EQ(symlink(pty.path.c_str(), alias.c_str()), 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", "/nonexistent");

    for (const auto& [held, second] : {std::pair{pty.path, alias}, std::pair{alias, pty.path}}) {
        QProcess holder;
        holder.setProcessEnvironment(env);
        holder.start(VXCONF_CLI, {"--device", QString::fromStdString(held), "read"});
        ASSERT_TRUE(holder.waitForStarted(5000));
        const long pid = static_cast<long>(holder.processId());
        for (int i = 0; i < 100 && flockHolder(pty.path) != pid; ++i) {
            QThread::msleep(50);
        }
        EXPECT_EQ(flockHolder(alias), pid) << "held through " << held;

        const std::string words =
            "held by another program (process " + std::to_string(pid) + ", vxconf-cli)";
        EXPECT_EQ(portFaultWords(statusOf(second)), words) << "held through " << held;
        const CliRun run = cli(VXCONF_CLI, {"--device", QString::fromStdString(second), "read"});
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(run.err, openFailedOn(second) + ": " + words + ".\n");
        holder.kill();
        holder.waitForFinished(5000);
    }
    EXPECT_EQ(flockHolder(pty.path), 0) << "the lock goes with its holder";
}

TEST(PortReasons, LockFilesInEveryFormSerialProgramsWrite) {
    QTemporaryDir dir;
    const std::vector<std::string> folders{dir.path().toStdString()};
    const long parent = static_cast<long>(getppid());
    auto lock = [&](const QByteArray& bytes) {
        QFile file(dir.filePath("LCK..ttyUSB7"));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    };
    lock(QByteArray::number(static_cast<qlonglong>(parent)).rightJustified(10, ' ') + "\n");
    EXPECT_EQ(lockHolder("/dev/ttyUSB7", folders), parent);
    lock(QByteArray::number(static_cast<qlonglong>(parent)) + "\nminicom\nhost\n");
    EXPECT_EQ(lockHolder("/dev/ttyUSB7", folders), parent);
    const int binary = static_cast<int>(parent);
    lock(QByteArray(reinterpret_cast<const char*>(&binary), sizeof binary));
    EXPECT_EQ(lockHolder("/dev/ttyUSB7", folders), parent);
    // A binary int whose first byte is a digit: 2099 is "3\x08\0\0", not process 3.
    EXPECT_EQ(pidInLock(std::string("3\x08\0\0", 4)), 2099);
    EXPECT_EQ(pidInLock("3\n"), 3);

    // A lock left by a process that has ended, or by this one, holds nothing.
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    lock(QByteArray::number(static_cast<qlonglong>(child)) + "\n");
    EXPECT_EQ(lockHolder("/dev/ttyUSB7", folders), 0);
    lock(QByteArray::number(static_cast<qlonglong>(getpid())) + "\n");
    EXPECT_EQ(lockHolder("/dev/ttyUSB7", folders), 0);
    lock("garbage");
    EXPECT_EQ(lockHolder("/dev/ttyUSB7", folders), 0);
}

TEST(PortReasons, NoPermissionNamesTheGroupAndTheFix) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv to run the check as a user without rights";
    }
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    // The terminal is root's; the check runs as nobody, in no group.
    ASSERT_EQ(chown(pty.path.c_str(), 0, 5), 0);
    ASSERT_EQ(chmod(pty.path.c_str(), 0660), 0);
    const QStringList asNobody{"--reuid=65534", "--regid=65534", "--clear-groups", VXCONF_CLI};
    CliRun run = cli("/usr/bin/setpriv",
                     asNobody + QStringList{"--device", QString::fromStdString(pty.path), "read"});
    const std::string group = getgrgid(5) ? getgrgid(5)->gr_name : "5";
    const std::string user = getpwuid(65534) ? getpwuid(65534)->pw_name : "USER";
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err, openFailedOn(pty.path) + ": no permission (group " + group +
                           "). To get it: sudo usermod -aG " + group + " " + user +
                           ", then log in again.\n");
    run = cli("/usr/bin/setpriv",
              asNobody + QStringList{"--device", QString::fromStdString(pty.path), "ports"});
    EXPECT_EQ(run.code, 0);
}

}  // namespace
