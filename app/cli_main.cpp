// vxconf-cli: the VX310's configuration and user program from a script or a terminal.

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <optional>

#include <QCoreApplication>

#include "cli/CliOptions.h"
#include "cli/CliProgram.h"
#include "cli/ExitStatus.h"
#include "cli/History.h"
#include "cli/Terminal.h"
#include "station/GangCommand.h"
#include "station/Job.h"
#include "station/Plan.h"
#include "station/UnitLauncher.h"

namespace {

int usage(const std::string& message) {
    std::cerr << "vxconf-cli: " << terminalText(message) << "\nTry 'vxconf-cli --help'.\n";
    return kExitUsage;
}

int failed(const std::string& message, int code) {
    std::cerr << terminalText(message, true) << "\n";
    return code;
}

// job new, job show.
int jobCommand(const CliOptions& options) {
    std::string error;
    int code = kExitOk;
    if (options.task == CliTask::JobNew) {
        JobRequest request{options.jobName,  options.jobConfig,  options.jobSets,
                           options.planPath, options.jobProgram, options.jobUnique};
        if (!createJob(options.jobFile, request, error, code)) {
            return failed(error, code);
        }
    }
    const std::optional<Job> job = loadJob(options.jobFile, error, code);
    if (!job) {
        return failed(error, code);
    }
    bool ok = true;
    std::cout << describeJob(*job, ok) << std::flush;
    if (!ok) {
        return failed("The job's files do not match it: a run of it would send nothing", kExitFile);
    }
    return kExitOk;
}

// history [SERIAL] [--since DATE] [--json].
int historyCommand(const CliOptions& options) {
    const std::string since = options.since.empty() ? std::string() : sinceTime(options.since);
    if (!options.since.empty() && since.empty()) {
        return usage("--since takes a date, YYYY-MM-DD, or a time, YYYY-MM-DDThh:mm:ssZ");
    }
    History history;
    std::string error;
    std::vector<History::Run> runs;
    const bool story = !options.historySerial.empty();
    const std::string path =
        options.historyPath.empty() ? History::defaultPath() : options.historyPath;
    if (::access(path.c_str(), F_OK) != 0) {
        // Nothing to list, and no reason to make a database for it.
        std::cerr << "No history yet: " << terminalText(path) << " does not exist\n";
        return kExitOk;
    }
    if (!history.open(path, error) ||
        !history.runs(options.historySerial, since, story || options.json, runs, error)) {
        return failed(error, kExitFile);
    }
    if (options.json) {
        for (const History::Run& run : runs) {
            std::cout << historyJson(run) << "\n";
        }
    } else {
        std::cout << historyText(runs, story);
    }
    std::cout.flush();
    if (runs.empty()) {
        std::cerr << (story ? "No run of serial number " + options.historySerial
                            : std::string("No run"))
                  << (since.empty() ? "" : " since " + since) << " in " << history.path() << "\n";
    }
    return std::cout ? kExitOk : kExitFile;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away is a failed write, handled where it happens, not a death.
    std::signal(SIGPIPE, SIG_IGN);
    // The arguments as the shell passed them: a path need not be UTF-8.
    const std::vector<std::string> args(argv + 1, argv + argc);
    CliOptions options;
    std::string error;
    if (!parseCliOptions(args, options, error)) {
        return usage(error);
    }
    if (options.help) {
        std::cout << cliHelpText();
        return kExitOk;
    }
    if (options.version) {
        std::cout << "vxconf-cli " << VXCONF_VERSION << "\n";
        return kExitOk;
    }
    // The units' launcher is forked before Qt is set up: each unit forked from it later
    // comes back here and carries on as a unit.
    UnitLauncher launcher;
    if (options.several() && launcher.start() == UnitLauncher::Role::Unit) {
        QCoreApplication unit(argc, argv);
        return runReportingUnit();
    }
    QCoreApplication app(argc, argv);
    app.setApplicationName("vxconf-cli");
    app.setApplicationVersion(VXCONF_VERSION);
    if (options.unitReport) {
        return runReportingUnit();
    }
    if (options.task == CliTask::JobNew || options.task == CliTask::JobShow) {
        return jobCommand(options);
    }
    if (options.task == CliTask::History) {
        return historyCommand(options);
    }
    if (options.several()) {
        return runSeveral(
            options, QCoreApplication::applicationFilePath().toLocal8Bit().constData(), launcher);
    }
    UnitSetup setup;
    std::optional<Plan> plan;
    if (!options.planPath.empty()) {
        int code = kExitUsage;
        plan = Plan::load(options.planPath, error, code);
        if (!plan) {
            std::cerr << error << "\n";
            return code;
        }
        setup.planned = true;
        setup.goAhead = [&plan](unsigned serial, const std::string&) {
            GoAhead answer;
            if (const std::vector<std::string>* row = plan->find(serial)) {
                answer.planned = *row;
            } else {
                answer.go = false;
                answer.code = kExitUsage;
                answer.refusal = "Serial number " + std::to_string(serial) +
                                 " is not in the plan: nothing was sent to this unit";
            }
            return answer;
        };
    }
    return runOneUnit(options, setup);
}
