#include "CliOptions.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "device/PortNames.h"

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

enum class Opt {
    Help,
    Version,
    Port,
    Device,
    Simulate,
    SimOption,
    Yes,
    Log,
    Trace,
    Json,
    DryRun,
    Description,
    All,
    Plan,
    WatchDir,
    Job,
    History,
    NoHistory,
    Station,
    Operator,
    Again,
    OnResult,
    Config,
    Set,
    Program,
    Unique,
    Name,
    Since,
    UnitReport
};

struct OptionSpec {
    Opt id;
    char shortName;     // 0 for none
    const char* name;   // the long name
    const char* value;  // the value's name in the help, nullptr for a switch
    const char* help;   // nullptr: not shown
};

const OptionSpec kOptions[] = {
    {Opt::Help, 'h', "help", nullptr, "Show this help."},
    {Opt::Version, 'V', "version", nullptr, "Show the version."},
    {Opt::Port, 'p', "port", "N", "Use COMN (1 to 255)."},
    {Opt::Device, 0, "device", "PATH", "Use the serial device at PATH."},
    {Opt::Simulate, 0, "simulate", nullptr, "Start a simulated VX310 and use it."},
    {Opt::SimOption, 0, "sim-option", "option",
     "Pass an option to the simulated VX310, e.g. --sim-option=--ignore-stores (may be "
     "repeated; see vx310sim --help)."},
    {Opt::Yes, 'y', "yes", nullptr, "Answer Yes to the question of load, upload, delete or start."},
    {Opt::Log, 0, "log", "FILE", "Append a CSV record of the run to FILE."},
    {Opt::Trace, 0, "trace", "FILE", "Append every byte on the wire to FILE."},
    {Opt::Json, 0, "json", nullptr,
     "read: print one JSON object; other commands: print the unit's result as one."},
    {Opt::DryRun, 0, "dry-run", nullptr, "load: show the changes, send nothing."},
    {Opt::Description, 'd', "description", "TEXT", "save: the file's description."},
    {Opt::All, 0, "all", nullptr, "Use every port that opens, all at once."},
    {Opt::Plan, 0, "plan", "FILE",
     "load, set: each unit's own values from FILE.csv, by serial number."},
    {Opt::WatchDir, 0, "watch-dir", "DIR",
     "watch: look for new devices in DIR instead of /dev (may be repeated)."},
    {Opt::Job, 0, "job", "FILE.vxjob",
     "Run the job in FILE.vxjob on the units: its files, values and program, checked "
     "against the fingerprints the job keeps; no command word and no --yes."},
    {Opt::History, 0, "history", "FILE",
     "Keep the units' history in FILE (SQLite). Runs on several units and jobs keep it in "
     "$XDG_DATA_HOME/vxconf/history.sqlite otherwise; a single unit's run keeps none."},
    {Opt::NoHistory, 0, "no-history", nullptr, "Keep no history of this run."},
    {Opt::Station, 0, "station", "NAME", "The station's name in the history (the host's name)."},
    {Opt::Operator, 0, "operator", "NAME", "The operator's name in the history."},
    {Opt::Again, 0, "again", nullptr, "--job: provision a unit that the job provisioned already."},
    {Opt::OnResult, 0, "on-result", "CMD",
     "Run CMD with /bin/sh after each unit ends, with VXCONF_UNIT, VXCONF_SERIAL, "
     "VXCONF_RESULT, VXCONF_MESSAGE, VXCONF_JOB and VXCONF_JSON set."},
    {Opt::Config, 0, "config", "FILE.vxc", "job new: load FILE on every unit."},
    {Opt::Set, 0, "set", "FIELD=VALUE", "job new: set a field on every unit (may be repeated)."},
    {Opt::Program, 0, "program", "FILE.hex", "job new: upload FILE after the configuration."},
    {Opt::Unique, 0, "unique", "FIELD",
     "job new: no two units may get one value of FIELD (may be repeated)."},
    {Opt::Name, 0, "name", "TEXT", "job new: the job's name."},
    {Opt::Since, 0, "since", "DATE", "history: only runs from DATE (YYYY-MM-DD) on."},
    {Opt::UnitReport, 0, "unit-report", nullptr, nullptr},
};

