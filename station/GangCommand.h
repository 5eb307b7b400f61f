#pragma once

#include "cli/CliOptions.h"

// vxconf-cli on several units at once (-p with several numbers, --device more than once,
// --all, watch): the whole run is checked before any unit is touched (the plan, the file,
// the record), every input is read once, and each unit then runs in a process of its own.
// program: vxconf-cli itself, started afresh for each unit when the launcher is not running.
int runSeveral(const CliOptions& options, const char* program, class UnitLauncher& launcher);
