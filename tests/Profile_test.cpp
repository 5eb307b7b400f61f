#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Profile.h"

namespace {

struct ScratchDir {
    std::string path = testing::TempDir() + "/profile_test.XXXXXX";
    ScratchDir() {
        if (!mkdtemp(&path[0])) {
            path.clear();
        }
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

void writeRaw(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string readRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

long entryCount(const std::string& dir) {
    return std::distance(std::filesystem::directory_iterator(dir), {});
}

}  // namespace

TEST(ProfileRead, NamesAndLineStructure) {
    const ProfileFile p(
        "top = 1\n[ Main ]\nPort=3\nport=4\nflag\nFlag=9\n; hidden=1\n[Main]\nextra=1\n"
        "[x]y]\nk=v ;x\n[broken=1\n");
    EXPECT_EQ(p.getString("", "TOP", "d", 64), "1");
    EXPECT_EQ(p.getString("MAIN", "PORT", "d", 64), "3");
    EXPECT_EQ(p.getString("main", "flag", "d", 64), "d");
    EXPECT_EQ(p.getString("Main", "extra", "d", 64), "d");
    EXPECT_EQ(p.getString("Main", "; hidden", "d", 64), "d");
    EXPECT_EQ(p.getString("x]y", "k", "d", 64), "v ;x");
    EXPECT_EQ(p.getString("x]y", "[broken", "d", 64), "1");
    EXPECT_FALSE(p.value("x", "k").has_value());

    const ProfileFile cr("[A]\ra=1\r\x1a b = 2 \t\r");
    EXPECT_EQ(cr.getString("a", "b", "d", 64), "2");
    const ProfileFile nul(std::string("[A]\nx=\0\x01\xff\n\0\nk=5", 15));
    EXPECT_EQ(nul.getInt("A", "k", 0), 5u);
}

TEST(ProfileRead, QuotesTruncationAndIntegers) {
    const ProfileFile p(
        "[s]\nq=\"abcdef\"\nmixed=\"ab'\nlone=\"\nempty=''\na=42A\nb=B42\nc=-1\nd= +7\n"
        "e=4294967297\nf=\"12\"\nlong=000000000000000000000000000009\nfits="
        "00000000000000000000000000009\nblank=\n");
    EXPECT_EQ(p.getString("s", "q", "", 4), "abc");
    EXPECT_EQ(p.getString("s", "q", "", 0), "");
    EXPECT_EQ(p.getString("s", "mixed", "", 64), "\"ab'");
    EXPECT_EQ(p.getString("s", "lone", "", 64), "\"");
    EXPECT_EQ(p.getString("s", "missing", "default", 4), "def");
    EXPECT_EQ(p.getInt("s", "a", 5), 42u);
    EXPECT_EQ(p.getInt("s", "b", 5), 0u);
    EXPECT_EQ(p.getInt("s", "c", 5), 4294967295u);
    EXPECT_EQ(p.getInt("s", "d", 5), 7u);
    EXPECT_EQ(p.getInt("s", "e", 5), 1u);
    EXPECT_EQ(p.getInt("s", "f", 5), 12u);
    EXPECT_EQ(p.getInt("s", "long", 5), 0u);  // the 9 is the 30th character
    EXPECT_EQ(p.getInt("s", "fits", 5), 9u);
    EXPECT_EQ(p.getInt("s", "blank", 5), 5u);
    EXPECT_EQ(p.getInt("s", "empty", -2), 4294967294u);
}

TEST(ProfileRead, Files) {
    const ScratchDir scratch;
    const std::string& dir = scratch.path;
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(getPrivateProfileString("a", "b", "none", 64, dir + "/missing.ini"), "none");
    EXPECT_EQ(getPrivateProfileInt("a", "b", 3, dir), 3u);  // a folder reads as empty

    writeRaw(dir + "/big.ini", "[a]\r\nfirst=1\r\n" + std::string(1 << 20, ';') + "\nlate=2\n");
    EXPECT_EQ(getPrivateProfileInt("a", "first", 0, dir + "/big.ini"), 1u);
    EXPECT_EQ(getPrivateProfileInt("a", "late", 0, dir + "/big.ini"), 0u);
    // Writing back only the part that was read would lose the rest.
    EXPECT_FALSE(writePrivateProfileString("a", "first", "2", dir + "/big.ini"));
    EXPECT_EQ(getPrivateProfileInt("a", "first", 0, dir + "/big.ini"), 1u);
}

TEST(ProfileWrite, EditsOnlyTheOneLine) {
    const ScratchDir scratch;
    const std::string& dir = scratch.path;
    ASSERT_FALSE(dir.empty());
    const std::string file = dir + "/vx.ini";
    writeRaw(file,
             "; top\r[Unknown]\rx = 1\r[Main]\r  Port =  3 \r; note\r\r[Main]\rport=8\rLast=1");
    EXPECT_TRUE(writePrivateProfileString("main", "PORT", "5", file));
    EXPECT_EQ(readRaw(file),
              "; top\r[Unknown]\rx = 1\r[Main]\rPort=5\r; note\r\r[Main]\rport=8\rLast=1");

    EXPECT_TRUE(writePrivateProfileString("Main", "baud", "9600", file));
    EXPECT_TRUE(writePrivateProfileString("New", "empty", "", file));
    EXPECT_EQ(readRaw(file),
              "; top\r[Unknown]\rx = 1\r[Main]\rPort=5\r; note\rbaud=9600\r\r[Main]\rport=8\r"
              "Last=1\r[New]\rempty=\r");

    writeRaw(file, "[A]\nk=1");
    EXPECT_TRUE(writePrivateProfileString("A", "n", "2", file));
    EXPECT_EQ(readRaw(file), "[A]\nk=1\nn=2\n");

    writeRaw(file, "lead=1\n\n[A]\nflag\n");
    EXPECT_TRUE(writePrivateProfileString("A", "Flag", "on", file));
    EXPECT_TRUE(writePrivateProfileString("", "k", "v", file));
    EXPECT_EQ(readRaw(file), "lead=1\nk=v\n\n[A]\nflag=on\n");
    EXPECT_EQ(getPrivateProfileString("a", "flag", "", 64, file), "on");

    // New lines follow the file's first line ending.
    writeRaw(file, "[A]\r\nk=1\nj=2\n");
    EXPECT_TRUE(writePrivateProfileString("B", "n", "3", file));
    EXPECT_EQ(readRaw(file), "[A]\r\nk=1\nj=2\n[B]\r\nn=3\r\n");
}

TEST(ProfileWrite, SameValueLeavesFileAlone) {
    const ScratchDir scratch;
    const std::string& dir = scratch.path;
    ASSERT_FALSE(dir.empty());
    const std::string file = dir + "/vx.ini";
    writeRaw(file, "[A]\nk =  value\nq=\"x\"\n");
    const ino_t before = inodeOf(file);
    EXPECT_TRUE(writePrivateProfileString("a", "K", "value", file));
    EXPECT_TRUE(writePrivateProfileString("A", "q", "x", file));
    EXPECT_EQ(readRaw(file), "[A]\nk =  value\nq=\"x\"\n");
    EXPECT_EQ(inodeOf(file), before);  // a rewrite would have replaced the file
}

TEST(ProfileWrite, CreatesFoldersFollowsLinksAndFailsSafely) {
    const ScratchDir scratch;
    const std::string& dir = scratch.path;
    ASSERT_FALSE(dir.empty());
    const std::string nested = dir + "/a/b/vx.ini";
    EXPECT_TRUE(writePrivateProfileString("S", "k", "1", nested));
    EXPECT_EQ(readRaw(nested), "[S]\nk=1\n");

    const std::string link = dir + "/link.ini";
    ASSERT_EQ(symlink("a/b/vx.ini", link.c_str()), 0);
    EXPECT_TRUE(writePrivateProfileString("S", "k", "2", link));
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readRaw(nested), "[S]\nk=2\n");

    EXPECT_FALSE(writePrivateProfileString("S", "k", "1", nested + "/under/x.ini"));
    EXPECT_FALSE(writePrivateProfileString("S", "k", "two\nlines", nested));
    EXPECT_FALSE(writePrivateProfileString("S", "k=", "1", nested));
    EXPECT_FALSE(writePrivateProfileString("S]", "k", "1", nested));

    // A write that fails halfway must leave the old file and no leftovers.
    const int entriesBefore = entryCount(dir + "/a/b");
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 8;
    auto previous = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = writePrivateProfileString("S", "k", "a longer value", nested);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(readRaw(nested), "[S]\nk=2\n");
    EXPECT_EQ(entryCount(dir + "/a/b"), entriesBefore);
}

// Whatever the writer accepts must read back as given, and leave every other key as it read.
TEST(ProfileWrite, AcceptedWritesReadBackAndRefusedOnesChangeNothing) {
    const std::string text = "\xEF\xBB\xBF[CommPort]\nPort=comm1\n[Other]\nx = 1\n[b]\n";
    struct Case {
        const char* section;
        const char* key;
        const char* value;
        bool accepted;
    };
    const Case cases[] = {
        {"CommPort", "Port", "comm2", true},
        {"Other", "y", "  leading", true},
        {"Other", "y", "trailing\t", true},
        {"Other", "y", "\"quoted\"", true},
        {"Other", "y", "'", true},
        {"Other", "y", "a]b", true},
        {"Other", "y", "", true},
        {"x[y", "k", "v", true},
        {"Other", "[k", "v]", false},
        {"Other", " k", "v", false},
        {"Other", "k ", "v", false},
        {"Other", ";k", "v", false},
        {"Other", "", "v", false},
        {"", "\xEF\xBB\xBFk", "v", false},
        {"a]b", "k", "v", false},
        {" b", "k", "v", false},
        {"Other", "k", "two\rlines", false},
    };
    const ProfileFile before(text);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + "=" + c.value);
        const std::optional<std::string> after = profileTextWith(text, c.section, c.key, c.value);
        ASSERT_EQ(after.has_value(), c.accepted);
        if (!after) {
            continue;
        }
        const ProfileFile read(*after);
        EXPECT_EQ(read.value(c.section, c.key), std::optional<std::string>(c.value));
        for (const auto& [section, key] : before.keys()) {
            if (!(section == c.section && key == c.key)) {
                EXPECT_EQ(read.value(section, key), before.value(section, key)) << key;
            }
        }
        // The mark stays in front and the first section stays visible.
        EXPECT_EQ(after->compare(0, 3, "\xEF\xBB\xBF"), 0);
    }
    EXPECT_EQ(before.value("commport", "port"), std::optional<std::string>("comm1"));
    // A write into the first section does not add a second one after the mark.
    EXPECT_EQ(*profileTextWith(text, "CommPort", "Port", "comm3"),
              "\xEF\xBB\xBF[CommPort]\nPort=comm3\n[Other]\nx = 1\n[b]\n");
    EXPECT_EQ(*profileTextWith("\xEF\xBB\xBF", "", "k", "v"), "\xEF\xBB\xBFk=v\n");
}

TEST(ProfileRead, SpecialFilesReadAsEmptyAtOnceAndAreNotWritten) {
    const ScratchDir scratch;
    ASSERT_FALSE(scratch.path.empty());
    const std::string fifo = scratch.path + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = scratch.path + "/zero.ini";
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    alarm(10);  // a read that blocks ends the test run instead of hanging it
    for (const std::string& path : {fifo, zero, scratch.path}) {
        SCOPED_TRACE(path);
        // Opening a FIFO for reading used to wait for a writer that never comes.
        EXPECT_EQ(getPrivateProfileString("S", "k", "default", 64, path), "default");
        EXPECT_FALSE(writePrivateProfileString("S", "k", "1", path));
    }
    alarm(0);
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
