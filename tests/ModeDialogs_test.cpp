#include <gtest/gtest.h>

#include "TestSupport.h"
#include "editor/ModeDialogs.h"

namespace {

Notice fieldMessage(const std::string& text) {
    return {text, kProgramName, NoticeIcon::Exclamation, NoticeButtons::Ok};
}

const Notice kKeepQuestion{ModeText::kKeepChanges, kProgramName, NoticeIcon::Question,
                           NoticeButtons::YesNo};

ConfigBlock blockWith(std::initializer_list<std::pair<std::size_t, unsigned>> bytes) {
    ConfigBlock block = demoBlock();
    for (const auto& [offset, value] : bytes) {
        block.setByte(offset, value);
    }
    return block;
}

TEST(UnsignedText, ReadsAsTheDialogFrameworkDoes) {
    struct Row {
        const char* text;
        std::optional<std::uint32_t> value;
    };
    const Row rows[] = {
        {"42", 42u},         {" 42abc", 42u}, {"\t+7", 7u},
        {"-1", 4294967295u}, {"-0", 0u},      {"4294967297", 4294967295u},
        {"abc", {}},         {"", {}},        {"  ", {}},
        {"-", {}},           {"+ 5", {}},     {"0x10", 0u},
        {"00255", 255u},     {"1 2", 1u},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(readUnsignedText(row.text), row.value) << '"' << row.text << '"';
    }
    // Only the first 63 characters are read.
    EXPECT_EQ(readUnsignedText(std::string(62, ' ') + "9"), 9u);
    EXPECT_EQ(readUnsignedText(std::string(63, ' ') + "9"), std::nullopt);
}

TEST(UnsignedFields, FirstFailureStopsTheExchange) {
    RecordingNotifier notes;
    std::string a = "7", b = "256", c = "9";
    std::uint32_t va = 0, vb = 1, vc = 2;
    EXPECT_EQ(readUnsignedFields({{&a, 255, &va}, {&b, 255, &vb}, {&c, 255, &vc}}, notes), 1u);
    EXPECT_EQ(va, 7u);
    EXPECT_EQ(vb, 256u) << "a range failure keeps the number it read";
    EXPECT_EQ(vc, 2u) << "fields after the failure keep their values";
    ASSERT_EQ(notes.notices.size(), 1u);
    EXPECT_EQ(notes.notices[0], fieldMessage("Please enter an integer between 0 and 255."));

    a = "x";
    EXPECT_EQ(readUnsignedFields({{&a, 255, &va}}, notes), 0u);
    EXPECT_EQ(va, 7u);
    EXPECT_EQ(notes.notices.back(), fieldMessage("Please enter a positive integer."));

    std::string t = "65536";
    EXPECT_EQ(readUnsignedFields({{&t, 65535, &va}}, notes), 0u);
    EXPECT_EQ(notes.notices.back(), fieldMessage("Please enter an integer between 0 and 65535."));
    t = "65535";
    EXPECT_EQ(readUnsignedFields({{&t, 65535, &va}}, notes), std::nullopt);
    EXPECT_EQ(va, 65535u);
}

// A number too large for 32 bits must not wrap into the range (4294967306 is not 10); a minus
// sign still wraps and so lands far outside it.
TEST(UnsignedFields, NumbersPastThirtyTwoBitsAreOutOfRangeInBothDialogs) {
    const std::string range255 = "Please enter an integer between 0 and 255.";
    const std::string range65535 = "Please enter an integer between 0 and 65535.";
    for (const char* text :
         {"4294967296", "4294967306", "99999999999999999999", "-4294967296", "-1", "4294967295"}) {
        SCOPED_TRACE(text);
        RecordingNotifier notes;
        ConfigBlock block = demoBlock();
        Mode1Timing timing(block, notes);
        timing.takeRows({"1", text, "3", "4", "5"});
        EXPECT_FALSE(timing.ok());
        EXPECT_EQ(timing.screen().focus.controlId, 1051);
        EXPECT_EQ(notes.notices, std::vector<Notice>{fieldMessage(range255)});

        Mode2Config mode2(block, notes);
        mode2.takeControls("1", text, "1000", true);
        EXPECT_FALSE(mode2.ok());
        EXPECT_EQ(notes.notices.back(), fieldMessage(range255)) << "lead-in byte";
        mode2.takeControls("1", "100", text, true);
        EXPECT_FALSE(mode2.ok());
        EXPECT_EQ(mode2.screen().focus.controlId, Mode2Config::kTimeoutId);
        EXPECT_EQ(notes.notices.back(), fieldMessage(range65535));
        mode2.takeControls(text, "100", "1000", true);
        EXPECT_FALSE(mode2.ok());
        EXPECT_EQ(mode2.screen().focus.controlId, Mode2Config::kAddressId);
        EXPECT_EQ(notes.notices.back(), fieldMessage(range255));
        EXPECT_EQ(notes.notices.size(), 4u) << "nothing is asked";
        EXPECT_EQ(block, demoBlock());
    }
}

TEST(Mode1Config, DriverChoiceFollowsTheBlockAndAsksOnlyOnAChange) {
    RecordingNotifier notes;
    ConfigBlock block = blockWith({{Offset::m1DriverAlwaysOn, 7}, {Offset::portInterfaces, 1}});
    Mode1Config rules(block, notes);
    EXPECT_TRUE(rules.driverEnabled());
    EXPECT_EQ(rules.driverChoice(), Mode1Config::kAlwaysEnabled);
    rules.ok(Mode1Config::kAlwaysEnabled);
    EXPECT_TRUE(notes.notices.empty());
    EXPECT_EQ(block.byte(Offset::m1DriverAlwaysOn), 7) << "unchanged choice stores nothing";

    const ConfigBlock before = block;
    notes.answers = {NoticeAnswer::No};
    rules.ok(Mode1Config::kAdeControlled);
    EXPECT_EQ(notes.notices, std::vector<Notice>{kKeepQuestion});
    EXPECT_EQ(block, before) << "No leaves the block as it was";

    rules.ok(Mode1Config::kAdeControlled);  // Yes
    EXPECT_EQ(block.byte(Offset::m1DriverAlwaysOn), 0);
    Mode1Config again(block, notes);
    EXPECT_EQ(again.driverChoice(), Mode1Config::kAdeControlled);
    again.ok(Mode1Config::kAlwaysEnabled);
    EXPECT_EQ(block.byte(Offset::m1DriverAlwaysOn), 1);

    ConfigBlock rs232 = blockWith({{Offset::portInterfaces, 2}});
    EXPECT_FALSE(Mode1Config(rs232, notes).driverEnabled());
}

TEST(Mode1Timing, RowsAreCheckedInOrderAndTheFailingRowGetsTheFocus) {
    RecordingNotifier notes;
    ConfigBlock block = demoBlock();  // 181, 244, 19, 34, 64
    const ConfigBlock before = block;
    Mode1Timing rules(block, notes);
    EXPECT_EQ(rules.screen().rows[0], "181");
    EXPECT_EQ(rules.screen().rows[4], "64");

    rules.takeRows({"10", "abc", "-1", "1", "2"});
    EXPECT_FALSE(rules.ok());
    EXPECT_EQ(rules.screen().focus.controlId, 1051);
    EXPECT_EQ(notes.notices, std::vector<Notice>{fieldMessage("Please enter a positive integer.")});
    rules.takeRows({"10", "20", "-1", "1", "2"});
    EXPECT_FALSE(rules.ok());
    EXPECT_EQ(rules.screen().focus.controlId, 1052);
    EXPECT_EQ(notes.notices.back(), fieldMessage("Please enter an integer between 0 and 255."));
    EXPECT_EQ(block, before) << "a failed OK stores nothing";
    EXPECT_EQ(notes.notices.size(), 2u) << "and asks nothing";

    notes.answers = {NoticeAnswer::No};
    rules.takeRows({"1", "2", "3", "4", "5"});
    EXPECT_TRUE(rules.ok());
    EXPECT_EQ(notes.notices.back(), kKeepQuestion);
    EXPECT_EQ(block, before);
}

TEST(Mode1Timing, DefaultsAreStoredOnlyAfterOkAndYes) {
    RecordingNotifier notes;
    ConfigBlock block = demoBlock();
    {
        Mode1Timing rules(block, notes);
        rules.setDefaults();
        EXPECT_EQ(rules.screen().rows,
                  (std::array<std::string, 5>{"116", "176", "206", "221", "236"}));
        // Cancel: the dialog goes without OK.
    }
    EXPECT_EQ(block, demoBlock());
    Mode1Timing rules(block, notes);
    rules.setDefaults();
    EXPECT_TRUE(rules.ok());
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        EXPECT_EQ(block.byte(Offset::m1TurnOffDelay + i), kDefaultTurnOffDelays[i]);
    }
    EXPECT_EQ(notes.notices.size(), 1u);
    // With the defaults already held, OK asks nothing.
    Mode1Timing same(block, notes);
    same.setDefaults();
    EXPECT_TRUE(same.ok());
    EXPECT_EQ(notes.notices.size(), 1u);
}

