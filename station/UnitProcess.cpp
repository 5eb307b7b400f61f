#include "UnitProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <utility>

#include "cli/ExitStatus.h"
#include "station/UnitLauncher.h"

namespace {

// A program of its own as a unit.
class ProgramUnit : public UnitProcess {
public:
    ProgramUnit(const QString& program, const QStringList& arguments) {
        // A process group of its own: an interrupt at the terminal reaches the run alone,
        // which passes it on. A unit whose run dies gets SIGTERM, and aborts what it does
        // through the machine's own Abort instead of running on unsupervised.
        const pid_t parent = ::getpid();
        m_process.setChildProcessModifier([parent] {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) {
                ::_exit(kExitSignalBase + SIGTERM);  // the run died before the line above
            }
        });
        connect(&m_process, &QProcess::readyReadStandardOutput, this, &UnitProcess::outputReady);
        connect(&m_process, &QProcess::finished, this,
                [this](int code, QProcess::ExitStatus status) {
                    emit ended(code, status == QProcess::CrashExit);
                });
        // Queued: a program that does not start says so inside start().
        connect(
            &m_process, &QProcess::errorOccurred, this,
            [this](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) {
                    emit failedToStart(m_process.errorString());
                }
            },
            Qt::QueuedConnection);
        m_process.start(program, arguments);
    }
    ~ProgramUnit() override {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(1000);
        }
    }
    void write(const QByteArray& bytes) override {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.write(bytes);
        }
    }
    QByteArray readOutput() override { return m_process.readAllStandardOutput(); }
    QByteArray readErrors() override { return m_process.readAllStandardError(); }
    pid_t pid() const override {
        return m_process.state() == QProcess::Running ? static_cast<pid_t>(m_process.processId())
                                                      : 0;
    }

private:
    QProcess m_process;
};

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

// A unit forked by the launcher, talked to through three pipes.
class LaunchedUnit : public UnitProcess {
public:
    explicit LaunchedUnit(UnitStarter& starter) : m_starter(&starter) {
        int in[2] = {-1, -1};
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        int error = 0;
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0) {
            error = errno;
        } else {
            m_pid = starter.m_launcher->spawn(in[0], out[1], err[1], error);
        }
        for (int* fd : {&in[0], &out[1], &err[1]}) {
            closeFd(*fd);
        }
        m_in = in[1];
        m_out = out[0];
        m_err = err[0];
        if (m_pid <= 0) {
            m_pid = 0;
            const QString why = QString::fromLocal8Bit(std::strerror(error));
            QTimer::singleShot(0, this, [this, why] { emit failedToStart(why); });
            return;
        }
        starter.m_launched[m_pid] = this;
        for (const int fd : {m_in, m_out, m_err}) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
        m_outNotifier = std::make_unique<QSocketNotifier>(m_out, QSocketNotifier::Read);
        connect(m_outNotifier.get(), &QSocketNotifier::activated, this, [this] {
            if (drain(m_out, m_output, *m_outNotifier)) {
                emit outputReady();
            }
        });
        m_errNotifier = std::make_unique<QSocketNotifier>(m_err, QSocketNotifier::Read);
        connect(m_errNotifier.get(), &QSocketNotifier::activated, this,
                [this] { drain(m_err, m_errors, *m_errNotifier); });
        m_inNotifier = std::make_unique<QSocketNotifier>(m_in, QSocketNotifier::Write);
        m_inNotifier->setEnabled(false);
        connect(m_inNotifier.get(), &QSocketNotifier::activated, this, [this] { flush(); });
    }

    ~LaunchedUnit() override {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
        }
        if (m_starter != nullptr && m_pid > 0) {
            m_starter->m_launched.erase(m_pid);
        }
        m_outNotifier.reset();
        m_errNotifier.reset();
        m_inNotifier.reset();
        for (int* fd : {&m_in, &m_out, &m_err}) {
            closeFd(*fd);
        }
    }

    void write(const QByteArray& bytes) override {
        if (m_in < 0) {
            return;
        }
        m_input += bytes;
        flush();
    }
    QByteArray readOutput() override { return std::exchange(m_output, {}); }
    QByteArray readErrors() override { return std::exchange(m_errors, {}); }
    pid_t pid() const override { return m_pid; }

    // The launcher reaped it: what it wrote is read to the end before its end is told.
    void reaped(int status) {
        m_starter->m_launched.erase(m_pid);
        m_pid = 0;
        if (m_outNotifier) {
            drain(m_out, m_output, *m_outNotifier);
            drain(m_err, m_errors, *m_errNotifier);
            m_inNotifier->setEnabled(false);
        }
        closeFd(m_in);
        if (!m_output.isEmpty()) {
            emit outputReady();
        }
        if (WIFSIGNALED(status)) {
            emit ended(WTERMSIG(status), true);
        } else {
            emit ended(WEXITSTATUS(status), false);
        }
    }

    void forgetStarter() { m_starter = nullptr; }

private:
    // Reads what the pipe holds; whether anything came. At its end the notifier stops.
    static bool drain(int fd, QByteArray& into, QSocketNotifier& notifier) {
        bool any = false;
        char buffer[65536];
        while (true) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got > 0) {
                into.append(buffer, got);
                any = true;
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                if (got == 0) {
                    notifier.setEnabled(false);
                }
                return any;
            }
        }
    }

    void flush() {
        while (!m_input.isEmpty() && m_in >= 0) {
            const ssize_t put = ::write(m_in, m_input.constData(), m_input.size());
            if (put > 0) {
                m_input.remove(0, put);
            } else if (put < 0 && errno == EINTR) {
                continue;
            } else if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                m_input.clear();  // the unit has gone: its end says the rest
            }
        }
        m_inNotifier->setEnabled(!m_input.isEmpty());
    }

    UnitStarter* m_starter;
    pid_t m_pid = 0;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    QByteArray m_input;
    QByteArray m_output;
    QByteArray m_errors;
    std::unique_ptr<QSocketNotifier> m_outNotifier;
    std::unique_ptr<QSocketNotifier> m_errNotifier;
    std::unique_ptr<QSocketNotifier> m_inNotifier;
};

UnitStarter::UnitStarter(UnitLauncher* launcher, QString program, QStringList arguments)
    : m_launcher(launcher), m_program(std::move(program)), m_arguments(std::move(arguments)) {
    if (m_launcher != nullptr && m_launcher->running()) {
        m_reports = std::make_unique<QSocketNotifier>(m_launcher->fd(), QSocketNotifier::Read);
        connect(m_reports.get(), &QSocketNotifier::activated, this, &UnitStarter::launcherReported);
    }
}

UnitStarter::~UnitStarter() {
    for (auto& [pid, unit] : m_launched) {
        unit->forgetStarter();
    }
}

std::unique_ptr<UnitProcess> UnitStarter::start() {
    if (m_launcher != nullptr && m_launcher->running()) {
        return std::make_unique<LaunchedUnit>(*this);
    }
    return std::make_unique<ProgramUnit>(m_program, m_arguments);
}

void UnitStarter::launcherReported() {
    pid_t pid = 0;
    int status = 0;
    while (m_launcher->nextEnded(pid, status)) {
        const auto unit = m_launched.find(pid);
        if (unit != m_launched.end()) {
            unit->second->reaped(status);
        }
    }
    if (!m_launcher->running()) {
        // The launcher is gone (it cannot be, while the run lives): its units with it.
        m_reports.reset();
        const std::map<pid_t, LaunchedUnit*> orphans = m_launched;
        for (const auto& [pid, unit] : orphans) {
            unit->reaped(SIGKILL);
        }
    }
}
