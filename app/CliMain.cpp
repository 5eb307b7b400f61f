// vxconf-cli: the VX310's configuration and user program from a script or a terminal.

#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>

#include "app/Cli.h"
#include "app/CsvLog.h"
#include "app/EventLoopRunner.h"
#include "app/SimulatorProcess.h"
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
    "  vxconf-cli --device /dev/serial/by-id/usb-FTDI_A10K3XYZ-if00-port0 set port2.parity=even\n";

struct CommandLine {
    CliRequest request;
    std::string device;
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
    for (const auto* option : {&help, &version, &port, &device, &simulate, &simOption, &yes, &log,
                               &trace, &json, &dryRun, &description}) {
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
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        return usage("no command given");
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
    if ((parser.isSet(json) && *command != CliCommand::Read) ||
        (parser.isSet(dryRun) && *command != CliCommand::Load) ||
        (parser.isSet(description) && *command != CliCommand::Save)) {
        return usage("--json goes with read, --dry-run with load, -d with save");
    }
    request.json = parser.isSet(json);
    request.dryRun = parser.isSet(dryRun);
    request.description = parser.value(description).toStdString();
    request.yes = parser.isSet(yes);
    const int sources =
        int(parser.isSet(port)) + int(parser.isSet(device)) + int(parser.isSet(simulate));
    if (sources > 1) {
        return usage("give only one of -p, --device and --simulate");
    }
    if (parser.isSet(port)) {
        bool ok = false;
        const uint n = parser.value(port).toUInt(&ok);
        if (!ok || n < kFirstPort || n > kLastPort) {
            return usage("-p takes a port number from 1 to 255");
        }
        request.port = static_cast<int>(n);
    }
    line.device = parser.value(device).toLocal8Bit().toStdString();
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

    CsvLog log;
    std::string error;
    if (!line.logPath.empty() && !log.open(line.logPath, error)) {
        std::cerr << error << "\n";
        return kExitFile;
    }
    std::unique_ptr<TraceFile> trace;
    if (!line.tracePath.empty()) {
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
    if (request.command == CliCommand::Ports) {
        return listPorts(names, driver);
    }
    if (request.port > 0) {
        settings.pcPort = request.port;
    }

    QtFileSaver saver;
    EventLoopRunner runner;
    CliIo io{std::cout, std::cerr, isatty(STDERR_FILENO) == 1, askOnTerminal};
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
                                              session.message()};
        if (!log.append(record, error)) {
            std::cerr << error << "\n";
            return code == kExitOk ? kExitFile : code;
        }
    }
    return code;
}
