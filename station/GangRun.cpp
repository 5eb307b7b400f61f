#include "GangRun.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QEventLoop>
#include <cstring>
#include <ctime>
#include <ostream>

#include "cli/CsvLog.h"
#include "cli/Terminal.h"
#include "station/Plan.h"

namespace {

constexpr int kRedrawMs = 1000;

QByteArray runLine(const UnitEvent& words) {
    return QByteArray::fromStdString(encodeUnitEvent(words));
}

}  // namespace

GangRun::GangRun(Options options, std::ostream& out, std::ostream& err)
    : m_options(std::move(options)), m_out(out), m_err(err) {
    m_clock.start();
    m_redraw.setInterval(kRedrawMs);
    connect(&m_redraw, &QTimer::timeout, this, &GangRun::draw);
    StopSignals& stops = StopSignals::instance();
    stops.install();
    connect(&stops, &StopSignals::received, this, &GangRun::onSignal);
    connect(&m_watcher, &DeviceWatcher::appeared, this, [this](const QString& name) {
        if (m_signal == 0 && !m_outputLost) {
            const std::string path = name.toLocal8Bit().toStdString();
            addUnit(path, {"--device", path}, path);
        }
    });
}

GangRun::~GangRun() {
    for (Unit& unit : m_units) {
        if (unit.process && unit.process->state() != QProcess::NotRunning) {
            unit.process->kill();
            unit.process->waitForFinished(1000);
        }
    }
}

void GangRun::addUnit(const std::string& name, const std::vector<std::string>& portArguments,
                      const std::string& recordDevice) {
    UnitRow row;
    row.name = name;
    row.startMs = now();
    m_rows.push_back(row);
    m_units.emplace_back();
    m_units.back().recordDevice = recordDevice;
    std::vector<std::string> arguments = portArguments;
    if (!m_options.traceBase.empty()) {
        arguments.insert(arguments.end(), {"--trace", traceFor(name)});
    }
    arguments.insert(arguments.end(), m_options.command.begin(), m_options.command.end());
    start(m_rows.size() - 1, std::move(arguments));
    draw();
}

std::string GangRun::traceFor(const std::string& name) {
    auto known = m_traceTags.find(name);
    if (known == m_traceTags.end()) {
        const std::string base = unitFileTag(name);
        std::string tag = base;
        for (int n = 2;; ++n) {
            bool taken = false;
            for (const auto& [other, otherTag] : m_traceTags) {
                taken = taken || otherTag == tag;
            }
            if (!taken) {
                break;
            }
            tag = base + "~" + std::to_string(n);
        }
        known = m_traceTags.emplace(name, tag).first;
    }
    return m_options.traceBase + "." + known->second;
}

void GangRun::start(std::size_t index, std::vector<std::string> arguments) {
    Unit& unit = m_units[index];
    unit.process = std::make_unique<QProcess>();
    QProcess& process = *unit.process;
    // A process group of its own: an interrupt at the terminal reaches this run alone, which
    // passes it on to each unit. A unit whose run dies gets SIGTERM, and aborts what it does
    // through the machine's own Abort instead of running on unsupervised.
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(kExitSignalBase + SIGTERM);  // the run died before the line above
        }
    });
    process.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [this, index] { readEvents(index); });
    connect(
        &process, &QProcess::finished, this,
        [this, index](int code, QProcess::ExitStatus status) { finished(index, code, status); });
    connect(&process, &QProcess::errorOccurred, this, [this, index](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            failedToStart(index);
        }
    });
    process.start(m_options.program, m_options.programArguments);
    // The unit's whole opening at once; Qt writes it as the pipe takes it.
    process.write(runLine({RunKey::kArgs, std::move(arguments)}));
    if (m_options.input.needed) {
        process.write(runLine({RunKey::kInput, {hexBytes(m_options.input.bytes)}}));
    }
    process.write(m_options.plan != nullptr ? runLine({RunKey::kStart, {RunKey::kPlanned}})
                                            : runLine({RunKey::kStart, {}}));
}

void GangRun::readEvents(std::size_t index) {
    Unit& unit = m_units[index];
    if (!unit.process) {
        return;
    }
    unit.pending += unit.process->readAllStandardOutput().toStdString();
    std::size_t end = 0;
    while ((end = unit.pending.find('\n')) != std::string::npos) {
        UnitEvent event;
        if (decodeUnitEvent(unit.pending.substr(0, end + 1), event)) {
            const bool serial = event.key == UnitKey::kSerial && m_rows[index].serial.empty();
            applyUnitEvent(m_rows[index], event, now());
            if (serial) {
                answerSerial(index);
            }
        }
        unit.pending.erase(0, end + 1);
    }
    if (unit.pending.size() > kMaxExchangeLine) {
        unit.pending.clear();  // no event is that long: a unit gone wrong
    }
    draw();
}

