#pragma once

#include "cli/CliOptions.h"
#include "station/GangRun.h"
#include "station/Job.h"

// vxconf-cli on several units at once (-p with several numbers, --device more than once,
// --all, watch): the whole run is checked before any unit is touched (the plan, the file,
// the record), every input is read once, and each unit then runs in a process of its own.
// program: vxconf-cli itself, started afresh for each unit when the launcher is not running.
int runSeveral(const CliOptions& options, const char* program, class UnitLauncher& launcher);

// A job as the units' command: load its file (or set, without one) with no question asked.
void setJobCommand(const Job& job, const JobInputs& inputs, CliOptions& options);
// The command's file as the job read it and checked it against its fingerprint.
CommandInput jobCommandInput(const JobInputs& inputs, const CliOptions& options);
// The run's share of the job: the units' command line, the values every unit gets, the
// program uploaded after the configuration, and the job's name and fingerprint.
void setJobRun(const Job& job, const JobInputs& inputs, const CliOptions& options,
               GangRun::Options& run);