const char kDescription[] =
    "Reads, changes and checks the configuration and the user program of a VX310 serial\n"
    "interface converter, without a window.";

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
    "  job new FILE.vxjob      make a job: --config, --set, --plan, --program, --unique,\n"
    "                          --name; every file is checked and its SHA-256 kept\n"
    "  job show FILE.vxjob     print a job and check its files' fingerprints\n"
    "  history [SERIAL]        the units' runs, newest first; with SERIAL, that unit's\n"
    "                          whole story (--json, --since DATE)\n"
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
    "  5  --job: a unit had been provisioned by the job already (see --again)\n"
    "\n"
    "Examples:\n"
    "  vxconf-cli -p 33 read --json\n"
    "  vxconf-cli -p 33 --yes --log units.csv load plant.vxc\n"
    "  vxconf-cli --device /dev/serial/by-id/usb-FTDI_A10K3XYZ-if00-port0 set port2.parity=even\n"
    "  vxconf-cli -p 33-40 --yes --plan addresses.csv --log units.csv load bus.vxc\n"
    "  vxconf-cli --yes --log units.csv watch load bus.vxc\n"
    "  vxconf-cli job new bus.vxjob --config bus.vxc --plan addresses.csv --unique "
    "mode2.address\n"
    "  vxconf-cli --job bus.vxjob --operator anna watch\n"
    "  vxconf-cli history 4711\n";

const OptionSpec* findLong(const std::string& name) {
    for (const OptionSpec& known : kOptions) {
        if (name == known.name) {
            return &known;
        }
    }
    return nullptr;
}

const OptionSpec* findShort(char name) {
    for (const OptionSpec& known : kOptions) {
        if (known.shortName != 0 && known.shortName == name) {
            return &known;
        }
    }
    return nullptr;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

std::optional<unsigned> portNumber(const std::string& text) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value < kFirstPort || value > kLastPort) {
        return std::nullopt;
    }
    return value;
}

// The option occurrences in order, and the positional arguments; false with Qt's words for
// a mistake, which scripts may already match.
struct Occurrence {
    Opt id;
    std::string value;
};

bool split(const std::vector<std::string>& args, std::vector<Occurrence>& found,
           std::vector<std::string>& positional, std::string& error) {
    bool optionsEnd = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? equals : equals - 2);
            const OptionSpec* known = findLong(name);
            if (known == nullptr) {
                error = "Unknown option '" + name + "'.";
                return false;
            }
            if (known->value == nullptr) {
                if (equals != std::string::npos) {
                    error = "Unexpected value after '--" + name + "'.";
                    return false;
                }
                found.push_back({known->id, {}});
            } else if (equals != std::string::npos) {
                found.push_back({known->id, arg.substr(equals + 1)});
            } else if (i + 1 < args.size()) {
                found.push_back({known->id, args[++i]});
            } else {
                error = "Missing value after '--" + name + "'.";
                return false;
            }
            continue;
        }
        // Short options may be run together ("-yp3"); one that takes a value takes the rest.
        for (std::size_t at = 1; at < arg.size(); ++at) {
            const OptionSpec* known = findShort(arg[at]);
            if (known == nullptr) {
                error = "Unknown option '" + std::string(1, arg[at]) + "'.";
                return false;
            }
            if (known->value == nullptr) {
                found.push_back({known->id, {}});
                continue;
            }
            if (at + 1 < arg.size()) {
                found.push_back({known->id, arg.substr(at + 1)});
            } else if (i + 1 < args.size()) {
                found.push_back({known->id, args[++i]});
            } else {
                error = "Missing value after '-" + std::string(1, arg[at]) + "'.";
                return false;
            }
            break;
        }
    }
    return true;
}

