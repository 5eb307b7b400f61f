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
};

// Takes an event into its row; the time is the run's clock.
void applyUnitEvent(UnitRow& row, const UnitEvent& event, std::uint64_t nowMs);
// Ends the row as the run decides (a unit that died, or whose record was lost).
void endUnitRow(UnitRow& row, int code, const std::string& message, std::uint64_t nowMs);

// "COM5       4711    uploading 45%    0:12", the name padded to nameWidth.
std::string unitRowText(const UnitRow& row, std::uint64_t nowMs, std::size_t nameWidth);
// The line for a unit that has ended, where no table is drawn:
// "COM5: serial 4711: ok (1.4 s)", with the message's first line after a failure.
std::string unitEndLine(const UnitRow& row);
// "8 units: 7 ok, 1 mismatch (COM5, serial 4711: Port 2 Parity: sent even, the VX310 holds
// none)".
std::string gangSummary(const std::vector<UnitRow>& rows);
// The worst exit code of the units that ended.
int worstExitCode(const std::vector<UnitRow>& rows);
// A unit's name in a file name: its path's characters other than letters, digits, dot,
// dash and underscore become underscores.
std::string unitFileTag(const std::string& name);
