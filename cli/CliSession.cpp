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

#include "configfiles/ConfigFile.h"
#include "device/ConfigUpdate.h"
#include "device/ConnectionRead.h"
#include "editor/BlockFields.h"
#include "platform/AnsiText.h"
#include "platform/FileRead.h"
#include "platform/FileWrite.h"
#include "program/HexWriter.h"

namespace {

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

std::string stoppedAnsweringText(const std::string& port) {
    return "The VX310 on " + port + " answered at first, then stopped answering during the run";
}

std::string uploadOpenText(const std::string& file) {
    return "Unable to open file: \"" + file + "\"?";
}

int loadFileProblem(const std::string& file, ConfigFileStatus status, std::string& text) {
    switch (status) {
        case ConfigFileStatus::Loaded:
            return kExitOk;
        case ConfigFileStatus::OpenFailed:
            text = openFailureText(file);
            break;
        case ConfigFileStatus::Incompatible:
            text = incompatibleText(baseName(file));
            break;
        case ConfigFileStatus::TooShort:
            text = "\"" + baseName(file) + "\" is not a VX310 configuration file";
            break;
    }
    return kExitFile;
}

CommandInput readCommandInput(CliCommand command, const std::string& file) {
    CommandInput input;
    if (command == CliCommand::Load) {
        input.needed = true;
        const ConfigFileContents contents = ReadConfigFile(file, true, &input.bytes);
        input.code = loadFileProblem(file, contents.status, input.message);
    } else if (command == CliCommand::Upload) {
        input.needed = true;
        bool tooLarge = false;
        const FileRead read =
            readFileStart(file, {kMaxUploadInput, false, &tooLarge, true}, input.bytes);
        if (read != FileRead::Ok) {
            input.code = kExitFile;
            input.message = uploadOpenText(file);
        } else if (tooLarge) {
            input.code = kExitFile;
            input.message = "\"" + file + "\" is larger than any VX310 program";
        } else if (input.bytes.empty() || input.bytes[0] != ':') {
            input.code = kExitFile;
            input.message = ProgramText::kInvalidFormat;
        }
    }
    return input;
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

int CliSession::refuse(const std::string& text, int code) {
    m_io.err << terminalText(text, true) << "\n";
    m_message = text;
    return code;
}

int CliSession::exitCode() const {
    if (m_signal != 0) {
        return kExitSignalBase + m_signal;
    }
    if (m_fileError || m_outputLost) {
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
    if (request.command == CliCommand::Set && !(request.planned && request.assignments.empty()) &&
        !parseAssignments(request.assignments, assignments, error)) {
        return refuse(error, kExitUsage);
    }
    if (m_editor.pcPort() <= 0) {
        return refuse("No port to use: give -p N or --device PATH", kExitUsage);
    }
    m_driver.setPort(static_cast<unsigned>(m_editor.pcPort()));
    m_driver.setGivenName(request.device);
    if (const int fileCode = checkFile(request); fileCode != kExitOk) {
        return fileCode;
    }
    if (!m_editor.readConfiguration()) {
        m_deviceError = true;
        return exitCode();
    }
    m_connected = true;
    const ConfigBlock& block = m_editor.block();
    if (m_io.goAhead && !m_goAheadAsked) {
        // Asked once: a job's upload after its configuration is the same unit.
        m_goAheadAsked = true;
        const GoAhead answer = m_io.goAhead(block.serialNumber(), versionText(block));
        if (answer.stopped || stopping()) {
            return exitCode();
        }
        if (!answer.go) {
            return refuse(answer.refusal, answer.code);
        }
        m_planned = answer.planned;
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
    const std::string& source = request.source.empty() ? request.file : request.source;
    if (request.command == CliCommand::Load) {
        m_loadFile = ReadConfigFile(source, true);
        std::string problem;
        const int code = loadFileProblem(request.file, m_loadFile.status, problem);
        return code == kExitOk ? kExitOk : refuse(problem, code);
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
        const int fd = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const bool readable = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        char first = 0;
        const bool hex = readable && ::read(fd, &first, 1) == 1 && first == ':';
        if (fd >= 0) {
            ::close(fd);
        }
        if (!readable) {
            return refuse(uploadOpenText(request.file), kExitFile);
        }
        if (!hex) {
            return refuse(ProgramText::kInvalidFormat, kExitFile);
        }
    }
    return kExitOk;
}

int CliSession::load(const CliRequest& request) {
    // The unit's planned values go on top of the file's settings, checked on this unit first;
    // the device's own fields, which a load keeps, are none of them.
    ConfigFileContents file = m_loadFile;
    if (!m_planned.empty()) {
        std::vector<FieldAssignment> planned;
        std::string error;
        ConfigBlock trial = blockToLoad(file.block, m_editor.block());
        if (!parseAssignments(m_planned, planned, error) ||
            !applyAssignments(trial, planned, error)) {
            return refuse(error, kExitUsage);
        }
        for (const FieldAssignment& assignment : planned) {
            setField(file.block, *assignment.field, assignment.value, error);
        }
    }
    if (file.status == ConfigFileStatus::Loaded) {
        if (!file.description.empty()) {
            m_io.out << "Description: " << descriptionForTerminal(file.description) << "\n";
        }
        printChanges(blockToLoad(file.block, m_editor.block()));
        if (request.dryRun) {
            return kExitOk;
        }
    }
    m_files.loadConfigFile([&file](const std::string&) { return file; });
    return exitCode();
}

int CliSession::set(const CliRequest& request) {
    std::vector<FieldAssignment> assignments;
    std::string error;
    std::vector<std::string> texts = request.assignments;
    texts.insert(texts.end(), m_planned.begin(), m_planned.end());
    ConfigBlock next = m_editor.block();
    if (!parseAssignments(texts, assignments, error) ||
        !applyAssignments(next, assignments, error)) {
        return refuse(error, kExitUsage);
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
    halt();
}

void CliSession::halt() {
    if (m_transfer) {
        // CR ESC from the machine's own abort, then its ticks: the unit is left at its
        // prompt, not half-way through a program.
        m_transfer->abort();
    } else if (!m_updating) {
        m_runner.finish(TickRunner::kLeft);
    }
}

void CliSession::watchOutput() {
    if (m_outputLost) {
        return;
    }
    const bool lost = m_io.out.fail() || m_io.err.fail() || (m_io.outputLost && m_io.outputLost());
    if (!lost) {
        return;
    }
    m_outputLost = true;
    m_message = kOutputLostText;
    m_io.err.clear();
    m_io.err << kOutputLostText << "\n";
    halt();
}

int CliSession::runConnectionDialog() {
    if (stopping()) {
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
            m_io.err << "\r" << terminalText(line) << "\033[K" << std::flush;
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
            watchOutput();
        },
        // Idle means the dialog now waits for the user: nobody here to press Retry.
        [&] { return begun && read.state() == ConnectState::Idle; });
    if (!waitingLine.empty()) {
        m_io.err << "\r\033[K" << std::flush;
    }
    if (stopping()) {
        return 1;
    }
    if (result == 0 && read.state() == ConnectState::Connected) {
        return 0;
    }
    if (read.timedOut() && m_connected) {
        // It answered the run's first read: the port choice was right.
        show({stoppedAnsweringText(portName()), ConnectText::kReadCaption, NoticeIcon::Exclamation,
              NoticeButtons::Ok, NoticeKind::DeviceError});
    } else if (read.screen().messageVisible) {
        show({read.screen().messageText, ConnectText::kReadCaption, NoticeIcon::Exclamation,
              NoticeButtons::Ok, NoticeKind::DeviceError});
    } else if (m_notices == noticesBefore) {
        // The port is not among those that open, so the window would list the others and
        // wait for a choice.
        show({openFailedText(m_editor.link().driver(), static_cast<unsigned>(m_editor.pcPort())),
              kProgramName, NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::DeviceError});
    }
    m_deviceError = true;
    return 1;
}

void CliSession::runUpdateDialog() {
    if (stopping()) {
        return;
    }
    report("writing");
    m_sent = true;
    ConfigUpdate update(m_editor, m_runner);
    m_updating = true;
    // A store is finished whatever happens meanwhile; the output is looked at after it.
    m_runner.run([&] { update.start(); }, [&] { update.tick(); }, [] { return false; });
    watchOutput();
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
    if (stopping()) {
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
        show({text, TransferText::kUnexpectedCaption, NoticeIcon::Exclamation, NoticeButtons::Ok,
              NoticeKind::DeviceError});
        transfer.abort();
    };
    const int result =
        m_runner.run([&] { transfer.start(); },
                     [&] {
                         transfer.tick();
                         watchOutput();
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
    m_io.err << terminalText(notice.text, true) << "\n";
    switch (notice.kind) {
        case NoticeKind::Mismatch:
            m_mismatch = true;
            break;
        case NoticeKind::FileError:
            m_fileError = true;
            break;
        case NoticeKind::DeviceError:
            m_deviceError = true;
            break;
        case NoticeKind::Info:
        case NoticeKind::Warning:
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
        m_io.err << terminalText(question, true) << "\n"
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