TEST(Mode2Config, OpensWithTheBoxFollowingTheLeadInAndAsksOnlyOnAChange) {
    RecordingNotifier notes;
    ConfigBlock block = demoBlock();  // address 1, lead-in 100, time-out 1000
    Mode2Config rules(block, notes);
    EXPECT_EQ(rules.screen().address, "1");
    EXPECT_EQ(rules.screen().leadIn, "100");
    EXPECT_EQ(rules.screen().timeout, "1000");
    EXPECT_TRUE(rules.screen().leadInChecked);
    EXPECT_TRUE(rules.screen().leadInEditEnabled);

    // The same three values ask nothing, whatever the box shows.
    rules.takeControls("1", "100", "1000", false);
    EXPECT_TRUE(rules.ok());
    EXPECT_TRUE(notes.notices.empty());

    ConfigBlock none = blockWith({{Offset::m2LeadIn, 0}});
    Mode2Config noLeadIn(none, notes);
    EXPECT_FALSE(noLeadIn.screen().leadInChecked);
    EXPECT_TRUE(noLeadIn.screen().leadInEditEnabled) << "the field starts enabled";
}

TEST(Mode2Config, LeadInReactions) {
    RecordingNotifier notes;
    ConfigBlock block = demoBlock();
    Mode2Config rules(block, notes);

    rules.takeControls("1", "100", "1000", false);  // the box just cleared
    rules.leadInClicked();
    EXPECT_EQ(rules.screen().leadIn, "0");
    EXPECT_FALSE(rules.screen().leadInEditEnabled);
    rules.takeControls("1", "0", "1000", true);  // ticked again
    rules.leadInClicked();
    EXPECT_EQ(rules.screen().leadIn, "100");
    EXPECT_TRUE(rules.screen().leadInEditEnabled);

    rules.takeControls("1", "7", "1000", true);
    rules.leadInClicked();
    EXPECT_EQ(rules.screen().leadIn, "7") << "a non-zero lead-in is kept when ticking";

    rules.takeControls("1", "0", "1000", true);
    rules.leadInLeft();
    EXPECT_FALSE(rules.screen().leadInChecked);
    EXPECT_FALSE(rules.screen().leadInEditEnabled);
    rules.takeControls("1", "12", "1000", false);
    rules.leadInLeft();
    EXPECT_TRUE(rules.screen().leadInChecked);
    EXPECT_TRUE(rules.screen().leadInEditEnabled);
    EXPECT_TRUE(notes.notices.empty());
}

