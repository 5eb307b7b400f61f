#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "editor/Hints.h"

namespace {

// The program's hint texts, exactly.
const std::map<int, std::string> kExpected{
    {1001, "Delete an uploaded user program"},
    {1004, "Selects one of the standard programs"},
    {1007, "Update VX310 configuration"},
    {1009, "Configure the selected mode program"},
    {1011, "If enabled, VX310 emits Xon/Xoff chars to control reception of data on Port 1"},
    {1012, "If enabled, Xon/Xoff characters control data being transmitted on Port 1"},
    {1014, "Send a user program to the VX310"},
    {1016, "User program status"},
    {1025, "If enabled, VX310 emits Xon/Xoff chars to control reception of data on Port 2"},
    {1026, "If enabled, Xon/Xoff characters control data being transmitted on Port 2"},
    {1038, "User supplied description for the configuration file"},
    {1039, "Load or save the config file"},
    {1040, "Cancel load or save of the config file"},
    {1041, "Select a different config file"},
    {1049, "Restore factory defaults"},
    {1055, "Accept changes and return to mode 1 driver configuration"},
    {1065, "This VX310's RS485 address in decimal"},
    {1067, "Optional byte sent before the address byte, in decimal"},
    {1068, "RS232 device response timeout - see User Manual"},
    {1070, "Return to main window"},
    {1075, "Accept changes and return to main window"},
    {1076, "Adjust ADE driver turn-off delay"},
};

HintTable programTable() {
    std::ifstream in(VXCONF_HINTS_FILE, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return HintTable::parse(text.str());
}

TEST(Hints, TheTableHoldsExactlyTheProgramsTexts) {
    const HintTable table = programTable();
    EXPECT_EQ(table.size(), kExpected.size());
    for (const auto& [id, text] : kExpected) {
        EXPECT_EQ(tipFor(table, id, true), text) << id;
        EXPECT_EQ(tipFor(table, id, false), "") << id;
    }
    // Controls without a string: the lead-in box, Cancel and Help, the port lists.
    for (int id : {0, 1064, 1056, 1058, 1071, 1072, 1073, 1074, 1005, 1006, 1008, 1010, 1077}) {
        EXPECT_EQ(tipFor(table, id, true), "") << id;
    }
}

TEST(Hints, MalformedLinesAreSkipped) {
    const HintTable table = HintTable::parse(
        "# comment\n12\tTwelve\r\nx1\tbad\n\tno id\n0\tzero\n13 no tab\n99999999999\toverlong\n"
        "14\t\n15\tlast");
    EXPECT_EQ(table.text(12), "Twelve");
    EXPECT_EQ(table.text(15), "last");
    EXPECT_EQ(table.text(14), "");
    EXPECT_EQ(table.text(0), "");
    EXPECT_EQ(table.size(), 3u);
}

}  // namespace
