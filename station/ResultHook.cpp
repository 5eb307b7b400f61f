#include "ResultHook.h"

#include <signal.h>
#include <unistd.h>

namespace {

// What is kept of the hook's output: its first line is all the history takes.
constexpr std::size_t kOutputKept = 4096;
constexpr std::size_t kLineKept = 200;

}  // namespace

ResultHook::ResultHook(const QString& command, const QProcessEnvironment& environment, int limitMs,
                       std::function<void(const Outcome&)> done)
    : m_done(std::move(done)), m_limitMs(limitMs) {
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardInputFile(QProcess::nullDevice());
    // Its own process group: a Ctrl-C meant for the station does not reach it, and the time
    // limit ends everything it started.
    m_process.setChildProcessModifier([] { ::setpgid(0, 0); });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &ResultHook::read);
    connect(&m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        read();
        Outcome outcome;
        if (status == QProcess::NormalExit) {
            outcome.status = code;
            if (code != 0) {
                outcome.problem = "the hook ended with status " + std::to_string(code);
            }
        } else {
            outcome.problem = "the hook was killed";
        }
        finish(outcome);
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            finish({std::nullopt,
                    {},
                    "the hook did not start: " + m_process.errorString().toStdString()});
        }
    });
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        if (m_process.processId() > 0) {
            ::kill(-static_cast<pid_t>(m_process.processId()), SIGKILL);
        }
        finish({std::nullopt,
                {},
                "the hook was cut off after " + std::to_string((m_limitMs + 999) / 1000) + " s"});
    });
    m_limit.start(limitMs);
    m_process.start("/bin/sh", {"-c", command});
}

ResultHook::~ResultHook() {
    if (m_process.state() != QProcess::NotRunning && m_process.processId() > 0) {
        ::kill(-static_cast<pid_t>(m_process.processId()), SIGKILL);
        m_process.waitForFinished(1000);
    }
}

void ResultHook::read() {
    const QByteArray bytes = m_process.readAll();
    if (m_output.size() < kOutputKept) {
        m_output.append(bytes.constData(),
                        std::min<std::size_t>(bytes.size(), kOutputKept - m_output.size()));
    }
}

void ResultHook::finish(Outcome outcome) {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_limit.stop();
    std::string line = m_output.substr(0, m_output.find('\n'));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    outcome.firstLine = line.substr(0, kLineKept);
    if (m_done) {
        m_done(outcome);
    }
}
