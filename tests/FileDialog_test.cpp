#include <gtest/gtest.h>

#include "platform/FileDialog.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

TEST(FileDialogFilter, PairsUpToTheClosingBars) {
    EXPECT_EQ(filterEntries("VXC files (*.vxc)|*.vxc|All files (*.*)|*.*||"),
              (Entries{{"VXC files (*.vxc)", "*.vxc"}, {"All files (*.*)", "*.*"}}));
    EXPECT_EQ(filterEntries("Hex files (*.hex)|*.hex;*.ihx||ignored|*.x||"),
              (Entries{{"Hex files (*.hex)", "*.hex;*.ihx"}}));
}

TEST(FileDialogFilter, MalformedListsGiveWhatPairsUp) {
    EXPECT_TRUE(filterEntries("").empty());
    EXPECT_TRUE(filterEntries("||").empty());
    EXPECT_TRUE(filterEntries("Only a description").empty());
    EXPECT_EQ(filterEntries("A|*.a|B"), (Entries{{"A", "*.a"}}));
    EXPECT_EQ(filterEntries("A|*.a"), (Entries{{"A", "*.a"}}));
}

}  // namespace
