#pragma once

#include <functional>
#include <string>

#include "cli/CliOptions.h"
#include "cli/UnitEvents.h"

// vxconf-cli on one unit, from its parsed command line to its exit status: the port, the
// simulated device, the trace, the session, the record and what is printed.

struct UnitSetup {
    // Asked once the unit's serial number is read, before anything is sent: whether to go
    // on, and the plan's values for this unit. Unset: go on with nothing planned.
    std::function<GoAhead(unsigned serial, const std::string& version)> goAhead;
    // A plan gives each unit values, so set may name none of its own.
    bool planned = false;
};

// One unit started from a terminal or a script. The caller has parsed the options and
// checked that they name one unit.
int runOneUnit(const CliOptions& options, const UnitSetup& setup);

// A unit of a run on several units (--unit-report): its command line and inputs come from
// the run on standard input, its events go to the run on standard output, and the run has
// the last word on whether anything is sent (UnitEvents.h).
int runReportingUnit();
