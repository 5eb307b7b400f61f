// The run on several units as the parent of each unit's process, with stand-ins for the
// units: processes that cannot start, die, or count the signals they are sent.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include <QTimer>

#include "TestSupport.h"
#include "cli/CsvLog.h"
#include "cli/History.h"
#include "station/GangRun.h"

namespace {

GangRun::Options standIn(const QString& program, const QStringList& arguments) {
    GangRun::Options options;
    options.program = program;
    options.programArguments = arguments;
    options.commandName = "read";
    return options;
}

// A unit whose process never starts, or dies without a word, is an error with its own record
// row; neither holds up the run.
TEST(GangRun, AUnitThatDoesNotStartOrDiesEndsAsAnErrorWithItsRecord) {
    ScratchFolder folder;
    CsvLog log;
    std::string error;
    ASSERT_TRUE(log.open(folder.path + "/units.csv", error)) << error;
    GangRun::Options options = standIn("/nonexistent/vxconf-cli", {"--unit-report"});
    options.log = &log;
    std::ostringstream out;
    std::ostringstream err;
    GangRun missing(options, out, err);
    missing.addUnit("COM1", {"-p", "1"}, "/dev/ttyS0");
    EXPECT_EQ(missing.exec(), kExitDevice);
    EXPECT_NE(missing.failed().front().message.find("the unit's process did not start"),
              std::string::npos)
        << err.str();

    options = standIn("/bin/sh", {"-c", "kill -KILL $$"});
    options.log = &log;
    GangRun killed(options, out, err);
    killed.addUnit("COM2", {"-p", "2"}, "/dev/ttyS1");
    EXPECT_EQ(killed.exec(), kExitDevice) << "not the signal's number";
    EXPECT_EQ(killed.failed().front().message, "the unit's process ended on signal 9 (Killed)");

    EXPECT_EQ(killed.unitsHeld(), 0u) << "an ended unit is let go";

    const std::string rows = readAll(folder.path + "/units.csv");
    EXPECT_NE(rows.find(",/dev/ttyS0,,,read,,error,the unit's process did not start"),
              std::string::npos)
        << rows;
    EXPECT_NE(rows.find(",/dev/ttyS1,,,read,,error,the unit's process ended on signal 9"),
              std::string::npos)
        << rows;
}

// An interrupt reaches each unit once: the units are stopping already when another comes.
TEST(GangRun, AnInterruptIsPassedOnToEachUnitOnce) {
    ScratchFolder folder;
    const std::string script = "trap 'echo int >> " + folder.path +
                               "/got; sleep 1; exit 130' INT; touch " + folder.path +
                               "/ready; while :; do sleep 0.05; done";
    std::ostringstream out;
    std::ostringstream err;
    GangRun run(standIn("/bin/sh", {"-c", QString::fromStdString(script), "unit"}), out, err);
    run.addUnit("COM1", {}, "");
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (std::filesystem::exists(folder.path + "/ready")) {
            poll.stop();
            std::raise(SIGINT);
            std::raise(SIGINT);
        }
    });
    poll.start(20);
    EXPECT_EQ(run.exec(), 130);
    EXPECT_EQ(readAll(folder.path + "/got"), "int\n");
}

// Units still waiting for their turn when the run is stopped never start.
TEST(GangRun, AUnitWaitingForItsTurnWhenStoppedNeverStarts) {
    ScratchFolder folder;
    std::ostringstream out;
    std::ostringstream err;
    GangRun run(
        standIn("/bin/sh", {"-c", QString::fromStdString("touch " + folder.path + "/started")}),
        out, err);
    run.addUnit("COM1", {"-p", "1"}, "/dev/ttyS0");
    run.addUnit("COM2", {"-p", "2"}, "/dev/ttyS1");
    run.stop();
    EXPECT_EQ(run.exec(), kExitSignalBase + SIGINT);
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/started"));
    ASSERT_EQ(run.failed().size(), 2u);
    EXPECT_EQ(run.failed().front().message, "not started: the run was stopped");
}

// A unit that speaks the exchange: its serial number is 470 and its port number; told to go,
// it reports one field sent and ends ok; refused, it ends as the run said.
GangRun::Options speakingUnits() {
    return standIn("/bin/sh", {"-c", R"sh(
while IFS= read -r line; do
    case "$line" in args*) set -- $line; port=$3 ;; start*) break ;; esac
done
printf 'serial\t470%s\tv1\n' "$port"
IFS= read -r answer
case "$answer" in
go*) printf 'sent\tmode2.address=7\nend\t0\tok\t\t\n' ;;
*) printf 'end\t%s\terror\t%s\t\n' "$(echo "$answer" | cut -f2)" "$(echo "$answer" | cut -f3)" ;;
esac)sh",
                               "unit"});
}

