#include <gtest/gtest.h>

#include "station/Plan.h"

namespace {

TEST(Plan, EachUnitGetsItsRowBySerialNumber) {
    std::string error;
    const auto plan = Plan::parse(
        "serialNumber,mode2.address,Mode2.LeadIn\r\n"
        "4711,7,0\r\n"
        "\r\n"
        " 4712 , 8 ,\"100\"\r\n",
        error);
    ASSERT_TRUE(plan) << error;
    EXPECT_EQ(plan->size(), 2u);
    ASSERT_NE(plan->find(4711), nullptr);
    EXPECT_EQ(*plan->find(4711), (std::vector<std::string>{"mode2.address=7", "Mode2.LeadIn=0"}));
    EXPECT_EQ(*plan->find(4712), (std::vector<std::string>{"mode2.address=8", "Mode2.LeadIn=100"}));
    EXPECT_EQ(plan->find(4713), nullptr) << "a unit not in the plan";

    // A spreadsheet's "CSV UTF-8": a byte order mark and CR LF.
    const auto spreadsheet =
        Plan::parse("\xEF\xBB\xBFserialNumber,mode2.address\r\n9,3\r\n", error);
    ASSERT_TRUE(spreadsheet) << error;
    EXPECT_EQ(*spreadsheet->find(9), std::vector<std::string>{"mode2.address=3"});

    // The serial number may stand in any column.
    const auto moved = Plan::parse("port2.parity,serialNumber\nodd,5\n", error);
    ASSERT_TRUE(moved) << error;
    EXPECT_EQ(*moved->find(5), std::vector<std::string>{"port2.parity=odd"});
}

TEST(Plan, AnythingWrongRefusesTheWholePlanWithItsLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "the plan is empty"},
        {"mode2.address\n7\n", "plan line 1: the header has no serialNumber column"},
        {"serialNumber\n1\n", "plan line 1: the header names no field to set"},
        {"serialNumber,mode2.adress\n1,7\n", "plan line 1: unknown field \"mode2.adress\""},
        {"serialNumber,version\n1,x\n", "plan line 1: \"version\" is the VX310's own"},
        {"serialNumber,mode2.address,mode2.address\n", "is named twice"},
        {"serialNumber,mode2.address\n1,256\n", "plan line 2: "},
        {"serialNumber,port2.parity\n1,mark\n", "plan line 2: "},
        {"serialNumber,mode2.address\n1,7\n1,8\n",
         "plan line 3: serial number 1 has a row already"},
        {"serialNumber,mode2.address\n65536,7\n", "plan line 2: \"65536\" is no serial number"},
        {"serialNumber,mode2.address\nx,7\n", "is no serial number"},
        {"serialNumber,mode2.address\n1,7,9\n", "plan line 2: has 3 values, the header 2"},
        {"serialNumber,mode2.address\n1,\"7\n", "plan line 2: a quote is not closed"},
        // What a cell holds never reaches the terminal as it is.
        {"serialNumber,\x1b]0;owned\x07\n", "plan line 1: unknown field \"\\x1b]0;owned\\x07\""},
        {"serialNumber,port2.parity\n1,\x1b[2J\n", "\\x1b[2J"},
    };
    for (const auto& [text, reason] : cases) {
        std::string error;
        EXPECT_FALSE(Plan::parse(text, error)) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << text << " -> " << error;
    }
}

TEST(Plan, CsvFieldsFollowTheQuotingRules) {
    std::vector<std::string> fields;
    ASSERT_TRUE(splitCsvLine("a,\"b,c\",\"say \"\"hi\"\"\",", fields));
    EXPECT_EQ(fields, (std::vector<std::string>{"a", "b,c", "say \"hi\"", ""}));
    EXPECT_FALSE(splitCsvLine("\"open", fields));
}

}  // namespace
