#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/ExitStatus.h"
#include "cli/Terminal.h"
#include "cli/UnitEvents.h"
#include "configfiles/ConfigFileCommands.h"
#include "editor/BlockFields.h"
#include "editor/Editor.h"
#include "program/ProgramCommands.h"

// vxconf-cli's work on one unit, without Qt: each command runs the window's own commands and
// device dialogs' machines, with the notices on standard error and the questions answered by
// --yes or on the terminal.

// A transfer in which nothing moves for this long is aborted, as the window's user would.
inline constexpr std::uint64_t kTransferQuietLimitMs = 30000;
inline constexpr const char kTransferQuietText[] =
    "The VX310 did not answer for 30 seconds: the transfer was aborted";

// Nobody stops a device that never stops talking, either: a download longer than the
// conversion can take (with a tick's worth to spare), or an upload the device has not
// finished this long after its last byte, is aborted the same way.
inline constexpr unsigned kDownloadCharLimit = 65536 + 1024;
inline constexpr const char kDownloadTooLongText[] =
    "The VX310 sent more than the largest program: the transfer was aborted";
inline constexpr std::uint64_t kUploadFinishLimitMs = 60000;
inline constexpr const char kUploadUnfinishedText[] =
    "The VX310 did not finish within 60 seconds of the last byte: the transfer was aborted";

// A unit that answered the first read and then fell silent: the window's advice to check the
// port choice would send the user the wrong way.
std::string stoppedAnsweringText(const std::string& port);

// The words for an upload file that does not open, and for a load file that will not do
// (with its exit code, or kExitOk for a file that will).
std::string uploadOpenText(const std::string& file);
int loadFileProblem(const std::string& file, ConfigFileStatus status, std::string& text);

// The file a command reads (load's .vxc, upload's HEX), read once and checked before any unit
// is contacted, for a run on several units to hand to each. A pipe is waited for.
struct CommandInput {
    bool needed = false;  // the command reads a file
    std::string bytes;
    int code = kExitOk;  // not kExitOk: the file will not do, for the reason in message
    std::string message;
};
// A HEX file of the largest program at one byte a record is under a megabyte.
inline constexpr std::size_t kMaxUploadInput = 8u * 1024 * 1024;
CommandInput readCommandInput(CliCommand command, const std::string& file);

// Standard output or standard error would not take what was written (a closed pipe).
inline constexpr const char kOutputLostText[] =
    "Unable to write to standard output or standard error: the command was stopped";

struct CliRequest {
    CliCommand command = CliCommand::Read;
    std::string file;                      // save, load, upload, download, as given
    std::string source;                    // where file's bytes are read; file when empty
    std::string description;               // save: the file's description (UTF-8)
    bool json = false;                     // read
    bool dryRun = false;                   // load
    bool yes = false;                      // every question of the window answered Yes
    std::vector<std::string> assignments;  // set: FIELD=VALUE
    int port = 0;                          // the COM number to use
    std::string device;                    // --device: messages name this, not the number
    bool planned = false;                  // a plan gives each unit values: set may have none
};

// Stands in for a device dialog: starts the machine, then calls its tick whenever the timer
// the machine started is due, until the machine finishes or the caller's test says that
// the dialog would now only wait for the user. The program runs it on an event loop;
// tests move a simulated clock.
class TickRunner : public DialogControl {
public:
    static constexpr int kLeft = -2;  // run's result when stopped() ended it

    virtual int run(const std::function<void()>& begin, const std::function<void()>& tick,
                    const std::function<bool()>& stopped) = 0;
    // Milliseconds on the runner's clock, for the time a transfer has left.
    virtual std::uint64_t nowMs() const = 0;

    void refresh() override {
        if (onRefresh) {
            onRefresh();
        }
    }
    std::function<void()> onRefresh;
};

struct CliIo {
    std::ostream& out;
    std::ostream& err;
    bool terminal = false;  // standard error is a terminal: draw the progress bar
    // Asks a question on the terminal: nothing when there is no one to ask.
    std::function<std::optional<bool>(const std::string&)> ask;
    // What the unit is doing, for a run on several units: a state word ("reading",
    // "writing", "checking", "uploading" ...) and a percentage, or -1.
    std::function<void(const std::string&, int)> onState = nullptr;
    // Once the unit's serial number is read and before anything is sent: whether to go on,
    // and the plan's values for this unit. Going on with nothing planned when unset.
    std::function<GoAhead(unsigned serial, const std::string& version)> goAhead = nullptr;
    // Whether what the command writes still reaches its reader; the streams' own state
    // counts too.
    std::function<bool()> outputLost = nullptr;
};

