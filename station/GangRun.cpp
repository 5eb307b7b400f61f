#include "GangRun.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QEventLoop>
#include <cstring>
#include <ctime>
#include <ostream>

#include "cli/CsvLog.h"
#include "cli/History.h"
#include "cli/Terminal.h"
#include "station/Plan.h"
#include "station/ResultHook.h"

namespace {

// At most four redraws a second, and only of what changed.
constexpr int kRedrawMs = 250;
// What a station keeps of the units that ended: the latest ok ones, enough to fill any
// screen, and the failures for the screen and the summary.
constexpr std::size_t kOkKept = 64;
constexpr std::size_t kFailedListed = 1000;

QByteArray runLine(const UnitEvent& words) {
    return QByteArray::fromStdString(encodeUnitEvent(words));
}

bool serialNumber(const std::string& text) {
    return !text.empty() && text.size() <= 5 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

GangRun::GangRun(Options options, std::ostream& out, std::ostream& err)
    : m_options(std::move(options)),
      m_out(out),
      m_err(err),
      m_ownStarter(m_options.starter != nullptr
                       ? nullptr
                       : std::make_unique<UnitStarter>(nullptr, m_options.program,
                                                       m_options.programArguments)),
      m_starter(m_options.starter != nullptr ? m_options.starter : m_ownStarter.get()),
      m_view(err) {
    m_clock.start();
    m_redraw.setInterval(kRedrawMs);
    connect(&m_redraw, &QTimer::timeout, this, &GangRun::draw);
    StopSignals& stops = StopSignals::instance();
    stops.install();
    connect(&stops, &StopSignals::received, this, &GangRun::onSignal);
    connect(&stops, &StopSignals::resized, this, [this] {
        m_view.invalidate();
        m_dirty = true;
    });
    connect(&m_watcher, &DeviceWatcher::appeared, this,
            [this](const QString& name, const QString& device) {
                if (m_signal != 0 || m_outputLost || m_busyDevices.contains(device)) {
                    return;  // a re-plug while its unit runs is that unit's business
                }
                const std::string path = name.toLocal8Bit().toStdString();
                addUnit(path, {"--device", path}, path, device);
            });
}

GangRun::~GangRun() {
    m_view.leave();
    m_units.clear();  // each unit still running is killed
    m_hooks.clear();  // and each hook
}

void GangRun::addUnit(const std::string& name, const std::vector<std::string>& portArguments,
                      const std::string& recordDevice, const QString& device) {
    const std::uint64_t id = m_nextId++;
    Unit& unit = m_units[id];
    unit.row.name = name;
    unit.row.startMs = now();
    unit.recordDevice = recordDevice;
    unit.device = device;
    if (!device.isEmpty()) {
        m_busyDevices.insert(device);
    }
    ++m_tally.running;
    std::vector<std::string> arguments = portArguments;
    if (!m_options.traceBase.empty()) {
        arguments.insert(arguments.end(), {"--trace", traceFor(name)});
    }
    arguments.insert(arguments.end(), m_options.command.begin(), m_options.command.end());
    // Started one an event-loop turn: a fork costs milliseconds, and two dozen devices that
    // appear at once must not hold a window's drawing up for all of them.
    m_toStart.emplace_back(id, std::move(arguments));
    if (m_toStart.size() == 1) {
        QTimer::singleShot(0, this, &GangRun::startNext);
    }
    m_dirty = true;
    emit unitChanged(unit.row);
}

void GangRun::startNext() {
    if (m_toStart.empty()) {
        return;
    }
    auto [id, arguments] = std::move(m_toStart.front());
    m_toStart.pop_front();
    if (m_units.count(id) != 0 && (m_signal != 0 || m_outputLost)) {
        // Stopped before its turn came: it never touched its device.
        endUnitRow(m_units[id].row, kExitDevice,
                   m_signal != 0 ? "not started: the run was stopped" : kOutputLostText, now());
        endLater(id);
    } else if (m_units.count(id) != 0) {
        start(id, std::move(arguments));
    }
    if (!m_toStart.empty()) {
        QTimer::singleShot(0, this, &GangRun::startNext);
    }
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

void GangRun::start(std::uint64_t id, std::vector<std::string> arguments) {
    Unit& unit = m_units[id];
    unit.process = m_starter->start();
    UnitProcess& process = *unit.process;
    connect(&process, &UnitProcess::outputReady, this, [this, id] { readEvents(id); });
    connect(&process, &UnitProcess::ended, this,
            [this, id](int code, bool crashed) { finished(id, code, crashed); });
    connect(&process, &UnitProcess::failedToStart, this,
            [this, id](const QString& why) { failedToStart(id, why); });
    // The unit's whole opening at once; it goes as the pipe takes it.
    process.write(runLine({RunKey::kArgs, std::move(arguments)}));
    if (m_options.input.needed) {
        process.write(runLine({RunKey::kInput, {hexBytes(m_options.input.bytes)}}));
    }
    if (m_options.upload) {
        process.write(
            runLine({RunKey::kProgram, {hexBytes(*m_options.upload), m_options.uploadName}}));
    }
    const bool planned = m_options.plan != nullptr || !m_options.common.empty();
    process.write(planned ? runLine({RunKey::kStart, {RunKey::kPlanned}})
                          : runLine({RunKey::kStart, {}}));
}

void GangRun::readEvents(std::uint64_t id) {
    const auto found = m_units.find(id);
    if (found == m_units.end() || !found->second.process) {
        return;
    }
    Unit& unit = found->second;
    unit.pending += unit.process->readOutput().toStdString();
    std::size_t end = 0;
    while ((end = unit.pending.find('\n')) != std::string::npos) {
        UnitEvent event;
        if (decodeUnitEvent(unit.pending.substr(0, end + 1), event)) {
            const bool serial = event.key == UnitKey::kSerial && unit.row.serial.empty();
            applyUnitEvent(unit.row, event, now());
            if (serial) {
                answerSerial(unit, id);
            }
        }
        unit.pending.erase(0, end + 1);
    }
    if (unit.pending.size() > kMaxExchangeLine) {
        unit.pending.clear();  // no event is that long: a unit gone wrong
    }
    m_dirty = true;
    emit unitChanged(unit.row);
}

void GangRun::answerSerial(Unit& unit, std::uint64_t id) {
    UnitRow& row = unit.row;
    UnitProcess& process = *unit.process;
    const auto refuse = [&](int code, const std::string& text) {
        process.write(runLine({RunKey::kRefuse, {std::to_string(code), text}}));
    };
    if (!serialNumber(row.serial)) {
        refuse(kExitDevice, "The unit reported no serial number: nothing was sent to it");
        return;
    }
    Seen& seen = m_serials[row.serial];
    if (seen.unit != 0 && seen.unit != id) {
        // Two units at once with one serial number are two units, and a plan's row belongs to
        // one of them; a station sees one unit again after it was unplugged.
        if (seen.running || !m_watching) {
            const auto first = m_units.find(seen.unit);
            const std::string firstName =
                first != m_units.end() ? first->second.row.name : std::string("another unit");
            refuse(kExitDevice, "Serial number " + row.serial + " was reported by " + firstName +
                                    " already: nothing was sent to " + row.name);
            return;
        }
        row.again = seen.ok;
    }
    if (!m_options.jobSha256.empty() && m_options.history != nullptr) {
        // Under a job, the history has the last word on a unit that comes back.
        std::optional<History::Earlier> earlier;
        std::string error;
        if (!m_options.history->lastOk(row.serial, m_options.jobSha256, true, earlier, error)) {
            refuse(kExitFile, error + "\nNothing was sent to this unit");
            return;
        }
        if (earlier && !m_options.again) {
            refuse(kExitProvisioned, "Serial number " + row.serial +
                                         " was provisioned by this job already, at " +
                                         earlier->time + ": nothing was sent to it");
            return;
        }
        if (earlier) {
            unit.again = true;
            row.note = "provisioned again (--again); first at " + earlier->time;
        } else if (m_options.history->lastOk(row.serial, m_options.jobSha256, false, earlier,
                                             error) &&
                   earlier) {
            row.note = "provisioned before under job " + earlier->job + ", at " + earlier->time;
        }
    }
    seen.unit = id;
    seen.running = true;
    std::vector<std::string> planned = m_options.common;
    if (m_options.plan != nullptr) {
        const std::vector<std::string>* found =
            m_options.plan->find(static_cast<unsigned>(std::stoul(row.serial)));
        if (found == nullptr) {
            refuse(kExitUsage, "Serial number " + row.serial +
                                   " is not in the plan: nothing was sent to "
                                   "this unit");
            return;
        }
        planned.insert(planned.end(), found->begin(), found->end());
    }
    process.write(runLine({RunKey::kGo, planned}));
}

void GangRun::finished(std::uint64_t id, int exitCode, bool crashed) {
    readEvents(id);
    const auto found = m_units.find(id);
    if (found == m_units.end()) {
        return;
    }
    Unit& unit = found->second;
    if (!unit.row.ended) {
        // It ended without saying how: it was killed, or it crashed.
        std::string why;
        if (crashed) {
            why = "the unit's process ended on signal " + std::to_string(exitCode) + " (" +
                  ::strsignal(exitCode) + ")";
        } else {
            why = unit.process->readErrors().trimmed().toStdString();
            if (why.empty()) {
                why = "the unit's process ended with status " + std::to_string(exitCode) +
                      " without its result";
            }
        }
        endUnitRow(unit.row, kExitDevice, why, now());
    }
    endLater(id);
}

void GangRun::failedToStart(std::uint64_t id, const QString& why) {
    const auto found = m_units.find(id);
    if (found == m_units.end() || found->second.row.ended) {
        return;
    }
    endUnitRow(found->second.row, kExitDevice,
               "the unit's process did not start: " + why.toStdString(), now());
    endLater(id);
}

void GangRun::endLater(std::uint64_t id) {
    // One unit's end (its record, history and hook) an event-loop turn, as with starts: when
    // a dozen units end at once, a window still gets its turns in between.
    m_toEnd.push_back(id);
    if (m_toEnd.size() == 1) {
        QTimer::singleShot(0, this, &GangRun::endNext);
    }
}

void GangRun::endNext() {
    if (m_toEnd.empty()) {
        return;
    }
    const std::uint64_t id = m_toEnd.front();
    m_toEnd.pop_front();
    if (m_units.count(id) != 0) {
        ended(id);
    }
    if (!m_toEnd.empty()) {
        QTimer::singleShot(0, this, &GangRun::endNext);
    }
}

void GangRun::ended(std::uint64_t id) {
    Unit& unit = m_units.at(id);
    UnitRow& row = unit.row;
    row.time = isoTimeUtc(std::time(nullptr));
    row.station = m_options.station;
    row.operatorName = m_options.operatorName;
    row.job = m_options.jobName;
    row.jobSha256 = m_options.jobSha256;
    std::optional<std::int64_t> historyId;
    if (m_options.history != nullptr) {
        History::Run run{
            0,  row, unit.recordDevice, m_options.commandName, m_options.file, {}, unit.again,
            {}, {}};
        std::string error;
        historyId = m_options.history->record(run, error);
        if (!historyId) {
            // A run the history lost is a failed run, as with the record.
            endUnitRow(row, kExitFile, row.message.empty() ? error : error + "\n" + row.message,
                       row.endMs);
        }
    }
    if (m_options.log != nullptr) {
        std::string error;
        const std::vector<std::string> fields = recordFields(
            row, std::time(nullptr), unit.recordDevice, m_options.commandName, m_options.file);
        if (!m_options.log->append(fields, error)) {
            // A unit without its record is a unit whose run failed.
            endUnitRow(row, kExitFile, row.message.empty() ? error : error + "\n" + row.message,
                       row.endMs);
        }
    }
    const bool ok = row.result == "ok";
    const bool provisioned = row.code == kExitProvisioned;
    if (const auto seen = m_serials.find(row.serial);
        seen != m_serials.end() && seen->second.unit == id) {
        seen->second.running = false;
        seen->second.ok = seen->second.ok || ok;
    }
    --m_tally.running;
    ++(ok ? m_tally.ok : provisioned ? m_tally.provisioned : m_tally.failed);
    m_worst = worseExit(m_worst, row.code);
    m_tally.again += ok && row.again ? 1 : 0;
    if (!m_view.active()) {
        m_err << unitEndLine(row) << (row.again && ok ? " (provisioned again)" : "")
              << (row.note.empty() ? "" : " (" + terminalText(row.note) + ")") << "\n"
              << std::flush;
    }
    if (m_options.json) {
        m_out << unitJson(row) << "\n" << std::flush;
    }
    if (!m_options.onResult.empty()) {
        runHook(row, historyId);
    }
    emit unitEnded(row);
    if (m_options.bell) {
        m_err << (ok ? "\a" : "\a\a\a") << std::flush;
    }
    // The unit is let go: the row lives on in bounded lists, without what the unit printed
    // or was sent (reported already), and the process until its signal has been handled.
    row.out.clear();
    row.out.shrink_to_fit();
    FieldValues().swap(row.sent);
    FieldValues().swap(row.readBack);
    if (ok && row.again && m_again.size() < kFailedListed) {
        m_again.push_back(row);
    }
    if (!ok && m_failed.size() < kFailedListed) {
        m_failed.push_back(row);
    } else if (!ok) {
        ++m_failedUnlisted;
    }
    if (ok) {
        m_recentOk.push_back(row);
        if (m_recentOk.size() > kOkKept) {
            m_recentOk.pop_front();
        }
    }
    m_busyDevices.remove(unit.device);
    if (unit.process) {
        unit.process.release()->deleteLater();
    }
    m_units.erase(id);
    m_dirty = true;
    checkOutput();
    endIfDone();
}

void GangRun::runHook(const UnitRow& row, std::optional<std::int64_t> historyId) {
    const std::uint64_t id = m_nextHook++;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const auto put = [&environment](const char* name, const std::string& value) {
        environment.insert(name, QString::fromStdString(value));
    };
    put("VXCONF_UNIT", row.name);
    put("VXCONF_SERIAL", row.serial);
    put("VXCONF_RESULT", row.result);
    put("VXCONF_MESSAGE", row.result == "ok" ? std::string() : row.message);
    put("VXCONF_JOB", row.job);
    put("VXCONF_JSON", unitJson(row));
    const std::string name = row.name;
    const std::string serial = row.serial;
    m_hooks[id] = std::make_unique<ResultHook>(
        QString::fromStdString(m_options.onResult), environment, m_options.hookLimitMs,
        [this, id, name, serial, historyId](const ResultHook::Outcome& outcome) {
            hookEnded(id, name, serial, historyId, outcome);
        });
}

void GangRun::hookEnded(std::uint64_t id, const std::string& name, const std::string& serial,
                        std::optional<std::int64_t> historyId, const ResultHook::Outcome& outcome) {
    std::string problem = outcome.problem;
    if (m_options.history != nullptr && historyId) {
        std::string error;
        const std::string kept =
            outcome.status || !outcome.firstLine.empty() ? outcome.firstLine : outcome.problem;
        if (!m_options.history->recordHook(*historyId, outcome.status, kept, error)) {
            problem += (problem.empty() ? "" : "; ") + error;
        }
    }
    if (!problem.empty()) {
        // The unit's result stands; the hook's failure is said on its row.
        const std::string line =
            terminalText(name) + (serial.empty() ? "" : ": serial " + serial) + ": " + problem +
            (outcome.firstLine.empty() ? "" : ": " + terminalText(outcome.firstLine));
        for (auto* list : {&m_recentOk, &m_failed}) {
            for (UnitRow& row : *list) {
                if (row.name == name && row.serial == serial) {
                    row.hookNote = problem;
                }
            }
        }
        if (!m_view.active()) {
            m_err << line << "\n" << std::flush;
        }
        emit hookFailed(name, problem);
        if (m_hookFailures.size() < kFailedListed) {
            m_hookFailures.push_back(line);
        }
    }
    // Let go once its own signal has been handled.
    if (const auto hook = m_hooks.find(id); hook != m_hooks.end()) {
        hook->second.release()->deleteLater();
        m_hooks.erase(hook);
    }
    m_dirty = true;
    endIfDone();
}

void GangRun::watch(const QStringList& folders, const QStringList& patterns) {
    m_watching = true;
    m_watcher.watch(folders, patterns);
}

void GangRun::onSignal(int signal) {
    if (m_signal == 0) {
        m_signal = signal;
        m_options.hint = "stopping: each unit finishes its step";
        m_dirty = true;
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
    for (auto& [id, unit] : m_units) {
        if (unit.process && unit.process->pid() > 0) {
            ::kill(unit.process->pid(), signal);
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
    const std::uint64_t second = now() / 1000;
    if (!m_view.active() || (!m_dirty && second == m_drawnSecond)) {
        return;
    }
    m_dirty = false;
    m_drawnSecond = second;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        size.ws_col = 80;
        size.ws_row = 24;
    }
    std::vector<const UnitRow*> rows;
    for (const auto& [id, unit] : m_units) {
        rows.push_back(&unit.row);
    }
    for (const auto* list : {&m_recentOk, &m_failed}) {
        for (const UnitRow& row : *list) {
            rows.push_back(&row);
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const UnitRow* a, const UnitRow* b) { return a->startMs < b->startMs; });
    std::vector<std::string> lines =
        viewLines(rows, m_tally, now(), size.ws_col, size.ws_row, m_options.colour);
    if (!m_options.hint.empty() && !lines.empty()) {
        lines[0] = shortenedFromRight(lines[0] + " | " + m_options.hint, size.ws_col - 1u);
    }
    m_view.draw(lines);
    checkOutput();
}

void GangRun::endIfDone() {
    if (!m_begun || m_done) {
        return;
    }
    if (m_watching && m_signal == 0 && !m_outputLost) {
        return;  // a station runs until it is interrupted
    }
    if (m_tally.running == 0 && m_hooks.empty()) {
        m_done = true;
        m_redraw.stop();
        if (m_loop != nullptr) {
            m_loop->quit();
        }
        emit runEnded(exitCode());
    }
}

void GangRun::begin() {
    if (m_begun) {
        return;
    }
    m_begun = true;
    if (m_options.terminal) {
        m_view.enter();
        draw();
        m_redraw.start();
    }
    QTimer::singleShot(0, this, &GangRun::endIfDone);
}

void GangRun::stop() {
    onSignal(SIGINT);
}

void GangRun::setOperatorName(const std::string& name) {
    m_options.operatorName = name;
}

int GangRun::exitCode() const {
    if (m_outputLost) {
        return kExitFile;
    }
    if (m_signal != 0 && !m_watching) {
        return kExitSignalBase + m_signal;
    }
    return m_worst;
}

int GangRun::exec() {
    QEventLoop loop;
    m_loop = &loop;
    begin();
    if (!m_done) {
        loop.exec();
    }
    m_loop = nullptr;
    m_redraw.stop();
    // The summary takes the view's place, with a line for each unit that failed.
    m_view.leave();
    std::vector<const UnitRow*> failed;
    for (const UnitRow& row : m_failed) {
        failed.push_back(&row);
    }
    std::vector<const UnitRow*> again;
    for (const UnitRow& row : m_again) {
        again.push_back(&row);
    }
    std::string summary;
    for (const std::string& line : summaryLines(m_tally, failed, again)) {
        summary += line + "\n";
    }
    if (m_failedUnlisted > 0) {
        summary += "and " + std::to_string(m_failedUnlisted) + " more failed units\n";
    }
    for (const std::string& line : m_hookFailures) {
        summary += "hook: " + line + "\n";
    }
    m_err << summary << std::flush;
    checkOutput();
    return exitCode();
}
