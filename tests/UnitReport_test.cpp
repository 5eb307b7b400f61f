#include <gtest/gtest.h>

#include "station/UnitRow.h"

namespace {

TEST(UnitReport, EventsSurviveTheirTripWhateverTheTextHolds) {
    const UnitEvent sent{UnitKey::kEnd, {"3", "mismatch", "line one\nline\ttwo \\ end\r", ""}};
    const std::string line = encodeUnitEvent(sent);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << "one event, one line";
    UnitEvent received;
    ASSERT_TRUE(decodeUnitEvent(line, received));
    EXPECT_EQ(received.key, sent.key);
    EXPECT_EQ(received.values, sent.values);
    EXPECT_FALSE(decodeUnitEvent("\n", received));
}

TEST(UnitReport, RowsFollowTheirUnitAndTheSummaryNamesWhatFailed) {
    std::vector<UnitRow> rows(3);
    rows[0].name = "COM4";
    rows[1].name = "COM5";
    rows[2].name = "/dev/ttyUSB3";
    applyUnitEvent(rows[0], {UnitKey::kSerial, {"4710"}}, 100);
    applyUnitEvent(rows[0], {UnitKey::kState, {"uploading", "45"}}, 200);
    EXPECT_EQ(unitRowText(rows[0], 12000, 12), "COM4          4710     uploading 45%     0:12");
    applyUnitEvent(rows[0], {UnitKey::kEnd, {"0", "ok", "", ""}}, 14500);
    applyUnitEvent(rows[1], {UnitKey::kSerial, {"4711"}}, 100);
    applyUnitEvent(rows[1],
                   {UnitKey::kEnd,
                    {"3", "mismatch",
                     "The VX310 did not store the configuration as sent:\nPort 2 Parity: sent "
                     "even, the VX310 holds none",
                     "mode2.address=7"}},
                   1400);
    EXPECT_EQ(rows[1].state, "MISMATCH");
    EXPECT_EQ(unitEndLine(rows[1]),
              "COM5: serial 4711: MISMATCH (1.4 s): Port 2 Parity: sent even, the VX310 holds "
              "none");
    // A late state from a unit that has ended changes nothing.
    applyUnitEvent(rows[1], {UnitKey::kState, {"reading", "-1"}}, 1500);
    EXPECT_EQ(rows[1].state, "MISMATCH");

    EXPECT_EQ(gangSummary(rows),
              "3 units: 1 ok, 1 mismatch (COM5, serial 4711: Port 2 Parity: "
              "sent even, the VX310 holds none), 1 not finished");
    applyUnitEvent(rows[2], {UnitKey::kEnd, {"2", "error", "VX310 is not responding\n", ""}}, 9);
    EXPECT_EQ(gangSummary(rows),
              "3 units: 1 ok, 1 mismatch (COM5, serial 4711: Port 2 Parity: sent even, the VX310 "
              "holds none), 1 error (/dev/ttyUSB3: VX310 is not responding)");
    EXPECT_EQ(worstExitCode(rows), 3);
}

TEST(UnitReport, JsonIsOneValidLineAUnit) {
    UnitRow row;
    row.name = "/dev/serial/by-id/usb-\"x\"";
    applyUnitEvent(row, {UnitKey::kSerial, {"12"}}, 0);
    applyUnitEvent(row, {UnitKey::kOut, {"{\"a\":1}"}}, 0);
    applyUnitEvent(row, {UnitKey::kEnd, {"2", "error", "bad\x1b[2Jthing\n", "mode=2"}}, 1500);
    EXPECT_EQ(unitJson(row),
              "{\"unit\":\"/dev/serial/by-id/usb-\\\"x\\\"\",\"serialNumber\":12,"
              "\"result\":\"error\",\"exitCode\":2,\"message\":\"bad\\u001b[2Jthing\\u000a\","
              "\"planned\":\"mode=2\",\"seconds\":1.500,\"output\":\"{\\\"a\\\":1}\\u000a\"}");
    row.serial = "12; rm";
    EXPECT_NE(unitJson(row).find("\"serialNumber\":null"), std::string::npos);
    EXPECT_EQ(unitFileTag("/dev/serial/by-id/usb-FTDI_A1-if00"),
              "dev_serial_by-id_usb-FTDI_A1-if00");
}

}  // namespace
