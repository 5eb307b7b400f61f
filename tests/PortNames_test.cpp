#include <gtest/gtest.h>

#include "device/PortNames.h"
#include "platform/Profile.h"

TEST(PortNames, BuiltInRuleBoundaries) {
    EXPECT_EQ(PortNames::builtInPath(0), "");
    EXPECT_EQ(PortNames::builtInPath(1), "/dev/ttyS0");
    EXPECT_EQ(PortNames::builtInPath(32), "/dev/ttyS31");
    EXPECT_EQ(PortNames::builtInPath(33), "/dev/ttyUSB0");
    EXPECT_EQ(PortNames::builtInPath(64), "/dev/ttyUSB31");
    EXPECT_EQ(PortNames::builtInPath(65), "/dev/ttyACM0");
    EXPECT_EQ(PortNames::builtInPath(96), "/dev/ttyACM31");
    EXPECT_EQ(PortNames::builtInPath(97), "");
    EXPECT_EQ(PortNames::builtInPath(255), "");
    EXPECT_EQ(PortNames::builtInPath(256), "");

    PortNames names;
    EXPECT_EQ(names.devicePath(2), "/dev/ttyS1");
    names.setOverride(256, "/dev/null");
    EXPECT_EQ(names.devicePath(256), "");
}

TEST(PortNames, OverridesFromSettings) {
    const ProfileFile settings(
        "[Other]\nCOM4=/dev/wrong\n[ports]\ncom1 = /dev/pts/7\nCOM2=\nCOM3\nCOM200=\"/dev/sim\"\n"
        "COM5=" +
        std::string(4096, 'x') + "\n");
    PortNames names;
    names.setOverride(6, "/dev/kept");
    names.loadOverrides(settings);
    EXPECT_EQ(names.devicePath(1), "/dev/pts/7");
    EXPECT_EQ(names.devicePath(2), "");
    EXPECT_EQ(names.devicePath(3), "/dev/ttyS2");
    EXPECT_EQ(names.devicePath(4), "/dev/ttyS3");
    EXPECT_EQ(names.devicePath(5), "/dev/ttyS4");
    EXPECT_EQ(names.devicePath(6), "/dev/kept");
    EXPECT_EQ(names.devicePath(200), "/dev/sim");

    names.setOverride(200, "");
    EXPECT_EQ(names.devicePath(200), "");
}

TEST(PortNames, EntryText) {
    EXPECT_EQ(portEntryText(3, "/dev/ttyS2"), "COM3 (/dev/ttyS2)");
    EXPECT_EQ(portEntryText(7, ""), "COM7");
    EXPECT_EQ(portEntryText(255, "x"), "COM255 (x)");
}
