// vxconf-cli against devices that misbehave on a real pseudo-terminal: one that goes away,
// one that floods the line, one that never stops talking; and signals mid-transfer.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

#include "ProcessRun.h"
#include "TestSupport.h"
#include "cli/CliSession.h"
#include "device/SerialLink.h"
#include "platform/QtPortDriver.h"
#include "sim/SimulatorProcess.h"

namespace {

// A device of our own on a pseudo-terminal that sends without end: as fast as the line
// takes it, or a byte a millisecond (about the 960 bytes a second of 9600 baud).
class Flood {
public:
    explicit Flood(bool lineRate) {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0) {
            path = ptsname(m_master);
        }
        m_thread = std::thread([this, lineRate] {
            const std::string block(lineRate ? 1 : 4096, 'x');
            while (!m_stop) {
                pollfd out{m_master, POLLOUT, 0};
                if (::poll(&out, 1, 50) == 1 && ::write(m_master, block.data(), block.size()) > 0) {
                    sent += block.size();
                }
                if (lineRate) {
                    ::usleep(1000);
                }
            }
        });
    }
    ~Flood() {
        stop();
        ::close(m_master);
    }
    void stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int master() const { return m_master; }
    std::string path;
    std::atomic<std::size_t> sent{0};

private:
    int m_master = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A running process's peak resident memory (kB) and the CPU time it has used (s).
struct Usage {
    long peakKb = 0;
    double cpuSeconds = 0;
};
Usage usageOf(qint64 pid) {
    Usage usage;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> usage.peakKb;
        }
        status.ignore(1 << 10, '\n');
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    unsigned long user = 0;
    unsigned long system = 0;
    if (close != std::string::npos &&
        std::sscanf(text.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                    &user, &system) == 2) {
        usage.cpuSeconds = double(user + system) / double(sysconf(_SC_CLK_TCK));
    }
    return usage;
}

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
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(limitMs)) {
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
    const QString trace = dir.filePath("trace");
    start(process, {"--device", link, "--trace", trace, "read"});
    // The read is under way once the port is open and the prompt asked for.
    ASSERT_TRUE(waitUntil([&] { return sentIn(trace).contains('\r'); }));
    sim.stop();
    clock.start();
    const CliRun run = finish(process, clock);
    EXPECT_EQ(run.code, kExitDevice);
    const std::string path = link.toStdString();
    EXPECT_EQ(run.err, "The selected port " + path +
                           " does not exist or may be already in use by another program\n\n" +
                           path + ": no such device.\n");
    // Not the 20 s of a device that does not answer.
    EXPECT_LT(run.ms, 15000);
}

// Whatever a device sends, and for as long as it sends, vxconf-cli's memory stays bounded:
// here the 20 s of a read that never sees a prompt, against a flood and at the line rate.
TEST_F(HostileDevice, MemoryStaysBoundedWhileADeviceFloodsTheLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's own memory hides the program's";
#endif
    constexpr long kCeilingKb = 64 * 1024;
    Flood fast(false);
    Flood lineRate(true);
    ASSERT_FALSE(fast.path.empty());
    ASSERT_FALSE(lineRate.path.empty());
    QProcess fastRun;
    QProcess slowRun;
    QElapsedTimer clock;
    clock.start();
    start(fastRun, {"--device", QString::fromStdString(fast.path), "read"});
    start(slowRun, {"--device", QString::fromStdString(lineRate.path), "read"});
    Usage fastUsage;
    Usage slowUsage;
    auto sample = [](QProcess& process, Usage& usage) {
        if (process.state() == QProcess::Running) {
            const Usage now = usageOf(process.processId());
            usage.peakKb = std::max(usage.peakKb, now.peakKb);
            usage.cpuSeconds = std::max(usage.cpuSeconds, now.cpuSeconds);
        }
    };
    while (fastRun.state() != QProcess::NotRunning || slowRun.state() != QProcess::NotRunning) {
        sample(fastRun, fastUsage);
        sample(slowRun, slowUsage);
        if (fastUsage.peakKb > 4 * kCeilingKb || clock.elapsed() > 40000) {
            break;  // far past the ceiling already: no need to wait for the machine to suffer
        }
        fastRun.waitForFinished(50);
        slowRun.waitForFinished(50);
    }
    const CliRun fastResult = finish(fastRun, clock, 1000);
    const CliRun slowResult = finish(slowRun, clock, 1000);
    std::cout << "flood: " << fast.sent / 1024 << " KB sent, peak " << fastUsage.peakKb / 1024
              << " MB, " << fastUsage.cpuSeconds << " s CPU\n"
              << "line rate: " << lineRate.sent / 1024 << " KB sent, peak "
              << slowUsage.peakKb / 1024 << " MB, " << slowUsage.cpuSeconds << " s CPU\n";
    EXPECT_LT(fastUsage.peakKb, kCeilingKb);
    EXPECT_LT(slowUsage.peakKb, kCeilingKb);
    EXPECT_EQ(fastResult.code, kExitDevice) << fastResult.err;
    EXPECT_EQ(slowResult.code, kExitDevice) << slowResult.err;
}