// The port layer as a command sees it: only its own port. The command line names the port,
// so nobody needs the list of the others that the window offers, and probing them would
// open ports that other programs, or the other units of a run on several, are using.
class OnePortDriver : public SerialPortDriver {
public:
    explicit OnePortDriver(SerialPortDriver& inner) : m_inner(inner) {}
    void setPort(unsigned n) { m_port = n; }
    // The device as the command line gave it: the port is opened under its real name, but
    // the user is told of the name they know.
    void setGivenName(const std::string& name) { m_givenName = name; }

    bool probe(unsigned n) override { return n == m_port && m_inner.probe(n); }
    std::unique_ptr<SerialChannel> open(unsigned n) override { return m_inner.open(n); }
    std::string deviceName(unsigned n) const override {
        return n == m_port && !m_givenName.empty() ? m_givenName : m_inner.deviceName(n);
    }
    // The adapter's description and serial number are for the window's port list, which no
    // command shows; finding them walks every tty the system has, twice a command.
    std::string deviceDetails(unsigned) const override { return {}; }
    PortStatus status(unsigned n) const override { return m_inner.status(n); }

private:
    SerialPortDriver& m_inner;
    unsigned m_port = 0;
    std::string m_givenName;
};

class CliSession : private EditorView,
                   private ConfigFileView,
                   private ProgramView,
                   private FileChooser,
                   private Notifier {
public:
    CliSession(SerialPortDriver& driver, FileSaver& saver, TickRunner& runner,
               const Settings& settings, CliIo io);

    // Runs a device command; the exit code.
    int run(const CliRequest& request);
    // SIGINT, SIGTERM or SIGHUP (between ticks): a transfer is aborted as with Abort, so
    // the unit leaves its upload mode, a configuration store is finished, a read ends; then
    // the command stops with 128 + signal.
    // An output that no longer reaches its reader (CliIo::outputLost) stops the command the
    // same way, after the tick that found it, with exit code 4.
    void interrupt(int signal);

    Editor& editor() { return m_editor; }
    // The last message, for the record of the run.
    const std::string& message() const { return m_message; }
    // Whether a block was read, so that the record can name the unit.
    bool connected() const { return m_connected; }
    // The plan's values for this unit, as set takes them; empty without a plan.
    const std::vector<std::string>& planned() const { return m_planned; }

private:
    // --- EditorView ---
    void takeSelections(FormValues&) override {}
    void render() override {}
    int runConnectionDialog() override;
    void runUpdateDialog() override;
    void runModeDialog(int) override {}
    void closeWindow() override {}
    // --- ConfigFileView ---
    int runDescriptionDialog(DescriptionDialog& dialog) override;
    // --- ProgramView ---
    int runTransferDialog(const std::function<void(Transfer&)>& prepare) override;
    // --- FileChooser ---
    std::optional<ChosenFile> choose(const FileDialogRequest& request) override;
    // --- Notifier ---
    NoticeAnswer show(const Notice& notice) override;

    bool answer(const std::string& question);
    int refuse(const std::string& text, int code);
    int exitCode() const;
    int checkFile(const CliRequest& request);
    int load(const CliRequest& request);
    int set(const CliRequest& request);
    void printChanges(const ConfigBlock& next);
    std::string portName();
    void report(const std::string& state, int percent = -1);
    // Stops what runs: a transfer through its Abort, a read at once; a store goes on.
    void halt();
    // After each tick: an output that failed stops the command.
    void watchOutput();
    bool stopping() const { return m_signal != 0 || m_outputLost; }

    TickRunner& m_runner;
    CliIo m_io;
    OnePortDriver m_driver;
    Editor m_editor;
    ConfigFileCommands m_files;
    ProgramCommands m_programs;
    const CliRequest* m_request = nullptr;
    ProgressReport* m_progress = nullptr;  // the transfer's, while one runs
    Transfer* m_transfer = nullptr;        // while a transfer's ticks run
    bool m_updating = false;               // while the update dialog runs
    int m_signal = 0;
    bool m_outputLost = false;
    std::string m_description;
    // load: the file as read once, before the unit is contacted; a pipe gives its bytes
    // only once.
    ConfigFileContents m_loadFile;
    bool m_connected = false;
    unsigned m_notices = 0;
    bool m_declined = false;
    bool m_fileError = false;
    bool m_deviceError = false;
    bool m_mismatch = false;
    bool m_sent = false;  // a configuration went out: the next read checks it
    bool m_goAheadAsked = false;
    std::string m_message;
    std::vector<std::string> m_planned;
};
