#include <gtest/gtest.h>

#include "platform/PortDiagnosis.h"

namespace {

PortStatus status(PortFault fault) {
    PortStatus s;
    s.fault = fault;
    return s;
}

TEST(PortDiagnosis, EveryReasonInWords) {
    PortStatus denied = status(PortFault::NoPermission);
    denied.group = "dialout";
    PortStatus held = status(PortFault::Busy);
    EXPECT_EQ(portFaultWords(held), "held by another program");
    held.pid = 77;
    EXPECT_EQ(portFaultWords(held), "held by another program (process 77)");
    held.program = "minicom";
    EXPECT_EQ(portFaultWords(held), "held by another program (process 77, minicom)");
    EXPECT_EQ(portFaultWords(denied), "no permission (group dialout)");
    EXPECT_EQ(portFaultWords(status(PortFault::Missing)), "no such device");
    EXPECT_EQ(portFaultWords(status(PortFault::NotSerial)), "not a serial device");
    EXPECT_EQ(portFaultWords(status(PortFault::LineSettings)),
              "refuses the line settings (9600 baud, 8 data bits, no parity, 1 stop bit)");
    PortStatus other = status(PortFault::Other);
    other.detail = "Input/output error";
    EXPECT_EQ(portFaultWords(other), "Input/output error");
}

TEST(PortDiagnosis, TheOpenNoticesParagraphGivesTheFixOnlyWhereItIsOne) {
    PortStatus denied = status(PortFault::NoPermission);
    denied.group = "dialout";
    EXPECT_EQ(openFailureParagraph("/dev/ttyUSB0", denied, "alice"),
              "/dev/ttyUSB0: no permission (group dialout). To get it: sudo usermod -aG dialout "
              "alice, then log in again.");
    denied.group = "root";
    EXPECT_EQ(openFailureParagraph("/dev/ttyS0", denied, "alice"),
              "/dev/ttyS0: no permission (group root).");
    EXPECT_EQ(openFailureParagraph("/dev/ttyUSB0", status(PortFault::Missing), "alice"),
              "/dev/ttyUSB0: no such device.");
    EXPECT_EQ(openFailureParagraph("", denied, "alice"), "") << "nothing to name";
}

}  // namespace