// A HEX file of count 16-byte records from 0x4004, which the simulator takes.
QByteArray hexFile(int count) {
    QByteArray text;
    for (int r = 0; r < count; ++r) {
        QByteArray record;
        const unsigned address = 0x4004 + 16 * r;
        record.append(char(16)).append(char(address >> 8)).append(char(address & 0xFF));
        record.append('\0');
        for (int i = 0; i < 16; ++i) {
            record.append(char(r + i));
        }
        unsigned sum = 0;
        for (const char c : record) {
            sum += static_cast<unsigned char>(c);
        }
        record.append(char((0x100 - (sum & 0xFF)) & 0xFF));
        text += ":" + record.toHex().toUpper() + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

// Interrupted mid-upload, vxconf-cli aborts as the Abort button does: the unit gets CR ESC
// and answers at its prompt at once; the exit status tells which signal it was.
TEST_F(HostileDevice, ASignalMidUploadLeavesTheUnitAtItsPrompt) {
    const QString link = dir.filePath("vx310");
    SimulatorProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({"--link", link}, error)) << error.toStdString();
    const QString hex = dir.filePath("prog.hex");
    QFile file(hex);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(hexFile(120));  // about 6 s at 800 bytes a second
    file.close();

    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const QString trace = dir.filePath(QString("trace%1.txt").arg(signal));
        QProcess upload;
        QElapsedTimer clock;
        clock.start();
        start(upload, {"--device", link, "--yes", "--trace", trace, "upload", hex});
        ASSERT_TRUE(waitUntil([&] { return sentIn(trace).count(':') >= 5; }));
        ASSERT_EQ(::kill(static_cast<pid_t>(upload.processId()), signal), 0);
        const CliRun run = finish(upload, clock, 15000);
        EXPECT_FALSE(run.crashed) << "signal " << signal;
        EXPECT_EQ(run.code, 128 + signal) << run.err;
        EXPECT_NE(run.err.find("Program Upload Aborted\n"), std::string::npos) << run.err;
        QFile traced(trace);
        ASSERT_TRUE(traced.open(QIODevice::ReadOnly));
        const QByteArray wire = traced.readAll();
        EXPECT_TRUE(wire.contains(" TX 0d 1b ")) << "CR ESC, signal " << signal;
        EXPECT_TRUE(wire.contains("close COM")) << "the port closed in good order";

        // A unit left half-way through a program would not answer a read.
        const CliRun read = cli({"--device", link, "read"}, 30000);
        EXPECT_EQ(read.code, kExitOk) << read.err;
    }
}

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long kb = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> kb;
        }
        status.ignore(1 << 10, '\n');
    }
    return kb;
}

// Runs the event loop for ms milliseconds, with a 100 ms tick that polls the link when a
// dialog's machine would be running, or none at all for an idle window.
void runFor(int ms, SerialLink* polled = nullptr, std::string* received = nullptr) {
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        polled->poll();
        received->append(polled->received());
        polled->rxCount = 0;
    });
    if (polled) {
        tick.start(100);
    }
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window's port while no dialog ticks (the main window, the connection dialog after "not
// responding"): a device that floods it costs no memory, and what it sent then is dropped,
// while a dialog that polls still gets every byte, in order.
TEST(HostilePort, AnIdlePortHoldsLittleAndDropsWhatNobodyHeard) {
    Flood flood(false);
    ASSERT_FALSE(flood.path.empty());
    const std::string path = flood.path;
    QtPortDriver driver([path](unsigned n) { return n == 7 ? path : std::string(); });
    RecordingNotifier notes;
    SerialLink link(driver, notes);
    ASSERT_TRUE(link.open(7));
    const long before = residentKb();
    runFor(3000);
    const long grown = residentKb() - before;
    flood.stop();
    EXPECT_LT(grown, 32 * 1024) << "kB taken in 3 s of an idle, flooded port";
    link.poll();
    EXPECT_EQ(link.rxCount, 0u) << "bytes that came while nobody listened";

    // A burst of several ticks' worth, while a dialog polls: all of it, in order.
    std::string burst;
    for (int i = 0; i < 6000; ++i) {
        burst += static_cast<char>('a' + i % 26);
    }
    std::thread writer([&] {
        for (std::size_t done = 0; done < burst.size();) {
            pollfd out{flood.master(), POLLOUT, 0};
            const ssize_t put =
                ::poll(&out, 1, 1000) == 1
                    ? ::write(flood.master(), burst.data() + done, burst.size() - done)
                    : -1;
            if (put <= 0) {
                break;
            }
            done += static_cast<std::size_t>(put);
        }
    });
    std::string received;
    runFor(1500, &link, &received);
    writer.join();
    EXPECT_EQ(received, burst);
}

}  // namespace
