#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <iosfwd>
#include <memory>
#include <vector>

#include "station/UnitRow.h"

// A command on several VX310s at once. Each unit runs in a vxconf-cli process of its own,
// which is exactly the single-unit program with its own serial link, event loop and ticks,
// so that no unit can delay or disturb another; this run only starts them, shows what each
// reports and sums them up. With watch(), it starts a unit for every serial device that
// appears, until it is interrupted.
class GangRun : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString program;        // vxconf-cli itself
        QStringList command;    // the unit's command line, less its port
        bool terminal = false;  // standard error is a terminal: a live table
        bool json = false;      // one JSON object a unit on standard output
        bool bell = false;      // ring at each unit's end
        QString traceBase;      // --trace: each unit its own file, FILE.UNIT
    };
    GangRun(Options options, std::ostream& out, std::ostream& err);
    ~GangRun() override;

    // A unit to start: its name in the table and the arguments that choose its port.
    void addUnit(const std::string& name, const QStringList& portArguments);
    // Watches these folders for serial devices; patterns: the names that count ("ttyUSB*"),
    // every entry when empty.
    void watch(const QStringList& folders, const QStringList& patterns);

    // Runs until every unit has ended (or, when watching, until interrupted and every unit
    // has ended); the exit code: the worst unit's, or 128 + the signal after an interrupt.
    int exec();

    const std::vector<UnitRow>& rows() const { return m_rows; }

private:
    struct Unit {
        std::unique_ptr<QProcess> process;
        std::string pending;  // a line not yet complete
    };

    void start(std::size_t index, const QStringList& portArguments);
    void readEvents(std::size_t index);
    void finished(std::size_t index, int exitCode, QProcess::ExitStatus status);
    void scanFolders();
    // The name a new device runs under: its entry in the first watched folder that has one.
    QString nameOf(const QString& device) const;
    void onSignal();
    void draw();
    void endIfDone();
    std::uint64_t now() const { return static_cast<std::uint64_t>(m_clock.elapsed()); }

    Options m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    std::vector<UnitRow> m_rows;
    std::vector<Unit> m_units;
    QElapsedTimer m_clock;
    QTimer m_redraw;
    std::size_t m_drawnLines = 0;
    // Watching.
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    QStringList m_folders;
    QStringList m_patterns;
    QSet<QString> m_present;  // canonical paths of the devices there now
    // Interrupts.
    std::unique_ptr<QSocketNotifier> m_signals;
    int m_signal = 0;
    class QEventLoop* m_loop = nullptr;
};

// Installs the run's handlers for SIGINT, SIGTERM and SIGHUP: they only write the signal's
// number into a pipe, which GangRun reads on its event loop. The descriptor to read.
int gangSignalPipe();
