#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "configfiles/ConfigFileCommands.h"
#include "editor/BlockFields.h"
#include "editor/Editor.h"
#include "program/ProgramCommands.h"

// vxconf-cli's work without Qt: each command runs the window's own commands and device
// dialogs' machines, with the notices on standard error and the questions answered by
// --yes or on the terminal.

enum CliExit {
    kExitOk = 0,
    kExitUsage = 1,     // a bad command line, a refused value, a question answered No
    kExitDevice = 2,    // the port did not open or the device did not answer as it should
    kExitMismatch = 3,  // the device did not store what was sent
    kExitFile = 4,      // a file could not be read or written
};

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

enum class CliCommand { Ports, Read, Save, Load, Set, Upload, Delete, Download, Start };

struct CliRequest {
    CliCommand command = CliCommand::Read;
    std::string file;                      // save, load, upload, download
    std::string description;               // save: the file's description (UTF-8)
    bool json = false;                     // read
    bool dryRun = false;                   // load
    bool yes = false;                      // every question of the window answered Yes
    std::vector<std::string> assignments;  // set: FIELD=VALUE
    int port = 0;                          // the COM number to use
    std::string device;                    // --device: messages name this, not the number
    const class Plan* plan = nullptr;      // --plan: each unit's own values, by serial number
};

// The command names as the command line spells them; nothing for an unknown one.
std::optional<CliCommand> cliCommandNamed(const std::string& name);
const char* cliCommandName(CliCommand command);

// A set command's FIELD=VALUE pairs, checked against the field table before anything is
// sent. False with the reason in error.
struct FieldAssignment {
    const BlockField* field;
    std::string value;
};
bool parseAssignments(const std::vector<std::string>& texts, std::vector<FieldAssignment>& out,
                      std::string& error);

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

// How a notice counts for the exit code.
enum class NoticeKind { Info, Warning, Mismatch, FileError, DeviceError };
NoticeKind noticeKind(const Notice& notice);

// The progress of a transfer on standard error: a bar that redraws itself on a terminal,
// and a line at each tenth otherwise.
class ProgressReport {
public:
    ProgressReport(std::ostream& err, bool terminal) : m_err(err), m_terminal(terminal) {}
    // downloadedBytes: download, the program bytes received so far (the header left out), as
    // the final "Program length = N" counts them.
    void show(const TransferScreen& screen, TransferMode mode, TransferState state,
              unsigned downloadedBytes, std::uint64_t elapsedMs);
    // Ends the bar's line, once something has been drawn.
    void finish();

private:
    std::ostream& m_err;
    bool m_terminal;
    bool m_drawn = false;
    int m_lastTenth = -1;
    std::string m_lastLine;
    std::string m_lastStatus;
};

// "[#####.....]  4000/8000 bytes  50%  0:04 left"
std::string progressBar(std::uint64_t done, std::uint64_t total, std::uint64_t elapsedMs);

// The program bytes in a download's first chars characters: two hexadecimal digits a byte,
// after the length and checksum (four bytes).
unsigned downloadedProgramBytes(unsigned chars);

// While the configuration is read from a device that is slow to answer, on a terminal:
// "reading from PORT… 17 s left".
std::string readWaitingText(const std::string& port, unsigned secondsLeft);

// A description (Windows-1252 bytes) as vxconf-cli prints it: UTF-8, CR LF as a line
// break, and every other control character, which a terminal would act on (ESC, a lone CR,
// C1 codes), shown as \xHH.
std::string descriptionForTerminal(const std::string& bytes);

// text with the port numbered n named by path instead ("COM255" and "The selected COM port").
std::string namingPort(const std::string& text, unsigned n, const std::string& path);

struct CliIo {
    std::ostream& out;
    std::ostream& err;
    bool terminal = false;  // standard error is a terminal: draw the progress bar
    // Asks a question on the terminal: nothing when there is no one to ask.
    std::function<std::optional<bool>(const std::string&)> ask;
    // What the unit is doing, for a run on several units: a state word ("reading",
    // "writing", "checking", "uploading" ...) and a percentage, or -1.
    std::function<void(const std::string&, int)> onState = nullptr;
    // The unit's serial number, once read.
    std::function<void(unsigned)> onSerial = nullptr;
};

// The port layer as a command sees it: only its own port. The command line names the port,
// so nobody needs the list of the others that the window offers, and probing them would
// open ports that other programs, or the other units of a run on several, are using.
class OnePortDriver : public SerialPortDriver {
public:
    explicit OnePortDriver(SerialPortDriver& inner) : m_inner(inner) {}
    void setPort(unsigned n) { m_port = n; }

    bool probe(unsigned n) override { return n == m_port && m_inner.probe(n); }
    std::unique_ptr<SerialChannel> open(unsigned n) override { return m_inner.open(n); }
    std::string deviceName(unsigned n) const override { return m_inner.deviceName(n); }
    std::string deviceDetails(unsigned n) const override { return m_inner.deviceDetails(n); }
    PortStatus status(unsigned n) const override { return m_inner.status(n); }

private:
    SerialPortDriver& m_inner;
    unsigned m_port = 0;
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
    void interrupt(int signal);

    Editor& editor() { return m_editor; }
    // For the record of the run: "ok", "mismatch" or "error", and the last message.
    const char* resultWord(int exitCode) const;
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
    // The plan's row for the unit just read into m_planned; false when it has none.
    bool takePlan();

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
    std::string m_message;
    std::vector<std::string> m_planned;
};