TEST(Mode2Config, FailingFieldKeepsWhatWasTypedAndTakesTheFocus) {
    RecordingNotifier notes;
    ConfigBlock block = demoBlock();
    Mode2Config rules(block, notes);

    // OK writes nothing back: every field keeps its text, and nothing is stored or asked.
    rules.takeControls("7", "12", "70000", false);
    EXPECT_FALSE(rules.ok());
    EXPECT_EQ(notes.notices,
              std::vector<Notice>{fieldMessage("Please enter an integer between 0 and 65535.")});
    EXPECT_EQ(rules.screen().focus.controlId, Mode2Config::kTimeoutId);
    EXPECT_EQ(rules.screen().timeout, "70000");
    EXPECT_EQ(rules.screen().address, "7");
    EXPECT_EQ(rules.screen().leadIn, "12");
    EXPECT_FALSE(rules.screen().leadInChecked) << "the box as the user left it";
    rules.takeControls("seven", "12", "1000", true);
    EXPECT_FALSE(rules.ok());
    EXPECT_EQ(notes.notices.back(), fieldMessage("Please enter a positive integer."));
    EXPECT_EQ(rules.screen().focus.controlId, Mode2Config::kAddressId);
    EXPECT_EQ(rules.screen().address, "seven");
    rules.takeControls("300", "12", "65536", true);
    EXPECT_FALSE(rules.ok());
    EXPECT_EQ(rules.screen().focus.controlId, Mode2Config::kTimeoutId);
    rules.takeControls("300", "12", "65535", true);
    EXPECT_FALSE(rules.ok());
    EXPECT_EQ(rules.screen().focus.controlId, Mode2Config::kAddressId);
    EXPECT_EQ(rules.screen().address, "300");
    EXPECT_EQ(block, demoBlock());
    EXPECT_EQ(notes.notices.size(), 4u) << "no question after a failed check";

    // A reaction writes back the fields read before the failure; the failing one and the
    // ones after it keep their text. The exchange runs lead-in, time-out, address.
    rules.takeControls("x", " 12z", "abc", true);
    rules.leadInLeft();
    EXPECT_EQ(notes.notices.back(), fieldMessage("Please enter a positive integer."));
    EXPECT_EQ(rules.screen().focus.controlId, Mode2Config::kTimeoutId);
    EXPECT_EQ(rules.screen().leadIn, "12");
    EXPECT_EQ(rules.screen().timeout, "abc");
    EXPECT_EQ(rules.screen().address, "x");

    // A failing lead-in field stays enabled to take the focus, whatever the box shows.
    ConfigBlock none = blockWith({{Offset::m2LeadIn, 0}});
    Mode2Config noLeadIn(none, notes);
    noLeadIn.takeControls("1", "abc", "1000", false);
    noLeadIn.leadInLeft();
    EXPECT_EQ(noLeadIn.screen().focus.controlId, Mode2Config::kLeadInId);
    EXPECT_EQ(noLeadIn.screen().leadIn, "abc");
    EXPECT_TRUE(noLeadIn.screen().leadInEditEnabled);
    EXPECT_FALSE(noLeadIn.screen().leadInChecked);
    noLeadIn.takeControls("1", "300", "1000", true);  // the box just ticked
    noLeadIn.leadInClicked();
    EXPECT_EQ(notes.notices.back(), fieldMessage("Please enter an integer between 0 and 255."));
    EXPECT_EQ(noLeadIn.screen().focus.controlId, Mode2Config::kLeadInId);
    EXPECT_EQ(noLeadIn.screen().leadIn, "300");
    EXPECT_TRUE(noLeadIn.screen().leadInEditEnabled);
    EXPECT_EQ(none, blockWith({{Offset::m2LeadIn, 0}}));

    notes.answers = {NoticeAnswer::Yes};
    rules.takeControls("42", "12", "65535", true);
    EXPECT_TRUE(rules.ok());
    EXPECT_EQ(notes.notices.back(), kKeepQuestion);
    EXPECT_EQ(block.byte(Offset::m2Address), 42);
    EXPECT_EQ(block.byte(Offset::m2LeadIn), 12);
    EXPECT_EQ(block.m2Timeout(), 65535);
}

}  // namespace
