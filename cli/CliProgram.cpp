#include "CliProgram.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QObject>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/CliSession.h"
#include "cli/CsvLog.h"
#include "cli/EventLoopRunner.h"
#include "cli/History.h"
#include "cli/UnitLink.h"
#include "cli/UnitResult.h"
#include "device/LinkTrace.h"
#include "device/PortNames.h"
#include "editor/Settings.h"
#include "platform/Profile.h"
#include "platform/QtFileSaver.h"
#include "platform/QtPortDriver.h"
#include "platform/StopSignals.h"
#include "sim/SimulatorProcess.h"

namespace {

std::optional<bool> askOnTerminal(const std::string& question) {
    if (!isatty(STDIN_FILENO)) {
        return std::nullopt;
    }
    // The question goes where the person at the keyboard sees it, even with standard error
    // sent to a file.
    const std::string shown = terminalText(question, true);
    if (FILE* tty = std::fopen("/dev/tty", "w")) {
        std::fprintf(tty, "%s [y/N] ", shown.c_str());
        std::fclose(tty);
    } else {
        std::cerr << shown << " [y/N] " << std::flush;
    }
    std::string line;
    if (!std::getline(std::cin, line)) {
        return false;
    }
    return line == "y" || line == "Y" || line == "yes" || line == "Yes" || line == "YES";
}

// The number that stands for path: its own where the rule or the settings give it one, a
// free one otherwise.
unsigned numberForDevice(PortNames& names, const std::string& path) {
    for (unsigned n = kFirstPort; n <= kLastPort; ++n) {
        if (names.devicePath(n) == path) {
            return n;
        }
    }
    unsigned n = kLastPort;
    while (n > kFirstPort && !names.devicePath(n).empty()) {
        --n;
    }
    names.setOverride(n, path);
    return n;
}

int listPorts(const PortNames& names, QtPortDriver& driver) {
    bool any = false;
    for (unsigned n = kFirstPort; n <= kLastPort; ++n) {
        const std::string path = names.devicePath(n);
        struct stat info {};
        if (path.empty() || lstat(path.c_str(), &info) != 0) {
            continue;
        }
        any = true;
        const std::string details = driver.deviceDetails(n);
        std::cout << terminalText(portEntryText(n, details.empty() ? path : path + ", " + details))
                  << ": ";
        if (driver.probe(n)) {
            std::cout << "opens\n";
        } else {
            std::cout << "does not open: " << portFaultWords(driver.status(n)) << "\n";
        }
    }
    if (!any) {
        std::cerr << "No serial port found\n";
    }
    return kExitOk;
}

// The bytes the run handed over, as a file the unchanged commands can open by path: an
// anonymous file in memory, reached through the process's own descriptor.
std::string inputFile(const std::string& bytes, std::string& error) {
    const int fd = ::memfd_create("vxconf-input", 0);
    std::size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (fd < 0 || done != bytes.size()) {
        error = "Unable to keep the run's input in memory";
        return {};
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

std::string stoppedText(int signal) {
    const char* name = signal == SIGINT    ? "SIGINT"
                       : signal == SIGTERM ? "SIGTERM"
                       : signal == SIGHUP  ? "SIGHUP"
                                           : nullptr;
    return "stopped by " + (name ? std::string(name) : "signal " + std::to_string(signal)) +
           " after its step";
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream printed(text);
    for (std::string line; std::getline(printed, line);) {
        out.push_back(line);
    }
    return out;
}

// One unit's whole command; link is set for a unit of a run on several, start holds what
// its run handed it.
int runUnit(const CliOptions& options, const UnitSetup& setup, UnitLink* link,
            const UnitLink::Start& start) {
    const std::optional<std::string>& input = start.input;
    const bool unit = link != nullptr;
    // A unit's data, and the data of a --json command that is not read, go into its object.
    const bool capture = unit || (options.json && options.command != CliCommand::Read);
    std::ostringstream captured;
    std::ostringstream unitErr;
    std::ostream& out = capture ? static_cast<std::ostream&>(captured) : std::cout;
    std::ostream& err = unit ? static_cast<std::ostream&>(unitErr) : std::cerr;

    CliRequest request;
    request.command = options.command;
    request.file = options.file;
    request.description = options.description;
    request.json = options.json;
    request.dryRun = options.dryRun;
    request.yes = options.yes;
    request.assignments = options.assignments;
    request.planned = setup.planned;
    if (!options.devices.empty()) {
        request.device = options.devices.front();
    }

    UnitResult result;
    std::string recordDevice = request.device;
    CsvLog log;
    History history;
    const auto end = [&](int code, const std::string& message) {
        result.code = code;
        result.result = resultWord(code);
        result.message = message;
        result.out = lines(captured.str());
        if (unit) {
            for (const std::string& line : result.out) {
                link->send({UnitKey::kOut, {line}});
            }
            if (!result.sent.empty()) {
                link->send({UnitKey::kSent, assignmentTexts(result.sent)});
            }
            if (!result.readBack.empty()) {
                link->send({UnitKey::kReadBack, assignmentTexts(result.readBack)});
            }
            link->send(
                {UnitKey::kEnd, {std::to_string(code), result.result, message, result.planned}});
            return code;
        }
        result.time = isoTimeUtc(std::time(nullptr));
        result.station = options.station.empty() ? hostName() : options.station;
        result.operatorName = options.operatorName;
        if (history.isOpen()) {
            std::string error;
            const History::Run run{
                0,  result, recordDevice, cliCommandName(options.command), options.file, {}, false,
                {}, {}};
            if (!history.record(run, error)) {
                std::cerr << terminalText(error) << "\n";
                code = code == kExitOk ? kExitFile : code;
                result.code = code;
                result.result = resultWord(code);
                result.message = message.empty() ? error : error + "\n" + message;
            }
        }
        if (capture) {
            std::cout << unitJson(result) << "\n" << std::flush;
        }
        if (log.isOpen()) {
            std::string error;
            const std::vector<std::string> fields =
                recordFields(result, std::time(nullptr), recordDevice,
                             cliCommandName(options.command), options.file);
            if (!log.append(fields, error)) {
                std::cerr << error << "\n";
                return code == kExitOk ? kExitFile : code;
            }
        }
        return code;
    };

    std::string error;
    // A record that cannot be written stops the run before the unit is contacted.
    if (!unit && !options.logPath.empty() && !log.open(options.logPath, error)) {
        std::cerr << terminalText(error) << "\n";
        return kExitFile;
    }
    // So is a history that cannot be written. A single unit's run keeps one only when asked
    // to (--history): the history is a station's, and a plain command stays as it was.
    if (!unit && !options.noHistory && !options.historyPath.empty() &&
        options.command != CliCommand::Ports && !history.open(options.historyPath, error)) {
        std::cerr << terminalText(error) << "\n";
        return kExitFile;
    }
    std::unique_ptr<TraceFile> trace;
    if (!options.tracePath.empty()) {
        trace = std::make_unique<TraceFile>(options.tracePath);
        if (!trace->ok()) {
            const std::string text =
                "Unable to write file: \"" + options.tracePath + "\"? (" + trace->error() + ")";
            err << terminalText(text) << "\n";
            return end(kExitFile, text);
        }
    }

    const std::string settingsFile = settingsFilePath();
    Settings settings = readSettings(settingsFile, WindowPos{}, currentFolder());
    PortNames names;
    names.loadOverrides(ProfileFile::load(settingsFile));
    SimulatorProcess simulator;
    if (options.simulate) {
        QStringList arguments;
        for (const std::string& argument : options.simulatorArguments) {
            arguments << QString::fromLocal8Bit(argument.c_str());
        }
        QString why;
        if (!simulator.start(arguments, why)) {
            std::cerr << "vxconf-cli: " << why.toStdString() << "\n";
            return kExitDevice;
        }
        names.setOverride(SimulatorProcess::kPortNumber, simulator.devicePath().toStdString());
        request.port = static_cast<int>(SimulatorProcess::kPortNumber);
    } else if (!request.device.empty()) {
        // Opened and locked under its real name; messages keep the name given.
        request.port =
            static_cast<int>(numberForDevice(names, canonicalDevicePath(request.device)));
    } else if (!options.ports.empty()) {
        request.port = static_cast<int>(options.ports.front());
    }
    if (request.port > 0) {
        settings.pcPort = request.port;
    }
    if (request.device.empty() && settings.pcPort > 0) {
        const auto n = static_cast<unsigned>(settings.pcPort);
        result.name = "COM" + std::to_string(n);
        recordDevice = names.devicePath(n);
    } else {
        result.name = request.device;
    }
    QtPortDriver driver(names.resolver());
    if (options.command == CliCommand::Ports) {
        return listPorts(names, driver);
    }
    if (input) {
        request.source = inputFile(*input, error);
        if (request.source.empty()) {
            err << error << "\n";
            return end(kExitFile, error);
        }
    }

    QtFileSaver saver;
    EventLoopRunner runner;
    CliIo io{out, err, !unit && isatty(STDERR_FILENO) == 1, unit ? nullptr : askOnTerminal};
    StopSignals& stops = StopSignals::instance();
    if (unit) {
        io.onState = [link](const std::string& state, int percent) {
            link->send({UnitKey::kState, {state, std::to_string(percent)}});
        };
        io.outputLost = [link] { return link->lost(); };
    }
    io.goAhead = [&](unsigned serial, const std::string& version) {
        result.serial = std::to_string(serial);
        result.version = version;
        GoAhead answer;
        if (unit) {
            const CatchingStopSignals catching;
            answer = link->askGoAhead(serial, version, stops.fd());
            if (answer.stopped) {
                stops.deliverPending();
            }
        } else if (setup.goAhead) {
            answer = setup.goAhead(serial, version);
        }
        result.planned = describePlanned(answer.planned);
        return answer;
    };
    CliSession session(driver, saver, runner, settings, io);
    stops.install();
    const QMetaObject::Connection stopping = QObject::connect(
        &stops, &StopSignals::received, [&session](int signal) { session.interrupt(signal); });
    session.editor().link().setTrace(trace.get());
    int code = session.run(request);
    std::string programError;
    if (code == kExitOk && start.program) {
        // A job's program goes once its configuration is in and checked.
        CliRequest upload = request;
        upload.command = CliCommand::Upload;
        upload.file = start.programName.empty() ? "program.hex" : start.programName;
        upload.yes = true;
        upload.assignments.clear();
        upload.source = inputFile(*start.program, programError);
        code = upload.source.empty() ? kExitFile : session.run(upload);
    }
    if (const std::optional<ConfigBlock>& sent = session.editor().lastSent()) {
        result.sent = blockValues(*sent);
    }
    if (const std::optional<ConfigBlock>& back = session.editor().lastReadBack()) {
        result.readBack = blockValues(*back);
    }
    QObject::disconnect(stopping);
    std::string message = programError.empty() ? session.message() : programError;
    if (code > kExitSignalBase) {
        // What ended the unit, then what it last said.
        message = stoppedText(code - kExitSignalBase) + (message.empty() ? "" : ": " + message);
    }
    if (!capture) {
        std::cout.flush();
        if (!std::cout) {
            message = "Unable to write to standard output";
            std::cerr << message << "\n";
            code = code == kExitOk ? kExitFile : code;
        }
    }
    session.editor().link().close();
    session.editor().link().setTrace(nullptr);
    if (trace && trace->dropped() > 0) {
        // Only now, with the unit's work done: a trace never stops a transfer.
        const std::string dropped = droppedText(trace->dropped(), trace->dropReason());
        err << dropped << "\n";
        message = message.empty() ? dropped : message + "\n" + dropped;
        code = code == kExitOk ? kExitFile : code;
    }
    if (message.empty() && code != kExitOk) {
        message = unitErr.str();
    }
    return end(code, message);
}

}  // namespace

int runOneUnit(const CliOptions& options, const UnitSetup& setup) {
    return runUnit(options, setup, nullptr, UnitLink::Start{});
}

int runReportingUnit() {
    UnitLink link;
    UnitLink::Start start;
    std::string error;
    CliOptions options;
    if (!link.receiveStart(start, error) || !parseCliOptions(start.args, options, error)) {
        link.send({UnitKey::kEnd, {std::to_string(kExitUsage), resultWord(kExitUsage), error, ""}});
        return kExitUsage;
    }
    UnitSetup setup;
    setup.planned = start.planned;
    return runUnit(options, setup, &link, start);
}
