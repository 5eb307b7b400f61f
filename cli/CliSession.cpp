#include "CliSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <tuple>

#include "station/Plan.h"
#include "configfiles/ConfigFile.h"
#include "device/ConfigUpdate.h"
#include "device/ConnectionRead.h"
#include "editor/BlockFields.h"
#include "platform/AnsiText.h"
#include "platform/FileWrite.h"
#include "program/HexWriter.h"

namespace {

struct CommandName {
    CliCommand command;
    const char* name;
};

const CommandName kCommands[] = {
    {CliCommand::Ports, "ports"},   {CliCommand::Read, "read"},
    {CliCommand::Save, "save"},     {CliCommand::Load, "load"},
    {CliCommand::Set, "set"},       {CliCommand::Upload, "upload"},
    {CliCommand::Delete, "delete"}, {CliCommand::Download, "download"},
    {CliCommand::Start, "start"},
};

std::string fieldNames() {
    std::string names;
    for (const BlockField& field : blockFields()) {
        names += (names.empty() ? "" : ", ") + std::string(field.name);
    }
    return names;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The window's words for a file that does not open, with the whole path and the system's
// reason, since no file dialog shows where the file was looked for.
std::string openFailureText(const std::string& path) {
    std::error_code ignored;
    const std::string whole = std::filesystem::absolute(path, ignored).lexically_normal().string();
    int error = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0) {
        error = errno;
    } else if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        error = EISDIR;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    const std::string text = openErrorText(whole.empty() ? path : whole);
    return error != 0 ? text + " (" + std::strerror(error) + ")" : text;
}

}  // namespace

std::optional<CliCommand> cliCommandNamed(const std::string& name) {
    for (const CommandName& entry : kCommands) {
        if (name == entry.name) {
            return entry.command;
        }
    }
    return std::nullopt;
}

const char* cliCommandName(CliCommand command) {
    for (const CommandName& entry : kCommands) {
        if (entry.command == command) {
            return entry.name;
        }
    }
    return "";
}

bool parseAssignments(const std::vector<std::string>& texts, std::vector<FieldAssignment>& out,
                      std::string& error) {
    out.clear();
    if (texts.empty()) {
        error = "Nothing to set: give one or more FIELD=VALUE. Fields: " + fieldNames();
        return false;
    }
    for (const std::string& text : texts) {
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) {
            error = "\"" + text + "\" is not FIELD=VALUE";
            return false;
        }
        const std::string name = text.substr(0, equals);
        const BlockField* field = findField(name);
        if (!field && isDeviceField(name)) {
            error = "\"" + name + "\" is the VX310's own and cannot be set";
            return false;
        }
        if (!field) {
            error = "Unknown field \"" + name + "\". Fields: " + fieldNames();
            return false;
        }
        // The values are checked on a scratch block; the device's block takes them later.
        ConfigBlock scratch;
        if (!setField(scratch, *field, text.substr(equals + 1), error)) {
            return false;
        }
        out.push_back({field, text.substr(equals + 1)});
    }
    return true;
}

NoticeKind noticeKind(const Notice& notice) {
    if (notice.caption == kDownloadCaption && notice.icon == NoticeIcon::None) {
        // The conversion's failures carry no icon.
        for (const char* prefix :
             {"Failed to open file: ", "Failed to read from file: ", "Failed to create file: "}) {
            if (notice.text.rfind(prefix, 0) == 0) {
                return NoticeKind::FileError;
            }
        }
        if (notice.text.rfind("Insufficient data", 0) == 0) {
            return NoticeKind::DeviceError;
        }
    }
    if (notice.icon != NoticeIcon::Exclamation) {
        return NoticeKind::Info;
    }
    const std::string& caption = notice.caption;
    if (notice.text == TransferText::kModeOff) {
        return NoticeKind::Warning;
    }
    if (caption == MainText::kCaption && notice.text.rfind(kNotStoredHeading, 0) == 0) {
        return NoticeKind::Mismatch;
    }
    if (caption == FileText::kFileErrorCaption || caption == FileText::kIncompatibleCaption ||
        caption == TransferText::kReadFailedCaption ||
        (caption == ProgramText::kUploadTitle && notice.text == ProgramText::kInvalidFormat)) {
        return NoticeKind::FileError;
    }
    return NoticeKind::DeviceError;
}

