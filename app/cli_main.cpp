// vxconf-cli: the VX310's configuration and user program from a script or a terminal.

#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/CliSession.h"
#include "cli/CsvLog.h"
#include "cli/EventLoopRunner.h"
#include "station/GangRun.h"
#include "station/Plan.h"
#include "sim/SimulatorProcess.h"
#include "station/UnitRow.h"
#include "device/LinkTrace.h"
#include "device/PortNames.h"
#include "editor/Settings.h"
#include "platform/Profile.h"
#include "platform/QtFileSaver.h"
#include "platform/QtPortDriver.h"

namespace {

const char kCommandsHelp[] =
    "\n"
    "Commands:\n"
    "  ports                   list the PC's serial ports and whether each opens\n"
    "  read [--json]           read the configuration and print every field\n"
    "  save FILE.vxc [-d TEXT] read the configuration and save it as a .vxc file\n"
    "  load FILE.vxc [--dry-run]\n"
    "                          show what the file changes on this unit, send it, check it\n"
    "  set FIELD=VALUE...      change fields (names as in read --json, values as read\n"
    "                          prints them), send the configuration, check it;\n"
    "                          set alone lists the field names\n"
    "  upload FILE.hex         upload a user program (Intel HEX)\n"
    "  delete                  delete the stored user program\n"
    "  download FILE.hex       download the stored user program into a HEX file\n"
    "  start                   start the program the configuration selects\n"
    "  watch COMMAND ...       a station: run COMMAND on each serial device that is\n"
    "                          plugged in, until interrupted (Ctrl-C)\n"
    "\n"
    "Several units at once: -p 1,3,5-8, --device PATH more than once, or --all (every\n"
    "port that opens). Each unit runs on its own, with its own result; a table shows them\n"
    "on a terminal, a line a unit otherwise, and a summary at the end. --json prints one\n"
    "object a unit. --plan FILE.csv gives each unit its own values by its serial number:\n"
    "a header of serialNumber and field names, then a row a unit.\n"
    "\n"
    "The port is -p N (COMN, as the window numbers ports), --device PATH, or else the one\n"
    "the window used last. load, upload, delete and start ask the window's question first:\n"
    "--yes answers it, or it is asked on the terminal. Data (read, ports, the changes of\n"
    "load and set) go to standard output, messages to standard error.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  usage: a bad command line, a refused field or value, a question answered No\n"
    "  2  the port did not open, or the VX310 did not answer as it should\n"
    "  3  the VX310 did not store the configuration as sent\n"
    "  4  a file could not be read or written\n"
    "\n"
    "Examples:\n"
    "  vxconf-cli -p 33 read --json\n"
    "  vxconf-cli -p 33 --yes --log units.csv load plant.vxc\n"
    "  vxconf-cli --device /dev/serial/by-id/usb-FTDI_A10K3XYZ-if00-port0 set port2.parity=even\n"
    "  vxconf-cli -p 33-40 --yes --plan addresses.csv --log units.csv load bus.vxc\n"
    "  vxconf-cli --yes --log units.csv watch load bus.vxc\n";

struct CommandLine {
    CliRequest request;
    std::string device;
    std::vector<unsigned> ports;       // -p, every one given
    std::vector<std::string> devices;  // --device, every one given
    bool all = false;                  // --all
    bool watch = false;                // watch COMMAND
    QStringList watchFolders;          // --watch-dir
    bool unitReport = false;           // a unit of a run on several: report, do not print
    std::string planPath;
    bool simulate = false;
    QStringList simulatorArguments;
    std::string logPath;
    std::string tracePath;
};

int usage(const std::string& message) {
    std::cerr << "vxconf-cli: " << message << "\nTry 'vxconf-cli --help'.\n";
    return kExitUsage;
}

std::optional<bool> askOnTerminal(const std::string& question) {
    if (!isatty(STDIN_FILENO)) {
        return std::nullopt;
    }
    // The question goes where the person at the keyboard sees it, even with standard error
    // sent to a file.
    if (FILE* tty = std::fopen("/dev/tty", "w")) {
        std::fprintf(tty, "%s [y/N] ", question.c_str());
        std::fclose(tty);
    } else {
        std::cerr << question << " [y/N] " << std::flush;
    }
    std::string line;
    if (!std::getline(std::cin, line)) {
        return false;
    }
    return line == "y" || line == "Y" || line == "yes" || line == "Yes" || line == "YES";
}

// Parses the command line into options; a number of its own for --help, --version and
// mistakes, or -1 to go on.
int parseCommandLine(const QCoreApplication& app, CommandLine& line) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Reads, changes and checks the configuration and the user program of a VX310 serial\n"
        "interface converter, without a window.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption version({"V", "version"}, "Show the version.");
    const QCommandLineOption port({"p", "port"}, "Use COMN (1 to 255).", "N");
    const QCommandLineOption device("device", "Use the serial device at PATH.", "PATH");
    const QCommandLineOption simulate("simulate", "Start a simulated VX310 and use it.");
    const QCommandLineOption simOption(
        "sim-option",
        "Pass an option to the simulated VX310, e.g. --sim-option=--ignore-stores (may be "
        "repeated; see vx310sim --help).",
        "option");
    const QCommandLineOption yes({"y", "yes"},
                                 "Answer Yes to the question of load, upload, delete or start.");
    const QCommandLineOption log("log", "Append a CSV record of the run to FILE.", "FILE");
    const QCommandLineOption trace("trace", "Append every byte on the wire to FILE.", "FILE");
    const QCommandLineOption json("json", "read: print one JSON object.");
    const QCommandLineOption dryRun("dry-run", "load: show the changes, send nothing.");
    const QCommandLineOption description({"d", "description"}, "save: the file's description.",
                                         "TEXT");
    const QCommandLineOption all("all", "Use every port that opens, all at once.");
    const QCommandLineOption plan(
        "plan", "load, set: each unit's own values from FILE.csv, by serial number.", "FILE");
    const QCommandLineOption watchDir(
        "watch-dir", "watch: look for new devices in DIR instead of /dev (may be repeated).",
        "DIR");
    // A unit of a run on several units: events on standard output for the run.
    const QCommandLineOption unitReport = [] {
        QCommandLineOption option("unit-report");
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        return option;
    }();
    for (const auto* option :
         {&help, &version, &port, &device, &simulate, &simOption, &yes, &log, &trace, &json,
          &dryRun, &description, &all, &plan, &watchDir, &unitReport}) {
        parser.addOption(*option);
    }
    parser.addPositionalArgument("command", "One of the commands below.", "command [args]");
    if (!parser.parse(app.arguments())) {
        return usage(parser.errorText().toStdString());
    }
    if (parser.isSet(help)) {
        std::cout << parser.helpText().toStdString() << kCommandsHelp;
        return kExitOk;
    }
    if (parser.isSet(version)) {
        std::cout << "vxconf-cli " << app.applicationVersion().toStdString() << "\n";
        return kExitOk;
    }
    QStringList args = parser.positionalArguments();
    if (!args.isEmpty() && args[0] == "watch") {
        line.watch = true;
        args.removeFirst();
    }
    if (args.isEmpty()) {
        return usage(line.watch ? "watch needs a command to run on each unit" : "no command given");
    }
    const std::optional<CliCommand> command = cliCommandNamed(args[0].toStdString());
    if (!command) {
        return usage("unknown command \"" + args[0].toStdString() + "\"");
    }
    CliRequest& request = line.request;
    request.command = *command;
    const bool takesFile = *command == CliCommand::Save || *command == CliCommand::Load ||
                           *command == CliCommand::Upload || *command == CliCommand::Download;
    if (*command == CliCommand::Set) {
        for (qsizetype i = 1; i < args.size(); ++i) {
            request.assignments.push_back(args[i].toStdString());
        }
    } else if (takesFile) {
        if (args.size() != 2) {
            return usage(std::string(cliCommandName(*command)) + " takes one FILE");
        }
        request.file = args[1].toLocal8Bit().toStdString();
    } else if (args.size() != 1) {
        return usage(std::string(cliCommandName(*command)) + " takes no arguments");
    }
    if ((parser.isSet(dryRun) && *command != CliCommand::Load) ||
        (parser.isSet(description) && *command != CliCommand::Save)) {
        return usage("--json goes with read, --dry-run with load, -d with save");
    }
    request.json = parser.isSet(json);
    request.dryRun = parser.isSet(dryRun);
    request.description = parser.value(description).toStdString();
    request.yes = parser.isSet(yes);
    const int sources = int(parser.isSet(port)) + int(parser.isSet(device)) +
                        int(parser.isSet(simulate)) + int(parser.isSet(all)) + int(line.watch);
    if (sources > 1 && !(parser.isSet(port) && parser.isSet(device) && sources == 2)) {
        return usage("give -p and --device, or one of --simulate, --all and watch");
    }
    for (const QString& value : parser.values(port)) {
        std::vector<unsigned> listed;
        std::string error;
        if (!parsePortList(value.toStdString(), listed, error)) {
            return usage(error);
        }
        for (const unsigned n : listed) {
            if (std::find(line.ports.begin(), line.ports.end(), n) == line.ports.end()) {
                line.ports.push_back(n);
            }
        }
    }
    for (const QString& value : parser.values(device)) {
        line.devices.push_back(value.toLocal8Bit().toStdString());
    }
    line.all = parser.isSet(all);
    line.watchFolders = parser.values(watchDir);
    if (!line.watchFolders.isEmpty() && !line.watch) {
        return usage("--watch-dir goes with watch");
    }
    line.unitReport = parser.isSet(unitReport);
    line.planPath = parser.value(plan).toLocal8Bit().toStdString();
    if (!line.planPath.empty() && *command != CliCommand::Load && *command != CliCommand::Set) {
        return usage("--plan goes with load and set");
    }
    // --json prints a unit's object for any command on several units, the fields for read.
    const bool several = line.watch || line.all || line.ports.size() + line.devices.size() > 1;
    if (parser.isSet(json) && *command != CliCommand::Read && !several) {
        return usage("--json goes with read, --dry-run with load, -d with save");
    }
    if (line.ports.size() == 1 && line.devices.empty()) {
        request.port = static_cast<int>(line.ports.front());
    }
    if (line.devices.size() == 1 && line.ports.empty()) {
        line.device = line.devices.front();
    }
    request.device = line.device;
    line.simulate = parser.isSet(simulate);
    line.simulatorArguments = parser.values(simOption);
    line.logPath = parser.value(log).toLocal8Bit().toStdString();
    line.tracePath = parser.value(trace).toLocal8Bit().toStdString();
    return -1;
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
        std::cout << portEntryText(n, details.empty() ? path : path + ", " + details) << ": ";
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

// The unit's own command line in a run on several units: everything but the ports.
QStringList unitCommand(const CommandLine& line) {
    const CliRequest& request = line.request;
    QStringList args;
    if (request.yes) {
        args << "--yes";
    }
    if (request.json && request.command == CliCommand::Read) {
        args << "--json";
    }
    if (request.dryRun) {
        args << "--dry-run";
    }
    if (!request.description.empty()) {
        args << "-d" << QString::fromStdString(request.description);
    }
    if (!line.logPath.empty()) {
        args << "--log" << QString::fromLocal8Bit(line.logPath.c_str());
    }
    if (!line.planPath.empty()) {
        args << "--plan" << QString::fromLocal8Bit(line.planPath.c_str());
    }
    args << cliCommandName(request.command);
    if (!request.file.empty()) {
        args << QString::fromLocal8Bit(request.file.c_str());
    }
    for (const std::string& assignment : request.assignments) {
        args << QString::fromStdString(assignment);
    }
    return args;
}

// A command on several units, or a station that waits for them.
int runGang(const CommandLine& line, const PortNames& names, QtPortDriver& driver) {
    const CliRequest& request = line.request;
    if (request.command == CliCommand::Ports) {
        return usage("ports lists every port already; it takes no units");
    }
    const bool asks = (request.command == CliCommand::Load && !request.dryRun) ||
                      request.command == CliCommand::Upload ||
                      request.command == CliCommand::Delete || request.command == CliCommand::Start;
    if (asks && !request.yes) {
        return usage(std::string(cliCommandName(request.command)) +
                     " on several units needs --yes: no unit can ask its question");
    }
    if (!line.planPath.empty()) {
        // The whole run is refused before any unit is touched.
        std::string error;
        if (!Plan::load(line.planPath, error)) {
            std::cerr << error << "\n";
            return error.rfind("Unable to", 0) == 0 ? kExitFile : kExitUsage;
        }
    }
    if (request.command == CliCommand::Set && line.planPath.empty()) {
        std::vector<FieldAssignment> checked;
        std::string error;
        if (!parseAssignments(request.assignments, checked, error)) {
            std::cerr << error << "\n";
            return kExitUsage;
        }
    }
    GangRun::Options options;
    options.program = QCoreApplication::applicationFilePath();
    options.command = unitCommand(line);
    options.terminal = isatty(STDERR_FILENO) == 1;
    options.json = request.json;
    options.bell = line.watch && options.terminal;
    options.traceBase = QString::fromLocal8Bit(line.tracePath.c_str());
    GangRun run(options, std::cout, std::cerr);
    if (line.watch) {
        if (line.watchFolders.isEmpty()) {
            run.watch({"/dev/serial/by-id", "/dev"}, {"ttyUSB*", "ttyACM*", "usb-*", "pci-*"});
        } else {
            run.watch(line.watchFolders, {});
        }
        std::cerr << "Waiting for serial devices; Ctrl-C ends the station\n";
        return run.exec();
    }
    std::vector<unsigned> ports = line.ports;
    if (line.all) {
        for (unsigned n = kFirstPort; n <= kLastPort; ++n) {
            if (!names.devicePath(n).empty() && driver.probe(n)) {
                ports.push_back(n);
            }
        }
        if (ports.empty()) {
            std::cerr << "No serial port opens\n";
            return kExitDevice;
        }
    }
    for (const unsigned n : ports) {
        run.addUnit("COM" + std::to_string(n), {"-p", QString::number(n)});
    }
    for (const std::string& path : line.devices) {
        run.addUnit(path, {"--device", QString::fromLocal8Bit(path.c_str())});
    }
    return run.exec();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    app.setApplicationName("vxconf-cli");
    app.setApplicationVersion("2.05");

    CommandLine line;
    const int parsed = parseCommandLine(app, line);
    if (parsed >= 0) {
        return parsed;
    }
    CliRequest& request = line.request;
    const bool gang = line.watch || line.all || line.ports.size() + line.devices.size() > 1;
    if (gang && line.simulate) {
        return usage("--simulate serves one unit");
    }
    std::optional<Plan> plan;
    if (!gang && !line.planPath.empty()) {
        std::string error;
        plan = Plan::load(line.planPath, error);
        if (!plan) {
            std::cerr << error << "\n";
            return error.rfind("Unable to", 0) == 0 ? kExitFile : kExitUsage;
        }
        request.plan = &*plan;
    }

    CsvLog log;
    std::string error;
    // A record that cannot be written stops the run before any unit is contacted; on several
    // units each unit appends its own row.
    if (!line.logPath.empty() && !log.open(line.logPath, error)) {
        std::cerr << error << "\n";
        return kExitFile;
    }
    std::unique_ptr<TraceFile> trace;
    if (!gang && !line.tracePath.empty()) {
        trace = std::make_unique<TraceFile>(line.tracePath);
        if (!trace->ok()) {
            std::cerr << "Unable to write file: \"" << line.tracePath << "\"? (" << trace->error()
                      << ")\n";
            return kExitFile;
        }
    }

    const std::string settingsFile = settingsFilePath();
    Settings settings = readSettings(settingsFile, WindowPos{}, currentFolder());
    PortNames names;
    names.loadOverrides(ProfileFile::load(settingsFile));
    SimulatorProcess simulator;
    if (line.simulate) {
        QString why;
        if (!simulator.start(line.simulatorArguments, why)) {
            std::cerr << "vxconf-cli: " << why.toStdString() << "\n";
            return kExitDevice;
        }
        names.setOverride(SimulatorProcess::kPortNumber, simulator.devicePath().toStdString());
        request.port = static_cast<int>(SimulatorProcess::kPortNumber);
    } else if (!line.device.empty()) {
        request.port = static_cast<int>(numberForDevice(names, line.device));
    }
    QtPortDriver driver(names.resolver());
    if (gang) {
        return runGang(line, names, driver);
    }
    if (request.command == CliCommand::Ports) {
        return listPorts(names, driver);
    }
    if (request.port > 0) {
        settings.pcPort = request.port;
    }

    QtFileSaver saver;
    EventLoopRunner runner;
    // A unit of a run on several: what it prints goes to the run, as events.
    std::ostringstream unitOut;
    std::ostringstream unitErr;
    const auto event = [](const UnitEvent& e) { std::cout << encodeUnitEvent(e) << std::flush; };
    CliIo io{
        line.unitReport ? static_cast<std::ostream&>(unitOut) : std::cout,
        line.unitReport ? static_cast<std::ostream&>(unitErr) : std::cerr,
        !line.unitReport && isatty(STDERR_FILENO) == 1,
        line.unitReport ? std::function<std::optional<bool>(const std::string&)>() : askOnTerminal};
    if (line.unitReport) {
        io.onState = [&event](const std::string& state, int percent) {
            event({UnitKey::kState, {state, std::to_string(percent)}});
        };
        io.onSerial = [&event](unsigned serial) {
            event({UnitKey::kSerial, {std::to_string(serial)}});
        };
    }
    CliSession session(driver, saver, runner, settings, io);
    EventLoopRunner::catchStopSignals();
    runner.onSignal = [&session](int signal) { session.interrupt(signal); };
    session.editor().link().setTrace(trace.get());
    int code = session.run(request);
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "Unable to write to standard output\n";
        code = code == kExitOk ? kExitFile : code;
    }
    const std::string devicePath =
        settings.pcPort > 0 ? names.devicePath(static_cast<unsigned>(settings.pcPort)) : "";
    session.editor().link().close();
    session.editor().link().setTrace(nullptr);
    if (trace && trace->dropped() > 0) {
        // Only now, with the unit's work done: a trace never stops a transfer.
        std::cerr << droppedText(trace->dropped(), trace->dropReason()) << "\n";
        code = code == kExitOk ? kExitFile : code;
    }

    // The record and the run on several units name the unit's planned values.
    std::string message = session.message();
    if (!session.planned().empty()) {
        message = "planned " + Plan::describe(session.planned()) +
                  (message.empty() ? "" : "; " + message);
    }
    if (line.unitReport) {
        std::istringstream printed(unitOut.str());
        for (std::string text; std::getline(printed, text);) {
            event({UnitKey::kOut, {text}});
        }
        std::string last = session.message();
        if (last.empty() && code != kExitOk) {
            last = unitErr.str();
        }
        event({UnitKey::kEnd,
               {std::to_string(code), session.resultWord(code), last,
                Plan::describe(session.planned())}});
    }
    if (!line.logPath.empty()) {
        const ConfigBlock& block = session.editor().block();
        const bool known = session.connected();
        const std::vector<std::string> record{isoTimeUtc(std::time(nullptr)),
                                              devicePath,
                                              known ? std::to_string(block.serialNumber()) : "",
                                              known ? versionText(block) : "",
                                              cliCommandName(request.command),
                                              request.file,
                                              session.resultWord(code),
                                              message};
        if (!log.append(record, error)) {
            std::cerr << error << "\n";
            return code == kExitOk ? kExitFile : code;
        }
    }
    return code;
}
