// vxconf-cli's command line: what each form of it asks for, and the mistakes refused before
// anything is touched.

#include <gtest/gtest.h>

#include "cli/CliOptions.h"

namespace {

struct Parsed {
    bool ok = false;
    CliOptions options;
    std::string error;
};

Parsed parse(std::vector<std::string> args) {
    Parsed parsed;
    parsed.ok = parseCliOptions(args, parsed.options, parsed.error);
    return parsed;
}

TEST(CliOptions, EachFormOfTheCommandLine) {
    // Short options run together, values after a space or an equals sign, options after
    // the command, and paths kept as the bytes given.
    const Parsed joined = parse({"-yp3", "load", "a.vxc", "--trace=t.log"});
    ASSERT_TRUE(joined.ok) << joined.error;
    EXPECT_TRUE(joined.options.yes);
    EXPECT_EQ(joined.options.ports, std::vector<unsigned>{3});
    EXPECT_EQ(joined.options.command, CliCommand::Load);
    EXPECT_EQ(joined.options.file, "a.vxc");
    EXPECT_EQ(joined.options.tracePath, "t.log");
    EXPECT_FALSE(joined.options.several());

    const Parsed raw =
        parse({"--device", "/tmp/x\xff", "--device", "u5", "--device", "u5", "read"});
    ASSERT_TRUE(raw.ok) << raw.error;
    EXPECT_EQ(raw.options.devices, (std::vector<std::string>{"/tmp/x\xff", "u5"}));
    EXPECT_TRUE(raw.options.several());

    const Parsed set =
        parse({"-p", "1-3,2", "--plan", "p.csv", "set", "mode2.address=4", "--json"});
    ASSERT_TRUE(set.ok) << set.error;
    EXPECT_EQ(set.options.ports, (std::vector<unsigned>{1, 2, 3}));
    EXPECT_EQ(set.options.assignments, std::vector<std::string>{"mode2.address=4"});
    EXPECT_TRUE(set.options.json) << "--json gives any command's result on one unit too";

    const Parsed dashed = parse({"-p", "1", "--", "save", "-odd-.vxc"});
    ASSERT_TRUE(dashed.ok) << dashed.error;
    EXPECT_EQ(dashed.options.file, "-odd-.vxc");

    const Parsed watch = parse({"--watch-dir", "/tmp/w", "watch", "set", "port1.parity=odd"});
    ASSERT_TRUE(watch.ok) << watch.error;
    EXPECT_TRUE(watch.options.watch && watch.options.several());

    // A job on one unit still runs through the parent that keeps its history.
    const Parsed job = parse({"--job", "j.vxjob", "-p", "1", "--again", "--operator", "anna"});
    ASSERT_TRUE(job.ok) << job.error;
    EXPECT_TRUE(job.options.several());
    const Parsed made = parse({"job", "new", "j.vxjob", "--config", "a.vxc", "--set", "mode=off",
                               "--set", "port1.parity=odd", "--unique", "mode2.address"});
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(made.options.task, CliTask::JobNew);
    EXPECT_EQ(made.options.jobSets, (std::vector<std::string>{"mode=off", "port1.parity=odd"}));
}

TEST(CliOptions, MistakesAreRefusedWithTheirReason) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--bogus"}, "Unknown option 'bogus'."},
        {{"-q", "read"}, "Unknown option 'q'."},
        {{"-p"}, "Missing value after '-p'."},
        {{"read", "--log"}, "Missing value after '--log'."},
        {{"--json=1", "read"}, "Unexpected value after '--json'."},
        {{}, "no command given"},
        {{"watch"}, "watch needs a command to run on each unit"},
        {{"fetch"}, "unknown command \"fetch\""},
        {{"load"}, "load takes one FILE"},
        {{"read", "x"}, "read takes no arguments"},
        {{"--dry-run", "read"}, "--json goes with read, --dry-run with load, -d with save"},
        {{"-p", "1", "--all", "read"},
         "give -p and --device, or one of --simulate, --all and watch"},
        {{"--watch-dir", "d", "read"}, "--watch-dir goes with watch"},
        {{"--plan", "p.csv", "read"}, "--plan goes with load and set"},
        {{"-p", "0", "read"},
         "-p takes port numbers from 1 to 255, or ranges of them such as 5-8: \"0\""},
        {{"--job", "j.vxjob", "-p", "1", "load", "a.vxc"},
         "--job takes no command: the job says what each unit gets"},
        {{"--job", "j.vxjob"}, "--job runs on units: give -p, --device, --all or watch"},
        {{"-p", "1", "--again", "read"}, "--again goes with --job"},
        {{"--job", "j", "--no-history", "watch"},
         "--job keeps a history: without it a unit could be provisioned twice"},
        {{"--unique", "mode", "-p", "1", "read"},
         "--config, --set, --program, --unique and --name go with job new, --since with history"},
        {{"history", "70000"}, "history: \"70000\" is no serial number (0 to 65535)"},
        {{"-p", "1", "history"}, "history uses no unit"},
        {{"job", "run", "j.vxjob"}, "job takes new FILE.vxjob or show FILE.vxjob"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.args);
        EXPECT_FALSE(parsed.ok) << c.error;
        EXPECT_EQ(parsed.error, c.error);
    }
    // --simulate serves one unit.
    EXPECT_FALSE(parse({"--simulate", "--device", "a", "--device", "b", "read"}).ok);
}

TEST(CliOptions, AUnitGetsTheCommandWithoutTheRunsOwnOptions) {
    const Parsed parsed = parse({"-p", "1-4", "--yes", "--log", "r.csv", "--plan", "p.csv",
                                 "--trace", "t", "--json", "--", "load", "-x.vxc"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(unitArguments(parsed.options),
              (std::vector<std::string>{"--yes", "--", "load", "-x.vxc"}));
    CliOptions unit;
    std::string error;
    ASSERT_TRUE(parseCliOptions(unitArguments(parsed.options), unit, error)) << error;
    EXPECT_EQ(unit.file, "-x.vxc");
}

TEST(PortList, RangesAndSinglePortsInOrderEachOnce) {
    std::vector<unsigned> ports;
    std::string error;
    ASSERT_TRUE(parsePortList("1,3,5-8,3", ports, error)) << error;
    EXPECT_EQ(ports, (std::vector<unsigned>{1, 3, 5, 6, 7, 8}));
    ASSERT_TRUE(parsePortList("255", ports, error));
    EXPECT_EQ(ports, std::vector<unsigned>{255});
    for (const char* bad : {"0", "256", "8-5", "1,,2", "a", "1-", "-3", "99999999999"}) {
        EXPECT_FALSE(parsePortList(bad, ports, error)) << bad;
    }
}

}  // namespace