std::string progressBar(std::uint64_t done, std::uint64_t total, std::uint64_t elapsedMs) {
    constexpr int kWidth = 30;
    done = std::min(done, total);
    const int filled = total ? static_cast<int>(done * kWidth / total) : 0;
    const unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 0;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kWidth - filled), '.') + "]";
    char text[96];
    std::snprintf(text, sizeof text, " %llu/%llu bytes %3u%%",
                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                  percent);
    bar += text;
    if (done > 0 && done < total) {
        const std::uint64_t leftS = (elapsedMs * (total - done) / done + 999) / 1000;
        std::snprintf(text, sizeof text, "  %llu:%02llu left",
                      static_cast<unsigned long long>(leftS / 60),
                      static_cast<unsigned long long>(leftS % 60));
        bar += text;
    }
    return bar;
}

unsigned downloadedProgramBytes(unsigned chars) {
    return chars / 2 > 4 ? chars / 2 - 4 : 0;
}

std::string readWaitingText(const std::string& port, unsigned secondsLeft) {
    return "reading from " + port + "\u2026 " + std::to_string(secondsLeft) + " s left";
}

std::string descriptionForTerminal(const std::string& bytes) {
    std::string shown;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;  // CR LF is one line break
        }
        // The bytes Windows-1252 leaves undefined stand for C1 controls.
        const bool c1 =
            byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F || c1) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            shown += escape;
        } else {
            shown += bytes[i];
        }
    }
    return ansiToUtf8(shown);
}

std::string namingPort(const std::string& text, unsigned n, const std::string& path) {
    std::string named;
    const std::string number = "COM" + std::to_string(n);
    std::size_t from = 0;
    for (std::size_t at = text.find(number); at != std::string::npos;
         at = text.find(number, at + 1)) {
        const std::size_t end = at + number.size();
        if (end < text.size() && text[end] >= '0' && text[end] <= '9') {
            continue;  // COM25 inside COM255
        }
        named += text.substr(from, at - from) + path;
        from = end;
    }
    named += text.substr(from);
    const std::string generic = "The selected COM port";
    if (named.rfind(generic, 0) == 0) {
        named.replace(0, generic.size(), "The selected port " + path);
    }
    return named;
}

void ProgressReport::show(const TransferScreen& screen, TransferMode mode, TransferState state,
                          unsigned downloadedBytes, std::uint64_t elapsedMs) {
    if (!screen.statusText.empty() && screen.statusText != m_lastStatus) {
        finish();
        m_lastStatus = screen.statusText;
        m_err << screen.statusText << "\n";
    }
    std::string line;
    int tenth = 0;
    // While aborting, the bar counts ticks, not bytes. A download's count is its own and
    // shown to its end, so that the last number is the program's length.
    const bool moving = state == TransferState::Sending || state == TransferState::WaitDone ||
                        state == TransferState::Receiving;
    if (!moving && mode != TransferMode::Download) {
        return;
    }
    if (mode == TransferMode::Upload && screen.progressMax > 0 && screen.progressPos > 0) {
        const auto done = static_cast<std::uint64_t>(screen.progressPos);
        const auto total = static_cast<std::uint64_t>(screen.progressMax);
        line = progressBar(done, total, elapsedMs);
        tenth = static_cast<int>(std::min(done, total) * 10 / total);
    } else if (mode == TransferMode::Download && downloadedBytes > 0) {
        // The size is not known until the device stops.
        char text[64];
        std::snprintf(text, sizeof text, "%u bytes received", downloadedBytes);
        line = text;
        tenth = static_cast<int>(downloadedBytes / 1024);
    } else {
        return;
    }
    if (line == m_lastLine) {
        return;
    }
    m_lastLine = line;
    if (m_terminal) {
        m_err << "\r" << line << "\033[K" << std::flush;
        m_drawn = true;
    } else if (tenth != m_lastTenth) {
        m_lastTenth = tenth;
        m_err << line << "\n";
    }
}

void ProgressReport::finish() {
    if (m_drawn) {
        m_err << "\n";
        m_drawn = false;
    }
}

