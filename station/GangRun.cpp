#include "GangRun.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <ostream>

namespace {

// A device needs a moment after it appears before it may be opened: its permissions and
// links are set up just after the node itself.
constexpr int kSettleMs = 300;
constexpr int kRedrawMs = 1000;

int g_signalPipe[2] = {-1, -1};

extern "C" void onGangSignal(int number) {
    const char byte = static_cast<char>(number);
    // Nothing else is safe here; a full pipe only loses a repeated signal.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

int gangSignalPipe() {
    if (g_signalPipe[0] < 0) {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            return -1;
        }
        struct sigaction action {};
        action.sa_handler = onGangSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
            ::sigaction(number, &action, nullptr);
        }
    }
    return g_signalPipe[0];
}

GangRun::GangRun(Options options, std::ostream& out, std::ostream& err)
    : m_options(std::move(options)), m_out(out), m_err(err) {
    m_clock.start();
    m_redraw.setInterval(kRedrawMs);
    connect(&m_redraw, &QTimer::timeout, this, &GangRun::draw);
    const int fd = gangSignalPipe();
    if (fd >= 0) {
        m_signals = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(m_signals.get(), &QSocketNotifier::activated, this, &GangRun::onSignal);
    }
}

GangRun::~GangRun() {
    for (Unit& unit : m_units) {
        if (unit.process && unit.process->state() != QProcess::NotRunning) {
            unit.process->kill();
            unit.process->waitForFinished(1000);
        }
    }
}

void GangRun::addUnit(const std::string& name, const QStringList& portArguments) {
    UnitRow row;
    row.name = name;
    row.startMs = now();
    m_rows.push_back(row);
    m_units.emplace_back();
    start(m_rows.size() - 1, portArguments);
    draw();
}

void GangRun::start(std::size_t index, const QStringList& portArguments) {
    Unit& unit = m_units[index];
    unit.process = std::make_unique<QProcess>();
    QProcess& process = *unit.process;
    QStringList arguments = portArguments;
    arguments << "--unit-report";
    if (!m_options.traceBase.isEmpty()) {
        arguments << "--trace"
                  << m_options.traceBase + "." +
                         QString::fromStdString(unitFileTag(m_rows[index].name));
    }
    arguments << m_options.command;
    // A process group of its own: an interrupt at the terminal reaches this run alone, which
    // passes it on once to each unit.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [this, index] { readEvents(index); });
    connect(
        &process, &QProcess::finished, this,
        [this, index](int code, QProcess::ExitStatus status) { finished(index, code, status); });
    process.start(m_options.program, arguments);
    process.closeWriteChannel();
}

void GangRun::readEvents(std::size_t index) {
    Unit& unit = m_units[index];
    unit.pending += unit.process->readAllStandardOutput().toStdString();
    std::size_t end = 0;
    while ((end = unit.pending.find('\n')) != std::string::npos) {
        UnitEvent event;
        if (decodeUnitEvent(unit.pending.substr(0, end + 1), event)) {
            applyUnitEvent(m_rows[index], event, now());
        }
        unit.pending.erase(0, end + 1);
    }
    draw();
}

void GangRun::finished(std::size_t index, int exitCode, QProcess::ExitStatus status) {
    readEvents(index);
    UnitRow& row = m_rows[index];
    if (!row.ended) {
        // It ended without saying how: a crash, or a process that never started.
        std::string why = m_units[index].process->readAllStandardError().trimmed().toStdString();
        if (why.empty()) {
            why = status == QProcess::CrashExit
                      ? "the unit's process ended unexpectedly"
                      : "the unit's process ended with status " + std::to_string(exitCode);
        }
        applyUnitEvent(
            row, {UnitKey::kEnd, {std::to_string(exitCode > 0 ? exitCode : 2), "error", why, ""}},
            now());
    }
    if (m_options.terminal) {
        draw();
    } else {
        m_err << unitEndLine(row) << "\n" << std::flush;
    }
    if (m_options.json) {
        m_out << unitJson(row) << "\n" << std::flush;
    }
    if (m_options.bell) {
        m_err << (row.result == "ok" ? "\a" : "\a\a\a") << std::flush;
    }
    endIfDone();
}

