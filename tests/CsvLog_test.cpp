#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "cli/CsvLog.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            out.push_back(text.substr(at));
            break;
        }
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

TEST(CsvLog, FieldsAreQuotedOnlyWhenTheyMustBe) {
    EXPECT_EQ(csvField("plain text"), "plain text");
    EXPECT_EQ(csvField(""), "");
    EXPECT_EQ(csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(csvLine({"Unable to open file: \"a,b.vxc\"?", "x"}),
              "\"Unable to open file: \"\"a,b.vxc\"\"?\",x\r\n");
    EXPECT_EQ(isoTimeUtc(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(isoTimeUtc(1796785445), "2026-12-09T03:04:05Z");
}

TEST(CsvLog, HeaderOnceThenOneLineARun) {
    ScratchFolder folder;
    const std::string path = folder.path + "/units.csv";
    for (int run = 0; run < 2; ++run) {
        CsvLog log;
        std::string error;
        ASSERT_TRUE(log.open(path, error)) << error;
        ASSERT_TRUE(log.append({"t", "/dev/ttyUSB0", "4711", "v1.04", "set", "", "ok", ""}, error));
    }
    const std::vector<std::string> got = lines(readAll(path));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "time,device,serial,version,command,file,result,message");
    EXPECT_EQ(got[1], "t,/dev/ttyUSB0,4711,v1.04,set,,ok,");
    EXPECT_EQ(got[2], got[1]);

    // An existing file that holds lines of its own gets no header.
    const std::string other = folder.put("other.csv", "earlier\r\n");
    CsvLog log;
    std::string error;
    ASSERT_TRUE(log.open(other, error));
    ASSERT_TRUE(log.append({"a"}, error));
    EXPECT_EQ(readAll(other), "earlier\r\na\r\n");
}

// A record line is there whole or not at all, and never glued to what went before it.
TEST(CsvLog, AFullDiskLeavesNoFragmentAndTheNextLineStartsFresh) {
    ScratchFolder folder;
    const std::string unfinished = folder.put("cut.csv", "time,device\r\n2026,/dev/x");
    std::string error;
    {
        CsvLog log;
        ASSERT_TRUE(log.open(unfinished, error)) << error;
        ASSERT_TRUE(log.append({"a", "b"}, error)) << error;
    }
    EXPECT_EQ(readAll(unfinished), "time,device\r\n2026,/dev/x\r\na,b\r\n");

    const SmallDisk disk(folder.path, "size=64k");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    // The record ends 10 bytes short of a page; the rest of the disk is taken.
    const std::string path = disk.path + "/units.csv";
    const std::string earlier = std::string(4086 - 2, 'x') + "\r\n";
    std::ofstream(path, std::ios::binary) << earlier;
    {
        std::ofstream filler(disk.path + "/filler", std::ios::binary);
        const std::string chunk(512, 'f');
        while (filler.write(chunk.data(), chunk.size())) {
        }
    }
    CsvLog log;
    ASSERT_TRUE(log.open(path, error)) << error;
    const std::vector<std::string> record{"2026-12-09T03:04:05Z", "/dev/ttyUSB0",
                                          std::string(80, 's')};
    EXPECT_FALSE(log.append(record, error));
    EXPECT_EQ(readAll(path), earlier) << "no fragment of the line";
    std::filesystem::remove(disk.path + "/filler");
    EXPECT_TRUE(log.append(record, error)) << error;
    EXPECT_EQ(readAll(path), earlier + csvLine(record));
}

TEST(CsvLog, WhatIsNoRegularFileIsRefusedWithoutWaiting) {
    ScratchFolder folder;
    const std::string fifo = folder.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(10);  // opening a FIFO for writing would otherwise wait for a reader
    CsvLog log;
    std::string error;
    EXPECT_FALSE(log.open(fifo, error));
    EXPECT_FALSE(log.open(folder.path, error));
    EXPECT_FALSE(log.open(folder.path + "/missing/units.csv", error));
    EXPECT_EQ(error.rfind("Unable to write file: \"" + folder.path + "/missing/units.csv\"?", 0),
              0u)
        << error;
    alarm(0);
}

TEST(CsvLog, TwoProcessesAppendingToOneFileLoseAndMixNothing) {
    ScratchFolder folder;
    const std::string path = folder.path + "/shared.csv";
    constexpr int kLines = 100;
    // A long message, so that a line is written in more than one piece if it is not one write.
    const std::string message(3000, 'm');
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            for (int i = 0; i < kLines; ++i) {
                CsvLog log;
                std::string error;
                if (!log.open(path, error) ||
                    !log.append({std::to_string(c), std::to_string(i), "a,\"b\"", message},
                                error)) {
                    _exit(1);
                }
            }
            _exit(0);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<std::string> got = lines(readAll(path));
    ASSERT_EQ(got.size(), 1u + 2 * kLines);
    EXPECT_EQ(got[0], csvLine(kLogColumns).substr(0, csvLine(kLogColumns).size() - 2));
    std::set<std::string> seen;
    for (std::size_t i = 1; i < got.size(); ++i) {
        const std::size_t comma = got[i].find(',');
        const std::size_t second = got[i].find(',', comma + 1);
        ASSERT_NE(second, std::string::npos) << got[i].substr(0, 40);
        EXPECT_EQ(got[i].substr(second), ",\"a,\"\"b\"\"\"," + message);
        seen.insert(got[i].substr(0, second));
    }
    EXPECT_EQ(seen.size(), 2u * kLines) << "every line once";
}

}  // namespace
