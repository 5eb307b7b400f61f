#include <gtest/gtest.h>

#include "editor/FormTable.h"

namespace {

ConfigBlock blockWith(std::initializer_list<std::pair<std::size_t, unsigned>> bytes) {
    ConfigBlock block = demoBlock();
    for (const auto& [offset, value] : bytes) {
        block.setByte(offset, value);
    }
    return block;
}

TEST(FormTable, ListsHaveTheirIdsAndEntriesInOrder) {
    EXPECT_EQ(formListInfo(P1Baud).controlId, 1005);
    EXPECT_EQ(formListInfo(P2TxXonXoff).controlId, 1026);
    EXPECT_EQ(formListInfo(AdeModeList).controlId, 1004);
    const FormListInfo& baud = formListInfo(P2Baud);
    ASSERT_EQ(baud.entryCount, 21);
    EXPECT_STREQ(baud.entries[0], "30");
    EXPECT_STREQ(baud.entries[6], "134.5");
    EXPECT_STREQ(baud.entries[16], "9600");
    EXPECT_STREQ(baud.entries[20], "115200");
    EXPECT_STREQ(formListInfo(P1Parity).entries[2], "odd");
    EXPECT_STREQ(formListInfo(AdeModeList).entries[3], "off");
    EXPECT_STREQ(formListInfo(P1RxXonXoff).entries[1], "enabled");
}

TEST(FormTable, BlockToFormForEveryList) {
    const ConfigBlock block = blockWith({{Offset::p1Baud, 20},
                                         {Offset::p1WordLength, 2},
                                         {Offset::p1Parity, 3},
                                         {Offset::p1StopBits, 1},
                                         {Offset::p1XonXoff, 2},
                                         {Offset::p2Baud, 0},
                                         {Offset::p2WordLength, 3},
                                         {Offset::p2Parity, 1},
                                         {Offset::p2StopBits, 0},
                                         {Offset::p2XonXoff, 1},
                                         {Offset::adeMode, 1}});
    const FormValues form = formFromBlock(block);
    const FormValues expected{20, 0, 2, 1, /*RX*/ 0, /*TX*/ 1, 0, 1, 0, 0, 1, 0, 1};
    EXPECT_EQ(form, expected);
}

TEST(FormTable, FormToBlockForEveryListAndNothingElse) {
    ConfigBlock block = demoBlock();
    const FormValues form{3, 0, 2, 1, /*RX*/ 1, /*TX*/ 0, 19, 1, 1, 1, 1, 1, 0};
    formToBlock(form, block);
    EXPECT_EQ(block.byte(Offset::p1Baud), 3);
    EXPECT_EQ(block.byte(Offset::p1WordLength), 2);
    EXPECT_EQ(block.byte(Offset::p1Parity), 3);
    EXPECT_EQ(block.byte(Offset::p1StopBits), 1);
    EXPECT_EQ(block.byte(Offset::p1XonXoff), 1);  // RX enabled, TX disabled
    EXPECT_EQ(block.byte(Offset::p2Baud), 19);
    EXPECT_EQ(block.byte(Offset::p2WordLength), 3);
    EXPECT_EQ(block.byte(Offset::p2Parity), 2);
    EXPECT_EQ(block.byte(Offset::p2StopBits), 1);
    EXPECT_EQ(block.byte(Offset::p2XonXoff), 3);
    EXPECT_EQ(block.byte(Offset::adeMode), 0);
    // Device fields and mode parameters are not the form's business.
    ConfigBlock untouched = demoBlock();
    formToBlock(form, untouched);
    for (std::size_t i : {Offset::serialNumber, Offset::portInterfaces, Offset::m2Address,
                          Offset::m2Timeout, Offset::m2LeadIn, Offset::productType,
                          Offset::m1TurnOffDelay, Offset::m1DriverAlwaysOn}) {
        EXPECT_EQ(untouched.byte(i), demoBlock().byte(i)) << i;
    }
}

TEST(FormTable, CodesNoEntryStandsForShowNothingAndSurviveAnUpdate) {
    const ConfigBlock odd = blockWith({{Offset::p1Baud, 21},
                                       {Offset::p1WordLength, 0},
                                       {Offset::p1Parity, 0},
                                       {Offset::p1StopBits, 255},
                                       {Offset::p1XonXoff, 6},
                                       {Offset::p2WordLength, 4},
                                       {Offset::p2Parity, 4},
                                       {Offset::adeMode, 4}});
    const FormValues form = formFromBlock(odd);
    EXPECT_EQ(form[P1Baud], -1);
    EXPECT_EQ(form[P1WordLength], -1);
    EXPECT_EQ(form[P1Parity], -1);
    EXPECT_EQ(form[P1StopBits], -1);
    EXPECT_EQ(form[P1RxXonXoff], 0);
    EXPECT_EQ(form[P1TxXonXoff], -1);  // 6 >> 1 is 3: no such entry
    EXPECT_EQ(form[P2WordLength], -1);
    EXPECT_EQ(form[P2Parity], -1);
    EXPECT_EQ(form[AdeModeList], -1);

    ConfigBlock written = odd;
    formToBlock(form, written);
    EXPECT_EQ(written, odd);

    // The selected half of an Xon/Xoff byte still applies; the other half's bits stay.
    FormValues edited = form;
    edited[P1RxXonXoff] = 1;
    formToBlock(edited, written);
    EXPECT_EQ(written.byte(Offset::p1XonXoff), 7);
    edited[P1TxXonXoff] = 0;
    formToBlock(edited, written);
    EXPECT_EQ(written.byte(Offset::p1XonXoff), 1);
}

}  // namespace