// A job's run of speaking units, with a history of its own.
struct JobRun : ::testing::Test {
    ScratchFolder folder;
    History history;
    std::string error;
    GangRun::Options options = speakingUnits();

    void SetUp() override {
        ASSERT_TRUE(history.open(folder.path + "/history.sqlite", error)) << error;
        options.history = &history;
        options.jobName = "Line";
    }
};

// Under a job, a unit the job provisioned already is refused before anything is sent, unless
// --again; a run the history cannot keep is a failed run.
TEST_F(JobRun, TheHistoryDecidesOnAUnitThatComesBackAndLosingItFailsTheUnit) {
    options.jobSha256 = "cafe";
    std::ostringstream out;
    std::ostringstream err;
    const auto runOn = [&](GangRun::Options with) {
        GangRun run(with, out, err);
        run.addUnit("COM1", {"-p", "1"}, "/dev/ttyS0");
        const int code = run.exec();
        return std::make_pair(code,
                              run.failed().empty() ? run.recentOk().back() : run.failed().back());
    };
    EXPECT_EQ(runOn(options).first, kExitOk) << err.str();
    const auto [code, refused] = runOn(options);
    EXPECT_EQ(code, kExitProvisioned);
    EXPECT_EQ(refused.result, "already provisioned");
    EXPECT_NE(refused.message.find("Serial number 4701 was provisioned by this job already, at "),
              std::string::npos)
        << refused.message;
    options.again = true;
    const auto [againCode, again] = runOn(options);
    EXPECT_EQ(againCode, kExitOk);
    EXPECT_NE(again.note.find("provisioned again (--again)"), std::string::npos);
    std::vector<History::Run> runs;
    ASSERT_TRUE(history.runs("4701", "", true, runs, error));
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[0].again);
    EXPECT_EQ(runs[1].unit.result, "already provisioned");
    EXPECT_EQ(runs[2].unit.sent, (FieldValues{{"mode2.address", "7"}}));
    EXPECT_EQ(runs[2].unit.operatorName, "");

    History closed;
    options.history = &closed;
    const auto [lostCode, lost] = runOn(options);
    EXPECT_EQ(lostCode, kExitFile);
    EXPECT_NE(lost.message.find("Unable to write the history"), std::string::npos) << lost.message;
}

// Each unit's hook sees its own variables; one that hangs is cut off, without holding up the
// other's or changing any result.
TEST_F(JobRun, HooksGetEachUnitsResultAndAHangingOneIsCutOff) {
    options.hookLimitMs = 1000;
    options.onResult =
        "printf '%s|%s|%s|%s|%s\\n' \"$VXCONF_UNIT\" \"$VXCONF_SERIAL\" "
        "\"$VXCONF_RESULT\" \"$VXCONF_JOB\" \"$VXCONF_JSON\" >> " +
        folder.path + "/hooks; [ \"$VXCONF_UNIT\" = COM1 ] && exec tail -f /dev/null; echo printed";
    std::ostringstream out;
    std::ostringstream err;
    GangRun run(options, out, err);
    run.addUnit("COM1", {"-p", "1"}, "/dev/ttyS0");
    run.addUnit("COM2", {"-p", "2"}, "/dev/ttyS1");
    EXPECT_EQ(run.exec(), kExitOk) << err.str();
    EXPECT_NE(err.str().find("COM1: serial 4701: the hook was cut off after 1 s"),
              std::string::npos)
        << err.str();
    const std::string hooks = readAll(folder.path + "/hooks");
    EXPECT_NE(hooks.find("COM1|4701|ok|Line|{\"unit\":\"COM1\""), std::string::npos) << hooks;
    EXPECT_NE(hooks.find("COM2|4702|ok|Line|{\"unit\":\"COM2\""), std::string::npos) << hooks;
    std::vector<History::Run> runs;
    ASSERT_TRUE(history.runs("", "", false, runs, error));
    ASSERT_EQ(runs.size(), 2u);
    for (const History::Run& unit : runs) {
        EXPECT_EQ(unit.unit.result, "ok");
        EXPECT_EQ(unit.hookOutput,
                  unit.device == "/dev/ttyS0" ? "the hook was cut off after 1 s" : "printed");
    }
}

}  // namespace
