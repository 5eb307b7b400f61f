#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliSession.h"
#include "platform/StopSignals.h"
#include "station/DeviceWatcher.h"
#include "station/UnitRow.h"

class CsvLog;
class Plan;

// A command on several VX310s at once. Each unit runs in a vxconf-cli process of its own,
// which is exactly the single-unit program with its own serial link, event loop and ticks,
// so that no unit can delay or disturb another. This run is each unit's parent: it hands
// every unit the same checked inputs, has the last word before anything is sent to a unit
// (the plan's row, a serial number seen twice), shows what each reports, writes the record
// of every unit (also of one that died) and sums them up. With watch(), it starts a unit for
// every serial device that appears, until it is interrupted.
class GangRun : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString program;                                // vxconf-cli itself
        QStringList programArguments{"--unit-report"};  // what makes it a unit
        std::vector<std::string> command;               // the unit's command line, less its port
        CommandInput input;                             // the command's file, read once
        const Plan* plan = nullptr;                     // each unit's own values, by serial number
        CsvLog* log = nullptr;                          // the record, a row a unit
        std::string commandName;                        // for the record
        std::string file;                               // for the record
        bool terminal = false;  // standard error is a terminal: a live table
        bool json = false;      // one JSON object a unit on standard output
        bool bell = false;      // ring at each unit's end
        std::string traceBase;  // --trace: each unit its own file, FILE.UNIT
    };
    GangRun(Options options, std::ostream& out, std::ostream& err);
    ~GangRun() override;

    // A unit to start: its name in the table, the arguments that choose its port, and the
    // device the record names.
    void addUnit(const std::string& name, const std::vector<std::string>& portArguments,
                 const std::string& recordDevice);
    // Watches these folders for serial devices; patterns: the names that count ("ttyUSB*"),
    // every entry when empty.
    void watch(const QStringList& folders, const QStringList& patterns);

    // Runs until every unit has ended (or, when watching, until interrupted and every unit
    // has ended); the exit code: the worst unit's, 128 + the signal after an interrupt, or
    // 4 when the run's own output was lost.
    int exec();

    const std::vector<UnitRow>& rows() const { return m_rows; }

private:
    struct Unit {
        std::unique_ptr<QProcess> process;
        std::string pending;  // a line not yet complete
        std::string recordDevice;
    };

    void start(std::size_t index, std::vector<std::string> arguments);
    void readEvents(std::size_t index);
    void answerSerial(std::size_t index);
    void finished(std::size_t index, int exitCode, QProcess::ExitStatus status);
    void failedToStart(std::size_t index);
    // The row has ended: record it, show it, and end the run when it was the last.
    void ended(std::size_t index);
    void onSignal(int signal);
    // Passes signal on to each unit still running, once for the whole run.
    void stopUnits(int signal);
    void checkOutput();
    void draw();
    void endIfDone();
    // The unit's trace file: FILE.NAME, with a number added where two names would share
    // one file.
    std::string traceFor(const std::string& name);
    std::uint64_t now() const { return static_cast<std::uint64_t>(m_clock.elapsed()); }

    Options m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    CatchingStopSignals m_catching;
    std::vector<UnitRow> m_rows;
    std::vector<Unit> m_units;
    std::map<std::string, std::size_t> m_serials;    // serial number: its first unit
    std::map<std::string, std::string> m_traceTags;  // unit name: its trace file's tag
    QElapsedTimer m_clock;
    QTimer m_redraw;
    std::size_t m_drawnLines = 0;
    DeviceWatcher m_watcher;
    bool m_watching = false;
    int m_signal = 0;
    bool m_unitsStopped = false;
    bool m_outputLost = false;
    class QEventLoop* m_loop = nullptr;
};