// Lines of at most width characters, broken between words.
std::vector<std::string> wrapped(const std::string& text, std::size_t width) {
    std::vector<std::string> lines;
    std::istringstream words(text);
    std::string line;
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

// job new FILE, job show FILE, history [SERIAL].
bool parseProductionWords(const std::vector<std::string>& positional, bool since, bool jobWords,
                          CliOptions& options, std::string& error) {
    if (!options.ports.empty() || !options.devices.empty() || options.all || options.simulate ||
        !options.jobPath.empty()) {
        error = positional.front() + " uses no unit";
        return false;
    }
    if (positional.front() == "history") {
        options.task = CliTask::History;
        if (jobWords || positional.size() > 2) {
            error = "history takes one serial number at most";
            return false;
        }
        if (positional.size() == 2) {
            options.historySerial = positional[1];
            if (options.historySerial.empty() || options.historySerial.size() > 5 ||
                options.historySerial.find_first_not_of("0123456789") != std::string::npos ||
                std::stoul(options.historySerial) > 65535) {
                error =
                    "history: \"" + options.historySerial + "\" is no serial number (0 to 65535)";
                return false;
            }
        }
        return true;
    }
    if (since || positional.size() != 3 || (positional[1] != "new" && positional[1] != "show")) {
        error = "job takes new FILE.vxjob or show FILE.vxjob";
        return false;
    }
    options.task = positional[1] == "new" ? CliTask::JobNew : CliTask::JobShow;
    options.jobFile = positional[2];
    if (options.task == CliTask::JobShow && (jobWords || !options.planPath.empty())) {
        error = "job show takes only the job file";
        return false;
    }
    return true;
}

// --job FILE: the job is the command, and it runs on units the parent hands out.
bool checkJobRun(const std::vector<std::string>& positional, CliOptions& options,
                 std::string& error) {
    if (!positional.empty()) {
        error = "--job takes no command: the job says what each unit gets";
        return false;
    }
    if (options.ports.empty() && options.devices.empty() && !options.all && !options.watch) {
        error = "--job runs on units: give -p, --device, --all or watch";
        return false;
    }
    if (options.noHistory) {
        error = "--job keeps a history: without it a unit could be provisioned twice";
        return false;
    }
    if (options.simulate || !options.planPath.empty() || options.dryRun ||
        !options.description.empty()) {
        error = "--job takes no --simulate, --plan, --dry-run or -d: the job holds its own";
        return false;
    }
    return true;
}

// The command word and its arguments.
bool parseCommand(const std::vector<std::string>& positional, bool description, CliOptions& options,
                  std::string& error) {
    if (options.again) {
        error = "--again goes with --job";
        return false;
    }
    if (positional.empty()) {
        error = options.watch ? "watch needs a command to run on each unit" : "no command given";
        return false;
    }
    const std::optional<CliCommand> command = cliCommandNamed(positional.front());
    if (!command) {
        error = "unknown command \"" + positional.front() + "\"";
        return false;
    }
    options.command = *command;
    const std::string name = cliCommandName(*command);
    if (*command == CliCommand::Set) {
        options.assignments.assign(positional.begin() + 1, positional.end());
    } else if (options.takesFile()) {
        if (positional.size() != 2) {
            error = name + " takes one FILE";
            return false;
        }
        options.file = positional[1];
    } else if (positional.size() != 1) {
        error = name + " takes no arguments";
        return false;
    }
    if ((options.dryRun && *command != CliCommand::Load) ||
        (description && *command != CliCommand::Save)) {
        error = "--json goes with read, --dry-run with load, -d with save";
        return false;
    }
    return true;
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

bool CliOptions::asks() const {
    return (command == CliCommand::Load && !dryRun) || command == CliCommand::Upload ||
           command == CliCommand::Delete || command == CliCommand::Start;
}

bool CliOptions::takesFile() const {
    return command == CliCommand::Save || command == CliCommand::Load ||
           command == CliCommand::Upload || command == CliCommand::Download;
}

bool parseCliOptions(const std::vector<std::string>& args, CliOptions& options,
                     std::string& error) {
    options = CliOptions{};
    std::vector<Occurrence> found;
    std::vector<std::string> positional;
    if (!split(args, found, positional, error)) {
        return false;
    }
    std::set<Opt> given;
    for (const Occurrence& option : found) {
        given.insert(option.id);
        switch (option.id) {
            case Opt::Help:
                options.help = true;
                break;
            case Opt::Version:
                options.version = true;
                break;
            case Opt::Port: {
                std::vector<unsigned> listed;
                if (!parsePortList(option.value, listed, error)) {
                    return false;
                }
                for (const unsigned n : listed) {
                    if (std::find(options.ports.begin(), options.ports.end(), n) ==
                        options.ports.end()) {
                        options.ports.push_back(n);
                    }
                }
                break;
            }
            case Opt::Device:
                // The same device twice is one unit.
                if (std::find(options.devices.begin(), options.devices.end(), option.value) ==
                    options.devices.end()) {
                    options.devices.push_back(option.value);
                }
                break;
            case Opt::Simulate:
                options.simulate = true;
                break;
            case Opt::SimOption:
                options.simulatorArguments.push_back(option.value);
                break;
            case Opt::Yes:
                options.yes = true;
                break;
            case Opt::Log:
                options.logPath = option.value;
                break;
            case Opt::Trace:
                options.tracePath = option.value;
                break;
            case Opt::Json:
                options.json = true;
                break;
            case Opt::DryRun:
                options.dryRun = true;
                break;
            case Opt::Description:
                options.description = option.value;
                break;
            case Opt::All:
                options.all = true;
                break;
            case Opt::Plan:
                options.planPath = option.value;
                break;
            case Opt::WatchDir:
                options.watchFolders.push_back(option.value);
                break;
            case Opt::Job:
                options.jobPath = option.value;
                break;
            case Opt::History:
                options.historyPath = option.value;
                break;
            case Opt::NoHistory:
                options.noHistory = true;
                break;
            case Opt::Station:
                options.station = option.value;
                break;
            case Opt::Operator:
                options.operatorName = option.value;
                break;
            case Opt::Again:
                options.again = true;
                break;
            case Opt::OnResult:
                options.onResult = option.value;
                break;
            case Opt::Config:
                options.jobConfig = option.value;
                break;
            case Opt::Set:
                options.jobSets.push_back(option.value);
                break;
            case Opt::Program:
                options.jobProgram = option.value;
                break;
            case Opt::Unique:
                options.jobUnique.push_back(option.value);
                break;
            case Opt::Name:
                options.jobName = option.value;
                break;
            case Opt::Since:
                options.since = option.value;
                break;
            case Opt::UnitReport:
                options.unitReport = true;
                break;
        }
    }
    if (options.help || options.version) {
        return true;
    }
    if (options.unitReport && positional.empty()) {
        return true;  // the command comes from the run, on standard input
    }
    const bool jobWords = given.count(Opt::Config) || given.count(Opt::Set) ||
                          given.count(Opt::Program) || given.count(Opt::Unique) ||
                          given.count(Opt::Name);
    if (!positional.empty() && (positional.front() == "job" || positional.front() == "history")) {
        return parseProductionWords(positional, given.count(Opt::Since) > 0, jobWords, options,
                                    error);
    }
    if (jobWords || given.count(Opt::Since)) {
        error =
            "--config, --set, --program, --unique and --name go with job new, --since with "
            "history";
        return false;
    }
    if (!positional.empty() && positional.front() == "watch") {
        options.watch = true;
        positional.erase(positional.begin());
    }
    if (!options.jobPath.empty()) {
        if (!checkJobRun(positional, options, error)) {
            return false;
        }
    } else if (!parseCommand(positional, given.count(Opt::Description) > 0, options, error)) {
        return false;
    }
    const int sources = int(given.count(Opt::Port)) + int(given.count(Opt::Device)) +
                        int(options.simulate) + int(options.all) + int(options.watch);
    if (sources > 1 && !(given.count(Opt::Port) && given.count(Opt::Device) && sources == 2)) {
        error = "give -p and --device, or one of --simulate, --all and watch";
        return false;
    }
    if (!options.watchFolders.empty() && !options.watch) {
        error = "--watch-dir goes with watch";
        return false;
    }
    if (!options.planPath.empty() && options.command != CliCommand::Load &&
        options.command != CliCommand::Set) {
        error = "--plan goes with load and set";
        return false;
    }
    if (options.several() && options.simulate) {
        error = "--simulate serves one unit";
        return false;
    }
    return true;
}

std::vector<std::string> unitArguments(const CliOptions& options) {
    std::vector<std::string> args;
    if (options.yes) {
        args.push_back("--yes");
    }
    if (options.json && options.command == CliCommand::Read) {
        args.push_back("--json");
    }
    if (options.dryRun) {
        args.push_back("--dry-run");
    }
    if (!options.description.empty()) {
        args.insert(args.end(), {"-d", options.description});
    }
    // The options end here: a file named "-x" is a file.
    args.insert(args.end(), {"--", cliCommandName(options.command)});
    if (!options.file.empty()) {
        args.push_back(options.file);
    }
    args.insert(args.end(), options.assignments.begin(), options.assignments.end());
    return args;
}

std::string cliHelpText() {
    std::string help = "Usage: vxconf-cli [options] command [args]\n";
    help += kDescription;
    help += "\n\nOptions:\n";
    std::vector<std::pair<std::string, const char*>> rows;
    std::size_t width = 0;
    for (const OptionSpec& known : kOptions) {
        if (known.help == nullptr) {
            continue;
        }
        std::string names = known.shortName != 0 ? std::string("-") + known.shortName + ", " : "";
        names += std::string("--") + known.name;
        if (known.value != nullptr) {
            names += std::string(" <") + known.value + ">";
        }
        width = std::max(width, names.size());
        rows.emplace_back(names, known.help);
    }
    rows.emplace_back("command", "One of the commands below.");
    const std::size_t column = 2 + width + 2;
    const auto row = [&](const std::string& names, const char* text) {
        std::string lines;
        const std::vector<std::string> parts = wrapped(text, 80 - column);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const std::string lead = i == 0 ? "  " + names : "";
            lines += lead + std::string(column - lead.size(), ' ') + parts[i] + "\n";
        }
        return lines;
    };
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        help += row(rows[i].first, rows[i].second);
    }
    help += "\nArguments:\n" + row(rows.back().first, rows.back().second);
    return help + kCommandsHelp;
}

bool parsePortList(const std::string& text, std::vector<unsigned>& ports, std::string& error) {
    ports.clear();
    std::set<unsigned> seen;
    std::string part;
    std::istringstream parts(text);
    while (std::getline(parts, part, ',')) {
        part = trimmed(part);
        const std::size_t dash = part.find('-');
        const std::optional<unsigned> first = portNumber(part.substr(0, dash));
        const std::optional<unsigned> last =
            dash == std::string::npos ? first : portNumber(part.substr(dash + 1));
        if (!first || !last || *last < *first) {
            error = "-p takes port numbers from 1 to 255, or ranges of them such as 5-8: \"" +
                    part + "\"";
            return false;
        }
        for (unsigned n = *first; n <= *last; ++n) {
            if (seen.insert(n).second) {
                ports.push_back(n);
            }
        }
    }
    if (ports.empty()) {
        error = "-p takes port numbers from 1 to 255";
        return false;
    }
    return true;
}
