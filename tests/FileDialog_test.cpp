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

TEST(FileDialogPath, RefusedWithAReasonWhenTheCallerCannotTakeIt) {
    FileDialogRequest request =
        fileRequest(FileDialogKind::Save, "Save It", "A|*.a||", "a", "/tmp", 0, 512);
    request.pathMustExist = true;
    const std::string fits = "/" + std::string(510, 'x');
    EXPECT_EQ(refusedPath(request, fits, "/", true), std::nullopt);
    const Notice tooLong{"The path is too long: at most 511 characters.", "Save It",
                         NoticeIcon::Exclamation, NoticeButtons::Ok};
    EXPECT_EQ(refusedPath(request, fits + "x", "/", true), tooLong);

    const Notice noFolder{"The folder \"/tmp/no such/folder\" does not exist.", "Save It",
                          NoticeIcon::Exclamation, NoticeButtons::Ok};
    EXPECT_EQ(refusedPath(request, "/tmp/no such/folder/f.a", "/tmp/no such/folder", false),
              noFolder);
    // Only a dialog that asks for an existing folder cares about it.
    request.pathMustExist = false;
    EXPECT_EQ(refusedPath(request, "/tmp/no such/f.a", "/tmp/no such", false), std::nullopt);
    request.pathCapacity = 0;
    EXPECT_EQ(refusedPath(request, std::string(5000, 'x'), "/", true), std::nullopt) << "no limit";
}

}  // namespace