void GangRun::watch(const QStringList& folders, const QStringList& patterns) {
    m_folders = folders;
    m_patterns = patterns;
    m_watcher = std::make_unique<QFileSystemWatcher>();
    connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, this, &GangRun::scanFolders);
    // What is there already is not new: only devices that appear are provisioned.
    for (const QString& folder : m_folders) {
        if (QFileInfo(folder).isDir()) {
            m_watcher->addPath(folder);
        }
        const QFileInfoList entries = QDir(folder).entryInfoList(
            m_patterns, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& entry : entries) {
            const QString device = entry.canonicalFilePath();
            if (!device.isEmpty()) {
                m_present.insert(device);
            }
        }
    }
    draw();
}

void GangRun::scanFolders() {
    if (!m_watcher) {
        return;
    }
    QSet<QString> now;
    for (const QString& folder : m_folders) {
        // A folder made after the watch began (the first USB adapter's by-id) is watched
        // from then on.
        if (QFileInfo(folder).isDir() && !m_watcher->directories().contains(folder)) {
            m_watcher->addPath(folder);
        }
        const QFileInfoList entries = QDir(folder).entryInfoList(
            m_patterns, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries) {
            const QString device = entry.canonicalFilePath();
            if (device.isEmpty() || now.contains(device)) {
                continue;
            }
            now.insert(device);
            if (m_present.contains(device)) {
                continue;
            }
            // A new device, once per plug-in.
            QTimer::singleShot(kSettleMs, this, [this, device] {
                if (!m_watcher || m_signal != 0) {
                    return;
                }
                const QString path = nameOf(device);
                addUnit(path.toStdString(), {"--device", path});
            });
        }
    }
    m_present = now;
}

QString GangRun::nameOf(const QString& device) const {
    // The name from the first folder that has one: a by-id link, which stays the same
    // whichever socket the adapter is in, before the node it points to.
    for (const QString& folder : m_folders) {
        const QFileInfoList entries = QDir(folder).entryInfoList(
            m_patterns, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries) {
            if (entry.canonicalFilePath() == device) {
                return entry.absoluteFilePath();
            }
        }
    }
    return device;
}

void GangRun::onSignal() {
    char byte = 0;
    while (::read(m_signals->socket(), &byte, 1) == 1) {
        m_signal = static_cast<unsigned char>(byte);
        m_watcher.reset();
        // Each unit finishes its step safely on its own: a configuration being sent is
        // finished, an upload aborted.
        for (Unit& unit : m_units) {
            if (unit.process && unit.process->state() == QProcess::Running) {
                ::kill(static_cast<pid_t>(unit.process->processId()), m_signal);
            }
        }
    }
    endIfDone();
}

void GangRun::draw() {
    if (!m_options.terminal) {
        return;
    }
    std::size_t width = 4;
    for (const UnitRow& row : m_rows) {
        width = std::max(width, row.name.size());
    }
    std::string text;
    if (m_drawnLines > 0) {
        text += "\033[" + std::to_string(m_drawnLines) + "A";
    }
    for (const UnitRow& row : m_rows) {
        text += "\r\033[2K" + unitRowText(row, now(), width) + "\n";
    }
    m_drawnLines = m_rows.size();
    m_err << text << std::flush;
}

void GangRun::endIfDone() {
    if (m_loop == nullptr) {
        return;
    }
    if (m_watcher && m_signal == 0) {
        return;  // a station runs until it is interrupted
    }
    for (const UnitRow& row : m_rows) {
        if (!row.ended) {
            return;
        }
    }
    m_loop->quit();
}

int GangRun::exec() {
    QEventLoop loop;
    m_loop = &loop;
    if (m_options.terminal) {
        m_redraw.start();
    }
    QTimer::singleShot(0, this, &GangRun::endIfDone);
    loop.exec();
    m_loop = nullptr;
    m_redraw.stop();
    draw();
    m_err << gangSummary(m_rows) << "\n" << std::flush;
    const bool watching = !m_folders.isEmpty();
    if (m_signal != 0 && !watching) {
        return 128 + m_signal;
    }
    return worstExitCode(m_rows);
}
