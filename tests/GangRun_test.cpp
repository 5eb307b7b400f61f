// The run on several units as the parent of each unit's process, with stand-ins for the
// units: processes that cannot start, die, or count the signals they are sent.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include <QTimer>

#include "TestSupport.h"
#include "cli/CsvLog.h"
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

}  // namespace
