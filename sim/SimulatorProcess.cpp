#include "SimulatorProcess.h"

#include <signal.h>
#include <sys/prctl.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>

namespace {
constexpr int kStartLimitMs = 5000;
}

SimulatorProcess::~SimulatorProcess() {
    stop();
}

void SimulatorProcess::stop() {
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    m_process.terminate();
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

QString SimulatorProcess::programPath() {
    const QString fromEnvironment = qEnvironmentVariable("VX310SIM");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    return QDir(QCoreApplication::applicationDirPath()).filePath("vx310sim");
}

bool SimulatorProcess::start(const QStringList& arguments, QString& error) {
    const QString program = programPath();
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Should this program be killed, the simulator goes with it.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start(QIODevice::ReadOnly);
    if (!m_process.waitForStarted(kStartLimitMs)) {
        error = QString("cannot start %1: %2").arg(program, m_process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(kStartLimitMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() ||
            !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            error = QString("%1 did not report its device").arg(program);
            return false;
        }
    }
    m_devicePath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (!m_devicePath.startsWith('/')) {
        error = QString("%1 reported no device path").arg(program);
        return false;
    }
    return true;
}
