// The unit history: what a run leaves in it, what is refused, and two writers at once.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "cli/ExitStatus.h"
#include "cli/History.h"

namespace {

History::Run unitRun(const std::string& serial, const std::string& result,
                     const std::string& jobSha) {
    History::Run run;
    run.unit.serial = serial;
    run.unit.result = result;
    run.unit.code = result == "ok" ? kExitOk : kExitDevice;
    run.unit.time = "2026-12-10T08:00:00Z";
    run.unit.station = "bench 1";
    run.unit.operatorName = "anna";
    run.unit.job = jobSha.empty() ? "" : "Bus line";
    run.unit.jobSha256 = jobSha;
    run.unit.sent = {{"mode2.address", "7"}, {"port2.parity", "even"}};
    run.unit.readBack = {{"mode2.address", "7"}, {"port2.parity", "odd"}};
    run.device = "/dev/ttyUSB0";
    run.command = "load";
    return run;
}

TEST(History, ARunKeepsItsValuesAndTheLatestOkRunIsFoundByJob) {
    ScratchFolder folder;
    History history;
    std::string error;
    ASSERT_TRUE(history.open(folder.path + "/new/folder/history.sqlite", error)) << error;
    ASSERT_TRUE(history.record(unitRun("4711", "ok", "aaa"), error)) << error;
    const std::optional<std::int64_t> id = history.record(unitRun("4711", "error", "bbb"), error);
    ASSERT_TRUE(id) << error;
    ASSERT_TRUE(history.recordHook(*id, 0, "label printed", error)) << error;
    ASSERT_TRUE(history.record(unitRun("4712", "ok", ""), error)) << error;

    std::vector<History::Run> runs;
    ASSERT_TRUE(history.runs("4711", "", true, runs, error)) << error;
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].unit.result, "error") << "newest first";
    EXPECT_EQ(runs[0].hookStatus, 0);
    EXPECT_EQ(runs[0].hookOutput, "label printed");
    EXPECT_EQ(runs[1].unit.sent, (FieldValues{{"mode2.address", "7"}, {"port2.parity", "even"}}));
    EXPECT_EQ(runs[1].unit.readBack[1],
              (std::pair<std::string, std::string>{"port2.parity", "odd"}));
    EXPECT_EQ(runs[1].toolVersion, VXCONF_VERSION);
    const std::string story = historyText(runs, true);
    EXPECT_NE(story.find("port2.parity = even (read back odd)"), std::string::npos) << story;
    EXPECT_NE(historyJson(runs[0]).find("\"hook\":{\"status\":0,\"output\":\"label printed\"}"),
              std::string::npos);

    std::optional<History::Earlier> earlier;
    ASSERT_TRUE(history.lastOk("4711", "aaa", true, earlier, error));
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier->job, "Bus line");
    ASSERT_TRUE(history.lastOk("4711", "bbb", true, earlier, error));
    EXPECT_FALSE(earlier) << "its run under bbb failed";
    ASSERT_TRUE(history.lastOk("4711", "bbb", false, earlier, error));
    EXPECT_TRUE(earlier) << "under another job";
    ASSERT_TRUE(history.runs("", "2026-12-11T00:00:00Z", false, runs, error));
    EXPECT_TRUE(runs.empty());
}

TEST(History, AFileThatIsNoHistoryOrCannotBeMadeIsRefused) {
    ScratchFolder folder;
    std::string error;
    History text;
    EXPECT_FALSE(text.open(folder.put("notes.sqlite", std::string(4096, 'x')), error));
    EXPECT_NE(error.find("Unable to use the history"), std::string::npos) << error;
    History under;
    folder.put("file", "x");
    EXPECT_FALSE(under.open(folder.path + "/file/history.sqlite", error));
    History folderItself;
    EXPECT_FALSE(folderItself.open(folder.path, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    // A history never opened writes nothing, and says so.
    EXPECT_FALSE(under.record(unitRun("1", "ok", ""), error));
    EXPECT_NE(error.find("Unable to write the history"), std::string::npos);
}

TEST(History, TwoProcessesWritingAtOnceLoseNothing) {
    ScratchFolder folder;
    const std::string path = folder.path + "/history.sqlite";
    {
        History first;
        std::string error;
        ASSERT_TRUE(first.open(path, error)) << error;
    }
    constexpr int kRuns = 150;
    std::vector<pid_t> writers;
    for (int w = 0; w < 2; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            History history;
            std::string error;
            bool ok = history.open(path, error);
            for (int i = 0; ok && i < kRuns; ++i) {
                ok = history.record(unitRun(std::to_string(w * 1000 + i), "ok", "job"), error)
                         .has_value();
            }
            ::_exit(ok ? 0 : 1);
        }
        writers.push_back(pid);
    }
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    History history;
    std::string error;
    ASSERT_TRUE(history.open(path, error)) << error;
    std::vector<History::Run> runs;
    ASSERT_TRUE(history.runs("", "", true, runs, error)) << error;
    EXPECT_EQ(runs.size(), 2u * kRuns);
    EXPECT_EQ(runs.front().unit.sent.size(), 2u);
}

}  // namespace
