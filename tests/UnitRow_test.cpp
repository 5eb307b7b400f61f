#include <gtest/gtest.h>

#include "station/UnitRow.h"

namespace {

TEST(UnitRow, EventsSurviveTheirTripWhateverTheTextHolds) {
    const UnitEvent sent{UnitKey::kEnd, {"3", "mismatch", "line one\nline\ttwo \\ end\r", ""}};
    const std::string line = encodeUnitEvent(sent);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << "one event, one line";
    UnitEvent received;
    ASSERT_TRUE(decodeUnitEvent(line, received));
    EXPECT_EQ(received.key, sent.key);
    EXPECT_EQ(received.values, sent.values);
    EXPECT_FALSE(decodeUnitEvent("\n", received));
}

TEST(UnitRow, RowsFollowTheirUnitAndAFailureIsOneLine) {
    UnitRow row;
    row.name = "COM5";
    applyUnitEvent(row, {UnitKey::kSerial, {"4711", "v1.04"}}, 100);
    applyUnitEvent(row, {UnitKey::kState, {"uploading", "45"}}, 200);
    EXPECT_EQ(row.state, "uploading");
    EXPECT_EQ(row.percent, 45);
    applyUnitEvent(row,
                   {UnitKey::kEnd,
                    {"3", "mismatch",
                     "The VX310 did not store the configuration as sent:\nPort 2 Parity: sent "
                     "even, the VX310 holds none\nPort 1 Bits: sent 7, the VX310 holds 8\n",
                     "mode2.address=7"}},
                   1400);
    EXPECT_EQ(row.version, "v1.04");
    EXPECT_EQ(row.state, "MISMATCH");
    EXPECT_EQ(unitEndLine(row),
              "COM5: serial 4711: MISMATCH (1.4 s): Port 2 Parity: sent even, the VX310 holds "
              "none; Port 1 Bits: sent 7, the VX310 holds 8");
    // A late state from a unit that has ended changes nothing.
    applyUnitEvent(row, {UnitKey::kState, {"reading", "-1"}}, 1500);
    EXPECT_EQ(row.state, "MISMATCH");

    // Paragraphs become one line without empty parts, and nothing in it steers a terminal.
    UnitRow port;
    port.name = "/dev/x\x1b[2J";
    endUnitRow(port, 2,
               "The selected port /dev/x does not exist\n\n/dev/x: held by another program "
               "(process 7, minicom).\n",
               500);
    EXPECT_EQ(unitEndLine(port),
              "/dev/x\\x1b[2J: error (0.5 s): The selected port /dev/x does not exist; /dev/x: "
              "held by another program (process 7, minicom).");
}

TEST(UnitRow, JsonIsOneValidLineAUnit) {
    UnitRow row;
    row.name = "/dev/serial/by-id/usb-\"x\"";
    applyUnitEvent(row, {UnitKey::kSerial, {"12"}}, 0);
    applyUnitEvent(row, {UnitKey::kOut, {"{\"a\":1}"}}, 0);
    applyUnitEvent(row, {UnitKey::kEnd, {"2", "error", "bad\x1b[2Jthing\n", "mode=2"}}, 1500);
    EXPECT_EQ(unitJson(row),
              "{\"unit\":\"/dev/serial/by-id/usb-\\\"x\\\"\",\"serialNumber\":12,"
              "\"result\":\"error\",\"exitCode\":2,\"message\":\"bad\\u001b[2Jthing\\u000a\","
              "\"planned\":\"mode=2\",\"seconds\":1.500,\"output\":\"{\\\"a\\\":1}\\u000a\","
              "\"time\":\"\",\"station\":\"\",\"operator\":\"\",\"toolVersion\":\"" VXCONF_VERSION
              "\",\"job\":\"\",\"jobSha256\":\"\",\"sent\":{}}");
    row.serial = "12; rm";
    EXPECT_NE(unitJson(row).find("\"serialNumber\":null"), std::string::npos);
    EXPECT_EQ(unitFileTag("/dev/serial/by-id/usb-FTDI_A1-if00"),
              "dev_serial_by-id_usb-FTDI_A1-if00");
}

}  // namespace