CliSession::CliSession(SerialPortDriver& driver, FileSaver& saver, TickRunner& runner,
                       const Settings& settings, CliIo io)
    : m_runner(runner),
      m_io(std::move(io)),
      m_driver(driver),
      m_editor(m_driver, *this, *this),
      m_files(m_editor, *this, saver, *this),
      m_programs(m_editor, *this, saver, *this) {
    m_editor.applySettings(settings);
    m_driver.setPort(settings.pcPort > 0 ? static_cast<unsigned>(settings.pcPort) : 0);
}

const char* CliSession::resultWord(int exitCode) const {
    return exitCode == kExitOk ? "ok" : exitCode == kExitMismatch ? "mismatch" : "error";
}

int CliSession::refuse(const std::string& text, int code) {
    m_io.err << text << "\n";
    m_message = text;
    return code;
}

int CliSession::exitCode() const {
    if (m_signal != 0) {
        return 128 + m_signal;
    }
    if (m_fileError) {
        return kExitFile;
    }
    if (m_deviceError) {
        return kExitDevice;
    }
    if (m_mismatch) {
        return kExitMismatch;
    }
    return m_declined ? kExitUsage : kExitOk;
}

int CliSession::run(const CliRequest& request) {
    m_request = &request;
    std::vector<FieldAssignment> assignments;
    std::string error;
    // With a plan, set may take every value from the unit's row.
    if (request.command == CliCommand::Set &&
        !(request.plan != nullptr && request.assignments.empty()) &&
        !parseAssignments(request.assignments, assignments, error)) {
        return refuse(error, kExitUsage);
    }
    if (m_editor.pcPort() <= 0) {
        return refuse("No port to use: give -p N or --device PATH", kExitUsage);
    }
    m_driver.setPort(static_cast<unsigned>(m_editor.pcPort()));
    if (const int fileCode = checkFile(request); fileCode != kExitOk) {
        return fileCode;
    }
    if (!m_editor.readConfiguration()) {
        m_deviceError = true;
        return exitCode();
    }
    m_connected = true;
    const ConfigBlock& block = m_editor.block();
    if (m_io.onSerial) {
        m_io.onSerial(block.serialNumber());
    }
    if (request.plan != nullptr && !takePlan()) {
        return refuse("Serial number " + std::to_string(block.serialNumber()) +
                          " is not in the plan: nothing was sent to this unit",
                      kExitUsage);
    }
    switch (request.command) {
        case CliCommand::Read:
            m_io.out << (request.json ? blockJson(block, m_editor.validProgram())
                                      : blockReport(block, m_editor.validProgram()));
            break;
        case CliCommand::Save:
            m_files.saveConfigFile();
            break;
        case CliCommand::Load:
            return load(request);
        case CliCommand::Set:
            return set(request);
        case CliCommand::Upload:
            if (!block.isProg()) {
                return refuse("This VX310 is an ADE product: it takes no user program", kExitUsage);
            }
            m_programs.uploadProgram();
            break;
        case CliCommand::Delete:
            if (!block.isProg() || !m_editor.validProgram()) {
                return refuse("This VX310 holds no user program to delete", kExitUsage);
            }
            m_programs.deleteProgram();
            break;
        case CliCommand::Download:
            if (m_editor.downloadEnabled() == 0) {
                return refuse(
                    "Downloading is not enabled: set Download=1 in the [Options] section of "
                    "the settings file",
                    kExitUsage);
            }
            if (!block.isProg() || !m_editor.validProgram()) {
                return refuse("This VX310 holds no user program to download", kExitUsage);
            }
            m_programs.downloadProgram();
            break;
        case CliCommand::Start:
            m_editor.startProgram();
            break;
        case CliCommand::Ports:
            break;
    }
    return exitCode();
}

void CliSession::printChanges(const ConfigBlock& next) {
    const std::vector<std::string> changes = plannedChanges(m_editor.block(), next);
    if (changes.empty()) {
        m_io.out << "No field changes on this unit\n";
    }
    for (const std::string& line : changes) {
        m_io.out << line << "\n";
    }
}