void GangRun::answerSerial(std::size_t index) {
    UnitRow& row = m_rows[index];
    QProcess& process = *m_units[index].process;
    const auto refuse = [&](int code, const std::string& text) {
        process.write(runLine({RunKey::kRefuse, {std::to_string(code), text}}));
    };
    const auto taken = m_serials.find(row.serial);
    if (taken != m_serials.end() && taken->second != index) {
        const UnitRow& first = m_rows[taken->second];
        // A station sees one unit again after it was unplugged; two units at once with one
        // serial number are two units, and the plan's row belongs to one of them.
        if (!m_watching || !first.ended) {
            refuse(kExitDevice, "Serial number " + row.serial + " was reported by " + first.name +
                                    " already: nothing was sent to " + row.name);
            return;
        }
    }
    m_serials[row.serial] = index;
    std::vector<std::string> planned;
    if (m_options.plan != nullptr) {
        const bool number = !row.serial.empty() && row.serial.size() <= 5 &&
                            row.serial.find_first_not_of("0123456789") == std::string::npos;
        const std::vector<std::string>* found =
            number ? m_options.plan->find(static_cast<unsigned>(std::stoul(row.serial))) : nullptr;
        if (found == nullptr) {
            refuse(kExitUsage, "Serial number " + row.serial +
                                   " is not in the plan: nothing was sent to "
                                   "this unit");
            return;
        }
        planned = *found;
    }
    process.write(runLine({RunKey::kGo, planned}));
}

void GangRun::finished(std::size_t index, int exitCode, QProcess::ExitStatus status) {
    readEvents(index);
    UnitRow& row = m_rows[index];
    if (!row.ended) {
        // It ended without saying how: it was killed, or it crashed.
        std::string why;
        if (status == QProcess::CrashExit) {
            why = "the unit's process ended on signal " + std::to_string(exitCode) + " (" +
                  ::strsignal(exitCode) + ")";
        } else {
            why = m_units[index].process->readAllStandardError().trimmed().toStdString();
            if (why.empty()) {
                why = "the unit's process ended with status " + std::to_string(exitCode) +
                      " without its result";
            }
        }
        endUnitRow(row, kExitDevice, why, now());
    }
    ended(index);
}

void GangRun::failedToStart(std::size_t index) {
    UnitRow& row = m_rows[index];
    if (row.ended) {
        return;
    }
    endUnitRow(
        row, kExitDevice,
        "the unit's process did not start: " + m_units[index].process->errorString().toStdString(),
        now());
    ended(index);
}

void GangRun::ended(std::size_t index) {
    UnitRow& row = m_rows[index];
    if (m_options.log != nullptr) {
        std::string error;
        const std::vector<std::string> fields =
            recordFields(row, std::time(nullptr), m_units[index].recordDevice,
                         m_options.commandName, m_options.file);
        if (!m_options.log->append(fields, error)) {
            // A unit without its record is a unit whose run failed.
            endUnitRow(row, kExitFile, row.message.empty() ? error : error + "\n" + row.message,
                       row.endMs);
        }
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
    checkOutput();
    endIfDone();
}

void GangRun::watch(const QStringList& folders, const QStringList& patterns) {
    m_watching = true;
    m_watcher.watch(folders, patterns);
    draw();
}

void GangRun::onSignal(int signal) {
    if (m_signal == 0) {
        m_signal = signal;
    }
    m_watcher.stop();
    // Each unit finishes its step safely on its own: a configuration being sent is finished,
    // an upload aborted. A second signal is not passed on: the units are stopping already.
    stopUnits(signal);
    endIfDone();
}

void GangRun::stopUnits(int signal) {
    if (m_unitsStopped) {
        return;
    }
    m_unitsStopped = true;
    for (Unit& unit : m_units) {
        if (unit.process && unit.process->state() == QProcess::Running) {
            ::kill(static_cast<pid_t>(unit.process->processId()), signal);
        }
    }
}

void GangRun::checkOutput() {
    if (m_outputLost || (!m_out.fail() && !m_err.fail())) {
        return;
    }
    // Nobody sees the results any more: stop as an interrupt would, and say so at the end.
    m_outputLost = true;
    m_watcher.stop();
    stopUnits(SIGTERM);
}

void GangRun::draw() {
    if (!m_options.terminal) {
        return;
    }
    std::size_t width = 4;
    for (const UnitRow& row : m_rows) {
        width = std::max(width, terminalText(row.name).size());
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
    checkOutput();
}

void GangRun::endIfDone() {
    if (m_loop == nullptr) {
        return;
    }
    if (m_watching && m_signal == 0 && !m_outputLost) {
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
    checkOutput();
    if (m_outputLost) {
        return kExitFile;
    }
    if (m_signal != 0 && !m_watching) {
        return kExitSignalBase + m_signal;
    }
    return worstExitCode(m_rows);
}
