#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

#include "station/UnitRow.h"

// What an operator sees of a run on several units on a terminal: a header with the counters
// and a row a unit, always fitted to the terminal. Running and failed units come first, each
// group in the order its units started; when the rows do not all fit, the ok ones fold into
// the counters. Colour only underlines what the words already say.

// The run's counts so far.
struct Tally {
    std::size_t running = 0;
    std::size_t ok = 0;
    std::size_t failed = 0;
    std::size_t again = 0;        // ok, of a serial number this run had provisioned before
    std::size_t provisioned = 0;  // refused: the job had provisioned the unit already
};

// "yield 96.0%": ok units of those that ended; "-" before any has.
std::string yieldText(const Tally& tally);

// text in at most width columns: the front is cut and marked with "…", since the end of a
// device path (/dev/serial/by-id/usb-FTDI_..._A10K3XYZ-if00-port0) tells units apart.
std::string shortenedFromLeft(const std::string& text, std::size_t width);
// text in at most width columns, its end cut and marked with "…".
std::string shortenedFromRight(const std::string& text, std::size_t width);
// Columns a text takes (a UTF-8 character is one).
std::size_t columnsOf(const std::string& text);

// The view's lines for a terminal width columns wide and height lines high: at most
// height - 1 lines (the cursor's line stays free, so nothing scrolls), none wider than
// width - 1. rows: the units still shown (running, failed, and the latest ok ones). Names
// too long for their column lose the front they share with the others shown.
std::vector<std::string> viewLines(const std::vector<const UnitRow*>& rows, const Tally& tally,
                                   std::uint64_t nowMs, std::size_t width, std::size_t height,
                                   bool colour);

// The lines the run ends with in place of the view: the counts, then one line a failed unit,
// and the units provisioned again.
std::vector<std::string> summaryLines(const Tally& tally, const std::vector<const UnitRow*>& failed,
                                      const std::vector<const UnitRow*>& again);

// Draws lines on a terminal's alternate screen, rewriting only the lines that changed since
// the last draw; leave() gives the terminal its own screen back, as it was.
class ScreenWriter {
public:
    explicit ScreenWriter(std::ostream& out) : m_out(out) {}
    void enter();
    void draw(const std::vector<std::string>& lines);
    // The terminal changed its size: everything is drawn afresh.
    void invalidate();
    void leave();
    bool active() const { return m_active; }

private:
    std::ostream& m_out;
    std::vector<std::string> m_shown;
    bool m_active = false;
    bool m_clear = false;
};