int CliSession::checkFile(const CliRequest& request) {
    // A file that will not do is reported before the unit is contacted, in the window's
    // words where it has them.
    if (request.command == CliCommand::Load) {
        m_loadFile = ReadConfigFile(request.file, true);
        switch (m_loadFile.status) {
            case ConfigFileStatus::Loaded:
                return kExitOk;
            case ConfigFileStatus::OpenFailed:
                return refuse(openFailureText(request.file), kExitFile);
            case ConfigFileStatus::Incompatible:
                return refuse(incompatibleText(baseName(request.file)), kExitFile);
            case ConfigFileStatus::TooShort:
                return refuse(
                    "\"" + baseName(request.file) + "\" is not a VX310 configuration file",
                    kExitFile);
        }
    }
    if (request.command == CliCommand::Save || request.command == CliCommand::Download) {
        // A FIFO or a device in the place of a file to write is never written into nor
        // replaced.
        std::vector<std::string> targets{request.file};
        if (request.command == CliCommand::Download) {
            targets.push_back(request.file + ".tmp");
        }
        for (const std::string& target : targets) {
            if (const std::string why = unwritableReason(target); !why.empty()) {
                return refuse(writeErrorText(target) + reasonSuffix(why), kExitFile);
            }
        }
    }
    if (request.command == CliCommand::Upload) {
        struct stat info {};
        const int fd = ::open(request.file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const bool readable = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        char first = 0;
        const bool hex = readable && ::read(fd, &first, 1) == 1 && first == ':';
        if (fd >= 0) {
            ::close(fd);
        }
        if (!readable) {
            return refuse("Unable to open file: \"" + request.file + "\"?", kExitFile);
        }
        if (!hex) {
            return refuse(ProgramText::kInvalidFormat, kExitFile);
        }
    }
    return kExitOk;
}

bool CliSession::takePlan() {
    const std::vector<std::string>* row = m_request->plan->find(m_editor.block().serialNumber());
    if (row == nullptr) {
        return false;
    }
    m_planned = *row;
    return true;
}

int CliSession::load(const CliRequest& request) {
    const ConfigFileContents& file = m_loadFile;
    // The unit's planned values go on top of the file's.
    std::vector<FieldAssignment> planned;
    std::string error;
    if (!m_planned.empty()) {
        parseAssignments(m_planned, planned, error);
        for (const FieldAssignment& assignment : planned) {
            if (assignment.field->kind == FieldKind::Driver &&
                !(m_editor.block().byte(Offset::portInterfaces) & 1)) {
                return refuse(std::string(assignment.field->name) +
                                  " applies only when Port 1 is RS422/485; this unit's is RS232",
                              kExitUsage);
            }
        }
    }
    const auto adjust = [planned](ConfigBlock& next) {
        std::string ignored;
        for (const FieldAssignment& assignment : planned) {
            setField(next, *assignment.field, assignment.value, ignored);
        }
    };
    m_files.setLoadAdjustment(adjust);
    if (file.status == ConfigFileStatus::Loaded) {
        if (!file.description.empty()) {
            m_io.out << "Description: " << descriptionForTerminal(file.description) << "\n";
        }
        ConfigBlock next = blockToLoad(file.block, m_editor.block());
        adjust(next);
        printChanges(next);
        if (request.dryRun) {
            return kExitOk;
        }
    }
    m_files.loadConfigFile([this](const std::string&) { return m_loadFile; });
    return exitCode();
}

int CliSession::set(const CliRequest& request) {
    std::vector<FieldAssignment> assignments;
    std::string error;
    std::vector<std::string> texts = request.assignments;
    texts.insert(texts.end(), m_planned.begin(), m_planned.end());
    parseAssignments(texts, assignments, error);
    ConfigBlock next = m_editor.block();
    for (const FieldAssignment& assignment : assignments) {
        if (assignment.field->kind == FieldKind::Driver &&
            !(next.byte(Offset::portInterfaces) & 1)) {
            // The Mode 1 dialog greys the choice out for an RS232 port.
            return refuse(std::string(assignment.field->name) +
                              " applies only when Port 1 is RS422/485; this unit's is RS232",
                          kExitUsage);
        }
        setField(next, *assignment.field, assignment.value, error);
    }
    printChanges(next);
    m_editor.sendBlock(next);
    return exitCode();
}

// --- the windows' stand-ins ---

void CliSession::report(const std::string& state, int percent) {
    if (m_io.onState) {
        m_io.onState(state, percent);
    }
}

void CliSession::interrupt(int signal) {
    if (m_signal == 0) {
        m_signal = signal;
    }
    if (m_transfer) {
        // CR ESC from the machine's own abort, then its ticks: the unit is left at its
        // prompt, not half-way through a program.
        m_transfer->abort();
    } else if (!m_updating) {
        m_runner.finish(TickRunner::kLeft);
    }
}

int CliSession::runConnectionDialog() {
    if (m_signal != 0) {
        return 1;  // interrupted: the unit is not asked again
    }
    report(m_sent ? "checking" : "reading");
    m_sent = false;
    ConnectionRead read(m_editor, m_runner);
    bool begun = false;
    const unsigned noticesBefore = m_notices;
    // A device that is slow to answer holds the read for up to 20 s: on a terminal, say so
    // once the first second has gone by.
    constexpr unsigned kQuietTicks = 1000 / ConnectionRead::kTickMs;
    std::string waitingLine;
    auto showWaiting = [&] {
        const bool waiting =
            read.state() == ConnectState::AwaitPrompt || read.state() == ConnectState::AwaitBlock;
        if (!m_io.terminal || !waiting || read.tickCount() < kQuietTicks ||
            read.tickCount() >= ConnectionRead::kTickLimit) {
            return;
        }
        const unsigned leftMs =
            (ConnectionRead::kTickLimit - read.tickCount()) * ConnectionRead::kTickMs;
        const std::string line = readWaitingText(portName(), (leftMs + 999) / 1000);
        if (line != waitingLine) {
            waitingLine = line;
            m_io.err << "\r" << line << "\033[K" << std::flush;
        }
    };
    const int result = m_runner.run(
        [&] {
            read.initialise();
            begun = true;
        },
        [&] {
            read.tick();
            showWaiting();
        },
        // Idle means the dialog now waits for the user: nobody here to press Retry.
        [&] { return begun && read.state() == ConnectState::Idle; });
    if (!waitingLine.empty()) {
        m_io.err << "\r\033[K" << std::flush;
    }
    if (m_signal != 0) {
        return 1;
    }
    if (result == 0 && read.state() == ConnectState::Connected) {
        return 0;
    }
    if (read.screen().messageVisible) {
        show({read.screen().messageText, ConnectText::kReadCaption, NoticeIcon::Exclamation,
              NoticeButtons::Ok});
    } else if (m_notices == noticesBefore) {
        // The port is not among those that open, so the window would list the others and
        // wait for a choice.
        show({openFailedText(m_editor.link().driver(), static_cast<unsigned>(m_editor.pcPort())),
              kProgramName, NoticeIcon::Exclamation, NoticeButtons::Ok});
    }
    m_deviceError = true;
    return 1;
}

void CliSession::runUpdateDialog() {
    if (m_signal != 0) {
        return;
    }
    report("writing");
    m_sent = true;
    ConfigUpdate update(m_editor, m_runner);
    m_updating = true;
    m_runner.run([&] { update.start(); }, [&] { update.tick(); }, [] { return false; });
    m_updating = false;
}

int CliSession::runDescriptionDialog(DescriptionDialog& dialog) {
    if (dialog.isSave()) {
        // The command line gave the file and its description: the dialog's Yes.
        return dialog.yes(descriptionFromWidget(m_request ? m_request->description : ""));
    }
    return answer(dialog.question()) ? dialog.yes(dialog.description()) : DescriptionDialog::kNo;
}

int CliSession::runTransferDialog(const std::function<void(Transfer&)>& prepare) {
    if (m_signal != 0) {
        return 0;
    }
    Transfer transfer(m_editor, m_runner);
    prepare(transfer);
    m_transfer = &transfer;
    ProgressReport progress(m_io.err, m_io.terminal);
    m_progress = &progress;
    const std::uint64_t startMs = m_runner.nowMs();
    int lastPercent = -2;
    const char* word = transfer.mode() == TransferMode::Upload     ? "uploading"
                       : transfer.mode() == TransferMode::Download ? "downloading"
                                                                   : "deleting";
    m_runner.onRefresh = [&] {
        progress.show(transfer.screen(), transfer.mode(), transfer.state(),
                      downloadedProgramBytes(transfer.fileChars()), m_runner.nowMs() - startMs);
        const TransferScreen& screen = transfer.screen();
        const bool sending = transfer.mode() == TransferMode::Upload &&
                             (transfer.state() == TransferState::Sending ||
                              transfer.state() == TransferState::WaitDone);
        const int percent =
            sending && screen.progressMax > 0
                ? int(std::min(screen.progressPos, screen.progressMax) * 100 / screen.progressMax)
                : -1;
        if (percent != lastPercent) {
            lastPercent = percent;
            report(transfer.state() == TransferState::Aborting ? "aborting" : word, percent);
        }
    };
    // The window's user would press Abort when the device stops answering; nobody here will.
    // Prompts alone do not count: the transfer has to move.
    std::uint64_t lastActivity = startMs;
    auto snapshot = [&] {
        return std::make_tuple(transfer.state(), transfer.screen().progressPos,
                               transfer.fileChars(), transfer.screen().detailText);
    };
    auto last = snapshot();
    bool gaveUp = false;
    std::optional<std::uint64_t> lastByteSent;  // when an upload's file was all sent
    auto giveUp = [&](const char* text) {
        gaveUp = true;
        show({text, TransferText::kUnexpectedCaption, NoticeIcon::Exclamation, NoticeButtons::Ok});
        transfer.abort();
    };
    const int result =
        m_runner.run([&] { transfer.start(); },
                     [&] {
                         transfer.tick();
                         if (transfer.state() == TransferState::Start ||
                             transfer.state() == TransferState::Completed) {
                             m_transfer = nullptr;  // over: nothing left to abort
                         }
                         const std::uint64_t now = m_runner.nowMs();
                         const bool waitingDone = transfer.state() == TransferState::WaitDone;
                         if (!waitingDone) {
                             lastByteSent.reset();
                         } else if (!lastByteSent) {
                             lastByteSent = now;
                         }
                         if (snapshot() != last) {
                             last = snapshot();
                             lastActivity = now;
                         }
                         if (gaveUp) {
                         } else if (now - lastActivity >= kTransferQuietLimitMs) {
                             giveUp(kTransferQuietText);
                         } else if (transfer.mode() == TransferMode::Download &&
                                    transfer.fileChars() > kDownloadCharLimit) {
                             giveUp(kDownloadTooLongText);
                         } else if (lastByteSent && now - *lastByteSent >= kUploadFinishLimitMs) {
                             giveUp(kUploadUnfinishedText);
                         }
                     },
                     [] { return false; });
    m_runner.onRefresh = nullptr;
    m_transfer = nullptr;
    m_progress = nullptr;
    progress.finish();
    return result;
}

std::optional<ChosenFile> CliSession::choose(const FileDialogRequest&) {
    if (!m_request || m_request->file.empty()) {
        return std::nullopt;
    }
    return ChosenFile{m_request->file, baseName(m_request->file)};
}

std::string CliSession::portName() {
    const auto n = static_cast<unsigned>(m_editor.pcPort());
    if (m_request && !m_request->device.empty()) {
        return m_request->device;
    }
    const std::string device = m_editor.link().driver().deviceName(n);
    return device.empty() ? "COM" + std::to_string(n) : device;
}

NoticeAnswer CliSession::show(const Notice& shown) {
    ++m_notices;
    Notice notice = shown;
    if (m_request && !m_request->device.empty() && m_editor.pcPort() > 0) {
        notice.text =
            namingPort(notice.text, static_cast<unsigned>(m_editor.pcPort()), m_request->device);
    }
    if (m_progress) {
        m_progress->finish();  // a notice starts a line of its own
    }
    if (notice.buttons == NoticeButtons::YesNo) {
        return answer(notice.text) ? NoticeAnswer::Yes : NoticeAnswer::No;
    }
    m_io.err << notice.text << "\n";
    switch (noticeKind(notice)) {
        case NoticeKind::Mismatch:
            m_mismatch = true;
            break;
        case NoticeKind::FileError:
            m_fileError = true;
            break;
        case NoticeKind::DeviceError:
            m_deviceError = true;
            break;
        default:
            break;
    }
    m_message = notice.text;
    return NoticeAnswer::Ok;
}

bool CliSession::answer(const std::string& question) {
    if (m_request && m_request->yes) {
        return true;
    }
    const std::optional<bool> answered = m_io.ask ? m_io.ask(question) : std::nullopt;
    if (!answered) {
        m_io.err << question << "\n"
                 << "No answer without a terminal: give --yes to answer Yes\n";
        m_message = question;
    } else if (*answered) {
        return true;
    } else {
        m_io.err << "Not done: the question was answered No\n";
        m_message = question;
    }
    m_declined = true;
    return false;
}
