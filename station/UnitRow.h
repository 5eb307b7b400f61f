#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/UnitEvents.h"
#include "cli/UnitResult.h"

// One unit of a run on several units, as the run follows it from its events.
struct UnitRow : UnitResult {
    std::string state = "waiting";
    int percent = -1;  // of a transfer that knows its size
    std::uint64_t startMs = 0;
    std::uint64_t endMs = 0;
    bool ended = false;
    bool again = false;    // its serial number had ended ok once already in this run
    std::string hookNote;  // why the hook run after it failed
};

// Takes an event into its row; the time is the run's clock.
void applyUnitEvent(UnitRow& row, const UnitEvent& event, std::uint64_t nowMs);
// Ends the row as the run decides (a unit that died, or whose record was lost).
void endUnitRow(UnitRow& row, int code, const std::string& message, std::uint64_t nowMs);

// A failure's reason on one line, fit for a terminal: a mismatch's differences without
// their heading, other messages' lines joined by "; ", blank lines left out.
std::string reasonLine(const UnitRow& row);
// The line for a unit that has ended, where no table is drawn:
// "COM5: serial 4711: ok (1.4 s)", with the reason after a failure.
std::string unitEndLine(const UnitRow& row);
// A unit's name in a file name: its path's characters other than letters, digits, dot,
// dash and underscore become underscores.
std::string unitFileTag(const std::string& name);
