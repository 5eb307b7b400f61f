#include "GangCommand.h"

#include <unistd.h>

#include <QString>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <set>

#include "cli/CsvLog.h"
#include "cli/History.h"
#include "cli/Terminal.h"
#include "device/PortNames.h"
#include "editor/Settings.h"
#include "platform/Profile.h"
#include "platform/QtPortDriver.h"
#include "station/GangRun.h"
#include "station/Job.h"
#include "station/Plan.h"
#include "station/UnitLauncher.h"
#include "station/UnitProcess.h"

namespace {

int refuse(const std::string& text, int code) {
    std::cerr << terminalText(text, true) << "\n";
    return code;
}

}  // namespace

void setJobCommand(const Job& job, const JobInputs& inputs, CliOptions& options) {
    options.yes = true;
    if (job.config.given()) {
        options.command = CliCommand::Load;
        options.file = jobFilePath(job, job.config);
    } else if (!job.sets.empty() || inputs.plan) {
        options.command = CliCommand::Set;
    } else {
        options.command = CliCommand::Upload;
        options.file = jobFilePath(job, job.program);
    }
}

CommandInput jobCommandInput(const JobInputs& inputs, const CliOptions& options) {
    CommandInput input;
    input.needed = options.command != CliCommand::Set;
    input.bytes = options.command == CliCommand::Load     ? inputs.config
                  : options.command == CliCommand::Upload ? inputs.program
                                                          : std::string();
    return input;
}

void setJobRun(const Job& job, const JobInputs& inputs, const CliOptions& options,
               GangRun::Options& run) {
    run.command = unitArguments(options);
    run.commandName = cliCommandName(options.command);
    run.file = options.file;
    run.common = job.sets;
    run.jobName = job.name;
    run.jobSha256 = job.sha256;
    if (job.program.given() && options.command != CliCommand::Upload) {
        run.upload = inputs.program;
        run.uploadName = jobFilePath(job, job.program);
        run.commandName += "+upload";
    }
}

int runSeveral(const CliOptions& given, const char* program, UnitLauncher& launcher) {
    CliOptions options = given;
    // A job is the command: its files are read once here, each checked against the
    // fingerprint the job keeps, and its command needs no --yes.
    std::optional<Job> job;
    JobInputs jobInputs;
    if (!given.jobPath.empty()) {
        std::string error;
        int code = kExitUsage;
        job = loadJob(given.jobPath, error, code);
        if (!job || !readJobInputs(*job, jobInputs, error, code)) {
            return refuse(error, code);
        }
        setJobCommand(*job, jobInputs, options);
    }
    if (options.command == CliCommand::Ports) {
        return refuse(
            "vxconf-cli: ports lists every port already; it takes no units\n"
            "Try 'vxconf-cli --help'.",
            kExitUsage);
    }
    if (options.asks() && !options.yes) {
        return refuse("vxconf-cli: " + std::string(cliCommandName(options.command)) +
                          " on several units needs --yes: no unit can ask its question\n"
                          "Try 'vxconf-cli --help'.",
                      kExitUsage);
    }
    // The whole run is refused before any unit is touched; each input is read here once
    // (a pipe gives its bytes only once) and every unit gets the same checked bytes.
    std::optional<Plan> plan = std::move(jobInputs.plan);
    std::string error;
    if (!options.planPath.empty()) {
        int code = kExitUsage;
        plan = Plan::load(options.planPath, error, code);
        if (!plan) {
            return refuse(error, code);
        }
    }
    if (options.command == CliCommand::Set && !plan) {
        std::vector<FieldAssignment> checked;
        if (!parseAssignments(options.assignments, checked, error)) {
            return refuse(error, kExitUsage);
        }
    }
    const CommandInput input =
        job ? jobCommandInput(jobInputs, options) : readCommandInput(options.command, options.file);
    if (input.code != kExitOk) {
        return refuse(input.message, input.code);
    }
    CsvLog log;
    if (!options.logPath.empty() && !log.open(options.logPath, error)) {
        return refuse(error, kExitFile);
    }
    // The history is opened and checked before any unit starts: a unit whose run it could
    // not keep would fail after its work was done.
    History history;
    if (!options.noHistory &&
        !history.open(options.historyPath.empty() ? History::defaultPath() : options.historyPath,
                      error)) {
        return refuse(error, kExitFile);
    }

    const std::string settingsFile = settingsFilePath();
    PortNames names;
    names.loadOverrides(ProfileFile::load(settingsFile));
    QtPortDriver driver(names.resolver());

    UnitStarter starter(&launcher, QString::fromLocal8Bit(program));
    GangRun::Options run;
    run.starter = &starter;
    run.command = unitArguments(options);
    run.input = input;
    run.plan = plan ? &*plan : nullptr;
    run.log = log.isOpen() ? &log : nullptr;
    run.commandName = cliCommandName(options.command);
    run.file = options.file;
    run.history = history.isOpen() ? &history : nullptr;
    run.station = options.station.empty() ? hostName() : options.station;
    run.operatorName = options.operatorName;
    run.onResult = options.onResult;
    run.again = options.again;
    if (job) {
        setJobRun(*job, jobInputs, options, run);
    }
    // The live view wants a terminal that takes escapes, and standard output elsewhere: JSON
    // lines would scribble over it.
    const char* term = std::getenv("TERM");
    run.terminal = isatty(STDERR_FILENO) == 1 && term != nullptr && *term != '\0' &&
                   std::string(term) != "dumb" && !(options.json && isatty(STDOUT_FILENO) == 1);
    run.colour = run.terminal && std::getenv("NO_COLOR") == nullptr;
    run.json = options.json;
    run.bell = options.watch && run.terminal;
    run.traceBase = options.tracePath;
    if (options.watch) {
        run.hint = "Ctrl-C ends the station";
    }
    GangRun gang(run, std::cout, std::cerr);
    if (options.watch) {
        if (options.watchFolders.empty()) {
            gang.watch({"/dev/serial/by-id", "/dev"}, {"ttyUSB*", "ttyACM*", "usb-*", "pci-*"});
        } else {
            QStringList folders;
            for (const std::string& folder : options.watchFolders) {
                folders << QString::fromLocal8Bit(folder.c_str());
            }
            gang.watch(folders, {});
        }
        std::cerr << "Waiting for serial devices; Ctrl-C ends the station\n";
        return gang.exec();
    }
    std::vector<unsigned> ports = options.ports;
    if (options.all) {
        for (unsigned n = kFirstPort; n <= kLastPort; ++n) {
            if (!names.devicePath(n).empty() && driver.probe(n)) {
                ports.push_back(n);
            }
        }
        if (ports.empty()) {
            return refuse("No serial port opens", kExitDevice);
        }
    }
    // One device under two names (a number and a path, a link and its node) is one unit.
    std::set<std::string> devices;
    for (const unsigned n : ports) {
        const std::string path = names.devicePath(n);
        if (path.empty() || devices.insert(canonicalDevicePath(path)).second) {
            gang.addUnit("COM" + std::to_string(n), {"-p", std::to_string(n)}, path);
        }
    }
    for (const std::string& path : options.devices) {
        if (devices.insert(canonicalDevicePath(path)).second) {
            gang.addUnit(path, {"--device", path}, path);
        }
    }
    return gang.exec();
}
