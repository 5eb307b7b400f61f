#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliSession.h"
#include "platform/StopSignals.h"
#include "station/DeviceWatcher.h"
#include "station/LiveView.h"
#include "station/ResultHook.h"
#include "station/UnitProcess.h"
#include "station/UnitRow.h"

class CsvLog;
class History;
class Plan;

// A command on several VX310s at once. Each unit runs in a vxconf-cli process of its own,
// which is exactly the single-unit program with its own serial link, event loop and ticks,
// so that no unit can delay or disturb another. This run is each unit's parent: it hands
// every unit the same checked inputs, has the last word before anything is sent to a unit
// (the plan's row, a serial number seen twice), shows what each reports, writes the record
// of every unit (also of one that died) and sums them up. With watch(), it starts a unit for
// every serial device that appears, until it is interrupted; a unit's process and row are
// let go once it has ended and been shown, so a station stays the same size all shift.
class GangRun : public QObject {
    Q_OBJECT
public:
    struct Options {
        UnitStarter* starter = nullptr;  // the units' launcher; else program is started afresh
        QString program;                 // vxconf-cli itself
        QStringList programArguments{"--unit-report"};  // what makes it a unit
        std::vector<std::string> command;               // the unit's command line, less its port
        CommandInput input;                             // the command's file, read once
        const Plan* plan = nullptr;                     // each unit's own values, by serial number
        CsvLog* log = nullptr;                          // the record, a row a unit
        std::string commandName;                        // for the record
        std::string file;                               // for the record
        bool terminal = false;  // standard error is a terminal: the live view
        bool colour = false;    // and it takes colours
        bool json = false;      // one JSON object a unit on standard output
        bool bell = false;      // ring at each unit's end
        std::string traceBase;  // --trace: each unit its own file, FILE.UNIT
        std::string hint;       // for the view's header: "Ctrl-C ends the station"

        // Production: the job's values for every unit (before the plan's), its program, the
        // history, who and where, and the hook.
        std::vector<std::string> common;
        std::optional<std::string> upload;  // a program uploaded after the command
        std::string uploadName;
        std::string jobName;
        std::string jobSha256;
        bool again = false;  // provision a unit the job had provisioned already
        History* history = nullptr;
        std::string station;
        std::string operatorName;
        std::string onResult;
        int hookLimitMs = 30000;
    };
    GangRun(Options options, std::ostream& out, std::ostream& err);
    ~GangRun() override;

    // A unit to start: its name in the table, the arguments that choose its port, the device
    // the record names, and its real path (a station starts no second unit on it).
    void addUnit(const std::string& name, const std::vector<std::string>& portArguments,
                 const std::string& recordDevice, const QString& device = {});
    // Watches these folders for serial devices; patterns: the names that count ("ttyUSB*"),
    // every entry when empty.
    void watch(const QStringList& folders, const QStringList& patterns);

    // Runs until every unit has ended (or, when watching, until interrupted and every unit
    // has ended), then prints the summary; the exit code: the worst unit's, 128 + the
    // signal after an interrupt, or 4 when the run's own output was lost.
    int exec();
    // The same run without waiting for it, for a window: it goes on in the caller's event
    // loop, the signals below tell what happens, and runEnded() says when it is over.
    void begin();
    // As Ctrl-C: no new unit starts, and each unit running finishes its step.
    void stop();
    // The operator recorded for the units that end from now on.
    void setOperatorName(const std::string& name);
    int exitCode() const;
    bool done() const { return m_done; }

signals:
    // A unit started, or reported something (its serial number, its state and progress).
    void unitChanged(const UnitRow& row);
    // A unit ended and its record and history were written.
    void unitEnded(const UnitRow& row);
    // The hook run after a unit failed.
    void hookFailed(const std::string& unit, const std::string& problem);
    void runEnded(int exitCode);

public:
    const Tally& tally() const { return m_tally; }
    // The units that failed, and the latest that ended ok, each in the order they ended.
    const std::deque<UnitRow>& failed() const { return m_failed; }
    const std::deque<UnitRow>& recentOk() const { return m_recentOk; }
    // Units whose process is held: running, or ended and not yet let go.
    std::size_t unitsHeld() const { return m_units.size(); }

private:
    struct Unit {
        UnitRow row;
        bool again = false;  // --again let a unit the job had provisioned through
        std::unique_ptr<UnitProcess> process;
        std::string pending;  // a line not yet complete
        std::string recordDevice;
        QString device;
    };
    // What the run knows of a serial number it has seen.
    struct Seen {
        std::uint64_t unit = 0;
        bool running = false;
        bool ok = false;
    };

    void start(std::uint64_t id, std::vector<std::string> arguments);
    void startNext();
    void endLater(std::uint64_t id);
    void endNext();
    void readEvents(std::uint64_t id);
    void answerSerial(Unit& unit, std::uint64_t id);
    void finished(std::uint64_t id, int code, bool crashed);
    void failedToStart(std::uint64_t id, const QString& why);
    // The row has ended: record it, show it, let the unit go, and end the run when it was the
    // last.
    void ended(std::uint64_t id);
    void runHook(const UnitRow& row, std::optional<std::int64_t> historyId);
    void hookEnded(std::uint64_t id, const std::string& name, const std::string& serial,
                   std::optional<std::int64_t> historyId, const ResultHook::Outcome& outcome);
    void onSignal(int signal);
    // Passes signal on to each unit still running, once for the whole run.
    void stopUnits(int signal);
    void checkOutput();
    void draw();
    void endIfDone();
    std::string traceFor(const std::string& name);
    std::uint64_t now() const { return static_cast<std::uint64_t>(m_clock.elapsed()); }

    Options m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    CatchingStopSignals m_catching;
    std::unique_ptr<UnitStarter> m_ownStarter;
    UnitStarter* m_starter;
    std::map<std::uint64_t, Unit> m_units;  // by start order
    std::uint64_t m_nextId = 1;
    Tally m_tally;
    std::deque<UnitRow> m_recentOk;
    std::deque<UnitRow> m_failed;
    std::size_t m_failedUnlisted = 0;
    std::deque<UnitRow> m_again;
    int m_worst = 0;
    std::map<std::string, Seen> m_serials;
    std::map<std::string, std::string> m_traceTags;  // unit name: its trace file's tag
    QSet<QString> m_busyDevices;                     // devices with a unit running
    std::map<std::uint64_t, std::unique_ptr<ResultHook>> m_hooks;  // while they run
    std::uint64_t m_nextHook = 1;
    std::deque<std::pair<std::uint64_t, std::vector<std::string>>> m_toStart;
    std::deque<std::uint64_t> m_toEnd;
    std::deque<std::string> m_hookFailures;
    QElapsedTimer m_clock;
    QTimer m_redraw;
    bool m_dirty = true;
    std::uint64_t m_drawnSecond = 0;
    ScreenWriter m_view;
    DeviceWatcher m_watcher;
    bool m_watching = false;
    int m_signal = 0;
    bool m_unitsStopped = false;
    bool m_outputLost = false;
    class QEventLoop* m_loop = nullptr;
    bool m_begun = false;
    bool m_done = false;
};
