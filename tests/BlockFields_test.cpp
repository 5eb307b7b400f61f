#include <gtest/gtest.h>

#include "editor/BlockFields.h"
#include "editor/FormTable.h"

namespace {

const BlockField& field(const char* name) {
    const BlockField* found = findField(name);
    EXPECT_NE(found, nullptr) << name;
    return *found;
}

bool set(ConfigBlock& block, const char* name, const char* value) {
    std::string error;
    return setField(block, field(name), value, error);
}

TEST(BlockFields, EveryListEntrySetsTheCodeTheWindowStoresAndReadsBackAsItsWords) {
    for (const BlockField& f : blockFields()) {
        if (f.kind != FieldKind::List) {
            continue;
        }
        const FormListInfo& list = formListInfo(static_cast<FormList>(f.list));
        for (int i = 0; i < list.entryCount; ++i) {
            ConfigBlock block;
            std::string error;
            ASSERT_TRUE(setField(block, f, list.entries[i], error)) << f.name << error;
            EXPECT_EQ(fieldText(block, f), list.entries[i]) << f.name;
            // The main window's own mapping agrees on the byte.
            FormValues form = initialForm();
            form[static_cast<FormList>(f.list)] = i;
            ConfigBlock byWindow;
            formToBlock(form, byWindow);
            EXPECT_EQ(block.byte(f.offset), byWindow.byte(f.offset)) << f.name << " " << i;
        }
    }
}

TEST(BlockFields, ValuesAreTakenInAnyCaseAndRefusedWithTheValidOnesNamed) {
    ConfigBlock block;
    EXPECT_TRUE(set(block, "port2.parity", "EVEN"));
    EXPECT_EQ(block.byte(Offset::p2Parity), 2);
    EXPECT_TRUE(set(block, "mode1.driver", "rs422"));
    EXPECT_EQ(block.byte(Offset::m1DriverAlwaysOn), 1);
    EXPECT_TRUE(set(block, "mode1.driver", "ADE Controlled (RS485)"));
    EXPECT_EQ(block.byte(Offset::m1DriverAlwaysOn), 0);
    EXPECT_TRUE(set(block, "mode2.timeout", "65535"));
    EXPECT_EQ(block.m2Timeout(), 65535);
    EXPECT_TRUE(set(block, "mode2.address", "00042"));
    EXPECT_EQ(block.byte(Offset::m2Address), 42);

    const ConfigBlock before = block;
    std::string error;
    EXPECT_FALSE(setField(block, field("port2.parity"), "mark", error));
    EXPECT_EQ(error, "\"mark\" is not a value of port2.parity; its values are none, even, odd");
    EXPECT_FALSE(setField(block, field("mode2.address"), "256", error));
    EXPECT_EQ(error, "\"256\" is out of range for mode2.address; its values are 0 to 255");
    EXPECT_FALSE(setField(block, field("mode2.timeout"), "99999999999999999999", error));
    EXPECT_EQ(error,
              "\"99999999999999999999\" is out of range for mode2.timeout; its values are 0 to "
              "65535");
    for (const char* bad : {"", "-1", "+5", " 5", "5 ", "0x10", "1e2"}) {
        EXPECT_FALSE(setField(block, field("mode2.leadIn"), bad, error)) << bad;
    }
    EXPECT_FALSE(setField(block, field("port1.baud"), "9600 ", error));
    EXPECT_EQ(block, before) << "a refused value changes nothing";
    EXPECT_EQ(findField("port3.parity"), nullptr);
    EXPECT_EQ(findField("serialNumber"), nullptr) << "the device's own fields are not set";
}

TEST(BlockFields, XonHalvesKeepTheOtherBits) {
    ConfigBlock block;
    block.setByte(Offset::p1XonXoff, 0xF1);
    EXPECT_EQ(fieldText(block, field("port1.rxXonXoff")), "enabled");
    EXPECT_EQ(fieldText(block, field("port1.txXonXoff")), "disabled");
    EXPECT_TRUE(set(block, "port1.txXonXoff", "enabled"));
    EXPECT_EQ(block.byte(Offset::p1XonXoff), 0xF3);
    EXPECT_TRUE(set(block, "port1.rxXonXoff", "disabled"));
    EXPECT_EQ(block.byte(Offset::p1XonXoff), 0xF2);
}

TEST(BlockFields, CodesNoEntryStandsFor) {
    ConfigBlock block;
    block.setByte(Offset::p1Parity, 0);
    block.setByte(Offset::p1Baud, 21);
    block.setByte(Offset::adeMode, 200);
    EXPECT_EQ(fieldText(block, field("port1.parity")), "code 0");
    EXPECT_EQ(fieldText(block, field("port1.baud")), "code 21");
    EXPECT_EQ(fieldJson(block, field("mode")), "null");
    EXPECT_EQ(fieldJson(block, field("port1.baud")), "null");
}

TEST(BlockFields, StoredDifferencesNameEachFieldAndLeaveTheDevicesOwnOut) {
    ConfigBlock sent = demoBlock();
    ConfigBlock held = sent;
    EXPECT_TRUE(storedDifferences(sent, held).empty());

    // The device's own fields and the checksum are the device's business.
    held.setWord(Offset::serialNumber, 999);
    held.setByte(Offset::portInterfaces, 3);
    held.setByte(Offset::productType, 0);
    held.setByte(Offset::checksum, 0x55);
    held.versionTag = {'v', '1', '0', '9'};
    EXPECT_TRUE(storedDifferences(sent, held).empty());

    set(sent, "port2.parity", "even");
    set(held, "port2.parity", "none");
    set(sent, "mode2.timeout", "500");
    sent.setByte(40, 0x12);
    held.setByte(Offset::p1XonXoff, held.byte(Offset::p1XonXoff) | 0x08);
    sent.setByte(Offset::m1DriverAlwaysOn, 1);
    held.setByte(Offset::m1DriverAlwaysOn, 2);
    const std::vector<std::string> expected{
        "Port 2 Parity: sent even, the VX310 holds none",
        "Mode 1 Driver: sent Always Enabled (RS422) (code 1), the VX310 holds Always Enabled "
        "(RS422) (code 2)",
        "Mode 2 Timeout (ms): sent 500, the VX310 holds 1000",
        "Byte 13: sent 0x00, the VX310 holds 0x08",
        "Byte 40: sent 0x12, the VX310 holds 0x00",
    };
    EXPECT_EQ(storedDifferences(sent, held), expected);
    EXPECT_EQ(notStoredText({expected[0]}),
              "The VX310 did not store the configuration as sent:\n"
              "Port 2 Parity: sent even, the VX310 holds none");
    EXPECT_EQ(plannedChanges(held, sent)[0], "Port 2 Parity: none -> even");
}

TEST(BlockFields, ReportAndJsonKeepDeviceTextPlain) {
    ConfigBlock block = demoBlock();
    block.versionTag = {'v', '1', '"', '\n'};
    EXPECT_EQ(versionText(block), "v1.\"?");
    const std::string json = blockJson(block, true);
    EXPECT_NE(json.find("\"version\": \"v1.\\\"?\""), std::string::npos) << json;
    EXPECT_EQ(jsonString(std::string("a\\b\x01", 4)), "\"a\\\\b\\u0001\"");
    EXPECT_NE(json.find("\"serialNumber\": 10910"), std::string::npos) << json;
    EXPECT_NE(json.find("\"port1\": {\n    \"interface\": \"RS422/485\",\n    \"baud\": "),
              std::string::npos)
        << json;
    block.setByte(Offset::productType, 0);
    EXPECT_NE(blockJson(block, true).find("\"validProgram\": null"), std::string::npos);
    EXPECT_NE(blockReport(block, true).find("Valid Program: N/A\n"), std::string::npos);
}

}  // namespace
