// Jobs: what is refused when a job is made and when it is run, and the fingerprints.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"
#include "cli/ExitStatus.h"
#include "configfiles/ConfigFile.h"
#include "platform/Sha256.h"
#include "station/Job.h"

namespace {

TEST(Sha256, KnownDigestsWhateverTheChunks) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding needs a block of its own.
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256Hex(two), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 pieces;
    for (const char c : two) {
        pieces.add(std::string_view(&c, 1));
    }
    EXPECT_EQ(pieces.hex(), sha256Hex(two));
}

struct JobTest : ::testing::Test {
    ScratchFolder folder;
    std::string config = folder.path + "/bus.vxc";
    std::string job = folder.path + "/jobs/bus.vxjob";
    std::string error;
    int code = kExitOk;

    void SetUp() override {
        std::string bytes = configFileBytes(demoBlock(), "bus");
        folder.put("bus.vxc", bytes);
        std::filesystem::create_directory(folder.path + "/jobs");
    }
    std::string plan(const std::string& rows) {
        return folder.put("plan.csv", "serialNumber,mode2.address\n" + rows);
    }
    JobRequest request() {
        return {"Bus line",         config, {"port2.parity=even"},
                plan("1,7\n2,8\n"), "",     {"mode2.address"}};
    }
};

TEST_F(JobTest, MadeRunAndShownWithPathsRelativeToTheJob) {
    ASSERT_TRUE(createJob(job, request(), error, code)) << error;
    const std::optional<Job> loaded = loadJob(job, error, code);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->name, "Bus line");
    EXPECT_EQ(loaded->config.path, "../bus.vxc");
    EXPECT_EQ(loaded->config.sha256, sha256Hex(readAll(config)));
    EXPECT_EQ(loaded->sha256, sha256Hex(readAll(job)));
    EXPECT_EQ(loaded->sets, std::vector<std::string>{"port2.parity=even"});
    EXPECT_EQ(loaded->unique, std::vector<std::string>{"mode2.address"});
    JobInputs inputs;
    ASSERT_TRUE(readJobInputs(*loaded, inputs, error, code)) << error;
    EXPECT_EQ(inputs.config, readAll(config));
    ASSERT_TRUE(inputs.plan);
    EXPECT_EQ(inputs.plan->size(), 2u);
    bool ok = false;
    EXPECT_NE(describeJob(*loaded, ok).find("Plan:     ../plan.csv (ok)"), std::string::npos);
    EXPECT_TRUE(ok);
}

TEST_F(JobTest, AChangedOrMissingFileStopsTheRunNamingIt) {
    ASSERT_TRUE(createJob(job, request(), error, code)) << error;
    const std::optional<Job> loaded = loadJob(job, error, code);
    ASSERT_TRUE(loaded);
    plan("1,7\n2,9\n");
    JobInputs inputs;
    EXPECT_FALSE(readJobInputs(*loaded, inputs, error, code));
    EXPECT_EQ(code, kExitFile);
    EXPECT_NE(error.find("plan.csv\" has changed since the job was made"), std::string::npos)
        << error;
    bool ok = true;
    EXPECT_NE(describeJob(*loaded, ok).find("CHANGED"), std::string::npos);
    EXPECT_FALSE(ok);

    std::filesystem::remove(config);
    EXPECT_FALSE(readJobInputs(*loaded, inputs, error, code));
    EXPECT_EQ(code, kExitFile);
    EXPECT_NE(error.find("bus.vxc"), std::string::npos) << error;
    // Nor is a job made from a missing file, or from a pipe that would be waited on.
    EXPECT_FALSE(createJob(job + "2", request(), error, code));
    EXPECT_EQ(code, kExitFile);
    ASSERT_EQ(::mkfifo(config.c_str(), 0600), 0);
    EXPECT_FALSE(createJob(job + "2", request(), error, code));
    EXPECT_NE(error.find("(not a regular file)"), std::string::npos) << error;
}

TEST_F(JobTest, TwoUnitsWithOneUniqueValueAreRefusedNamingTheLines) {
    JobRequest clash = request();
    clash.plan = plan("1,7\n2,8\n3,07\n");
    EXPECT_FALSE(createJob(job, clash, error, code));
    EXPECT_EQ(code, kExitUsage);
    EXPECT_NE(error.find("plan lines 2 and 4: serial numbers 1 and 3 both get mode2.address=7"),
              std::string::npos)
        << error;
    EXPECT_FALSE(std::filesystem::exists(job)) << "nothing is written";

    JobRequest common = request();
    common.sets.push_back("mode2.address=5");
    EXPECT_FALSE(createJob(job, common, error, code));
    EXPECT_NE(error.find("--set gives every unit the same value"), std::string::npos) << error;

    JobRequest bad = request();
    bad.sets = {"port2.parity=purple"};
    EXPECT_FALSE(createJob(job, bad, error, code));
    EXPECT_EQ(code, kExitUsage);
}

}  // namespace
