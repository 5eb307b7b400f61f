// The live view of a run on several units: what an operator sees on a terminal of any size.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/Terminal.h"
#include "station/LiveView.h"

namespace {

const std::string kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3X";

// 30 units with long names, started one after the other: 5 running, 2 failed, the rest ok.
struct Shift {
    Shift() {
        for (int i = 0; i < 30; ++i) {
            UnitRow row;
            row.name = kById + std::to_string(10 + i) + "-if00-port0";
            row.serial = std::to_string(4700 + i);
            row.startMs = std::uint64_t(i) * 1000;
            if (i == 3 || i == 17) {
                row.ended = true;
                row.endMs = row.startMs + 900;
                row.result = "error";
                row.state = "error";
                row.message = "COM9 answered at first\n\nthen stopped";
                ++tally.failed;
            } else if (i >= 25) {
                row.state = "uploading";
                row.percent = 40;
                ++tally.running;
            } else {
                row.ended = true;
                row.endMs = row.startMs + 1400;
                row.result = "ok";
                row.state = "ok";
                ++tally.ok;
            }
            rows.push_back(row);
        }
        for (const UnitRow& row : rows) {
            shown.push_back(&row);
        }
    }
    std::vector<UnitRow> rows;
    std::vector<const UnitRow*> shown;
    Tally tally;
};

TEST(LiveView, ThirtyUnitsWithLongNamesFitAnEightyByTwentyFourTerminal) {
    const Shift shift;
    const std::vector<std::string> lines =
        viewLines(shift.shown, shift.tally, 40000, 80, 24, false);
    ASSERT_LE(lines.size(), 23u) << "the cursor's line stays free, so nothing scrolls";
    for (const std::string& line : lines) {
        EXPECT_LE(columnsOf(line), 79u) << line;
        EXPECT_EQ(line.find('\033'), std::string::npos);
    }
    EXPECT_EQ(lines[0], "running 5 | ok 23 | failed 2 | yield 92.0%");
    // Running units first, then the failed ones, each in start order; the ok ones fill
    // what is left with the latest.
    EXPECT_NE(lines[1].find("4725"), std::string::npos) << lines[1];
    EXPECT_NE(lines[5].find("4729"), std::string::npos) << lines[5];
    EXPECT_NE(lines[6].find("4703   ERROR"), std::string::npos) << lines[6];
    EXPECT_NE(lines[6].find("COM9 answered at first"), std::string::npos) << lines[6];
    EXPECT_NE(lines[7].find("4717   ERROR"), std::string::npos) << lines[7];
    EXPECT_NE(lines.back().find("4724   ok"), std::string::npos) << lines.back();
    // A long name loses the front all the names share, and keeps what tells units apart.
    EXPECT_EQ(lines[1].rfind("\xE2\x80\xA6"
                             "35-if00-port0  ",
                             0),
              0u)
        << lines[1];

    // Fewer lines than running and failed units: the last line says how many are left out.
    const std::vector<std::string> small = viewLines(shift.shown, shift.tally, 40000, 40, 6, false);
    ASSERT_EQ(small.size(), 5u);
    EXPECT_EQ(small.back(), "+ 4 more running or failed");
    EXPECT_EQ(small[1].rfind("\xE2\x80\xA6"
                             "5-if00-por\xE2\x80\xA6",
                             0),
              0u)
        << small[1];
    for (const std::string& line : small) {
        EXPECT_LE(columnsOf(line), 39u) << line;
    }
}

TEST(LiveView, ColourOnlyUnderlinesTheWords) {
    const Shift shift;
    const std::vector<std::string> lines =
        viewLines(shift.shown, shift.tally, 40000, 100, 40, true);
    EXPECT_EQ(lines[6].rfind("\033[1;31m", 0), 0u) << "a failure in red";
    EXPECT_NE(lines[6].find("ERROR"), std::string::npos) << "and in words";
    EXPECT_EQ(lines.back().rfind("\033[32m", 0), 0u);
    EXPECT_NE(lines.back().find(" ok "), std::string::npos);
}

TEST(LiveView, OnlyLinesThatChangedAreWrittenAgain) {
    std::ostringstream out;
    ScreenWriter screen(out);
    screen.enter();
    out.str("");
    screen.draw({"header", "COM1 reading", "COM2 reading"});
    EXPECT_EQ(out.str(),
              "\033[1;1Hheader\033[K\033[2;1HCOM1 reading\033[K\033[3;1HCOM2 reading\033[K");
    out.str("");
    screen.draw({"header", "COM1 reading", "COM2 reading"});
    EXPECT_EQ(out.str(), "");
    screen.draw({"header", "COM1 ok"});
    EXPECT_EQ(out.str(), "\033[2;1HCOM1 ok\033[K\033[3;1H\033[K");
    // After a resize the terminal may have moved or cut what it showed: all is drawn afresh.
    out.str("");
    screen.invalidate();
    screen.draw({"header", "COM1 ok"});
    EXPECT_EQ(out.str(), "\033[H\033[2J\033[1;1Hheader\033[K\033[2;1HCOM1 ok\033[K");
    out.str("");
    screen.leave();
    EXPECT_EQ(out.str(), "\033[?25h\033[?1049l") << "the terminal's own screen comes back";
}

TEST(LiveView, TheSummaryHasALineForEachFailedUnit) {
    const Shift shift;
    std::vector<const UnitRow*> failed{&shift.rows[3], &shift.rows[17]};
    const std::vector<std::string> lines = summaryLines(shift.tally, failed, {&shift.rows[4]});
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "30 units: 23 ok, 2 failed, 5 not finished, yield 92.0%");
    EXPECT_EQ(lines[1], kById +
                            "13-if00-port0: serial 4703: error (0.9 s): COM9 answered at first; "
                            "then stopped");
    EXPECT_EQ(lines[3], kById + "14-if00-port0: serial 4704: provisioned again");
}

}  // namespace
