#pragma once

#include <optional>
#include <string>
#include <vector>

// vxconf-cli's command line as a plain struct. The arguments are taken as the bytes the
// shell passed: a path is a path, whatever its encoding, and reaches open() unchanged.

enum class CliCommand { Ports, Read, Save, Load, Set, Upload, Delete, Download, Start };

// The command names as the command line spells them; nothing for an unknown one.
std::optional<CliCommand> cliCommandNamed(const std::string& name);
const char* cliCommandName(CliCommand command);

// What the command line asks for: a command on units, or one of the production words.
enum class CliTask { Units, JobNew, JobShow, History };

struct CliOptions {
    bool help = false;
    bool version = false;
    CliTask task = CliTask::Units;

    CliCommand command = CliCommand::Read;
    std::string file;                      // save, load, upload, download
    std::string description;               // save: the file's description (UTF-8)
    std::vector<std::string> assignments;  // set: FIELD=VALUE
    bool json = false;
    bool dryRun = false;  // load
    bool yes = false;     // every question of the window answered Yes

    std::vector<unsigned> ports;       // -p, each number once, in the order given
    std::vector<std::string> devices;  // --device, as given
    bool all = false;                  // --all
    bool watch = false;                // watch COMMAND
    std::vector<std::string> watchFolders;
    bool simulate = false;
    std::vector<std::string> simulatorArguments;

    std::string planPath;
    std::string logPath;
    std::string tracePath;
    // A unit of a run on several: it takes its command line and inputs from the run on
    // standard input and reports events on standard output.
    bool unitReport = false;

    // Production: the job to run, the history, who and where, and the hook.
    std::string jobPath;      // --job: its command and files replace the command word
    std::string historyPath;  // empty: the default history
    bool noHistory = false;
    std::string station;       // empty: the host's name
    std::string operatorName;  // --operator
    bool again = false;        // a unit the job provisioned already is provisioned again
    std::string onResult;      // a shell command run after each unit

    // job new FILE: what the job holds (planPath is its plan). job show FILE. history.
    std::string jobFile;
    std::string jobConfig;
    std::vector<std::string> jobSets;
    std::string jobProgram;
    std::vector<std::string> jobUnique;
    std::string jobName;
    std::string historySerial;  // history SERIAL
    std::string since;          // history --since DATE

    // More than one unit, a station, or a run whose parent has work of its own (a job, a
    // hook): each unit in a process of its own.
    bool several() const {
        return watch || all || ports.size() + devices.size() > 1 || !jobPath.empty() ||
               !onResult.empty();
    }
    // Whether the command changes a unit, and so asks the window's question first.
    bool asks() const;
    bool takesFile() const;
};

// Parses the arguments after the program's name. False with the message for a mistake;
// help and version are not mistakes.
bool parseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// The arguments that give a unit of a run on several units the same command: everything
// but the ports and the run's own options (the record, the plan, --all, watch).
std::vector<std::string> unitArguments(const CliOptions& options);

// --help: the options, then the commands, the exit status and examples.
std::string cliHelpText();

// The units of -p: "1,3,5-8" gives 1, 3, 5, 6, 7, 8, in order, each once. False with the
// reason for anything that is not a port number from 1 to 255 or a range of them.
bool parsePortList(const std::string& text, std::vector<unsigned>& ports, std::string& error);
