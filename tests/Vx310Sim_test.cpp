#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

#include "sim/PtyServer.h"
#include "sim/SimPort.h"
#include "sim/Vx310Sim.h"

namespace {

constexpr std::uint64_t kByte = Vx310Sim::kByteTimeUs;
const std::string kReadCmd =
    "\x05"
    "D";
const std::string kLoadCmd =
    "\x05"
    "L";

class SimTest : public ::testing::Test {
protected:
    SimTest() {
        driver.attach(1, device);
        channel = driver.open(1);
    }

    void send(const std::string& text) {
        ASSERT_TRUE(
            channel->write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), 1000));
    }
    std::string readNow() {
        std::uint8_t buffer[4096];
        std::string out;
        long got;
        while ((got = channel->read(buffer, sizeof buffer)) > 0) {
            out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
        }
        return out;
    }
    std::string readAt(std::uint64_t us) {
        clock.nowUs = us;
        return readNow();
    }

    SimClock clock;
    Vx310Sim device;
    SimPortDriver driver{clock};
    std::unique_ptr<SerialChannel> channel;
};

ConfigBlock changedBlock() {
    ConfigBlock block = Vx310Sim::defaultBlock();
    block.setWord(Offset::serialNumber, 1234);
    block.setByte(Offset::p1Baud, 20);
    block.setByte(Offset::checksum, computeChecksum(block));
    return block;
}

}  // namespace

TEST_F(SimTest, PromptArrivesTwoByteTimesAfterCr) {
    send("\r");
    EXPECT_EQ(readAt(2 * kByte - 1), "");
    EXPECT_EQ(readAt(2 * kByte), ">");
    ASSERT_EQ(device.received.size(), 1u);
    EXPECT_EQ(device.received[0].atUs, kByte);

    // Two lines at once: the second prompt queues behind the first on the wire.
    device.faults.prompt = "\r\n>";
    send("AB\r\r");
    const std::uint64_t t = clock.nowUs;
    EXPECT_EQ(readAt(t + 4 * kByte - 1), "");
    EXPECT_EQ(readAt(t + 6 * kByte), "\r\n>");
    EXPECT_EQ(readAt(t + 9 * kByte - 1), "\r\n");
    EXPECT_EQ(readAt(t + 9 * kByte), ">");

    // LF and other control characters are no line end.
    send("\n\x01\x7f");
    EXPECT_EQ(readAt(clock.nowUs + 10 * kByte), "");

    // A write stamped in the past starts now.
    device.advanceTo(clock.nowUs + 50000);
    device.hostWrite(reinterpret_cast<const std::uint8_t*>("\r"), 1, 0);
    EXPECT_EQ(device.inputDrainedAtUs(), clock.nowUs + 50000 + kByte);
}

TEST_F(SimTest, ReadCommandSendsBlockAndStatusOverTheWire) {
    send(kReadCmd);
    const std::uint64_t lastByteAt = 2 * kByte + kReadReplyLength * kByte;  // about 274 ms
    EXPECT_EQ(readAt(lastByteAt - 1).size(), kReadReplyLength - 1);
    const std::string tail = readAt(lastByteAt);
    EXPECT_EQ(tail, "p");
    EXPECT_EQ(device.nextEventUs(), Vx310Sim::kNever);
    EXPECT_EQ(device.readCommands, 1);

    device.validProgram = false;
    send(kReadCmd);
    const std::string reply = readAt(clock.nowUs + 300000);
    EXPECT_EQ(reply, encodeBlock(device.block) + "n");  // and no prompt after it

    // ENQ and any other byte: that byte is dropped, so "RU" loses its R.
    send("\x05RU\r");
    EXPECT_EQ(readAt(clock.nowUs + 10 * kByte), ">");
    EXPECT_TRUE(device.inMonitor());
    EXPECT_EQ(device.readCommands, 2);
}

TEST_F(SimTest, LoadCommandStoresOnlyIntactCompatibleBlocks) {
    const ConfigBlock original = device.block;
    const ConfigBlock wanted = changedBlock();

    std::string badTag = encodeBlock(wanted);
    badTag.replace(0, 3, "v20");
    send(kLoadCmd + badTag);
    std::string badSum = encodeBlock(wanted);
    badSum[10] = badSum[10] == '0' ? '1' : '0';
    send(kLoadCmd + badSum);
    // A CR inside the text is data: no prompt, and the text is rejected as a whole.
    std::string withCr = encodeBlock(wanted);
    withCr[5] = '\r';  // in place of a non-zero digit, so the checksum fails
    send(kLoadCmd + withCr);
    EXPECT_EQ(readAt(clock.nowUs + 1000000), "");
    EXPECT_EQ(device.loadsRejected, 3);
    EXPECT_EQ(device.loadsStored, 0);
    EXPECT_EQ(device.block, original);
    EXPECT_EQ(device.lastLoadText, withCr);

    send(kLoadCmd + encodeBlock(wanted) + "\r");
    EXPECT_EQ(readAt(clock.nowUs + 1000000), ">");  // line mode again after 260 bytes
    EXPECT_EQ(device.loadsStored, 1);
    EXPECT_EQ(device.block, wanted);
    EXPECT_EQ(device.lastLoadText, encodeBlock(wanted));
    EXPECT_TRUE(device.validProgram);
}

TEST_F(SimTest, RunEndsTheMonitorForGood) {
    send("RU\r");
    EXPECT_EQ(readAt(100000), "");
    EXPECT_FALSE(device.inMonitor());
    send("\r" + kReadCmd + kLoadCmd + encodeBlock(changedBlock()));
    EXPECT_EQ(readAt(clock.nowUs + 1000000), "");
    EXPECT_EQ(device.readCommands, 0);
    EXPECT_EQ(device.loadsStored, 0);
    EXPECT_EQ(device.received.size(), 3u + 1 + 2 + 2 + kConfigTextLength);
}

TEST_F(SimTest, FaultsChangeTheAnswers) {
    const std::string good = encodeBlock(device.block) + "p";

    device.faults.wrongTag = true;
    send(kReadCmd);
    std::string reply = readAt(clock.nowUs + 300000);
    EXPECT_EQ(reply.substr(0, 4), "v204");
    EXPECT_EQ(reply.substr(4), good.substr(4));
    device.faults.wrongTag = false;

    device.faults.corruptChecksum = true;
    send(kReadCmd);
    reply = readAt(clock.nowUs + 300000);
    ASSERT_EQ(reply.size(), good.size());
    int differences = 0;
    for (std::size_t i = 0; i < good.size(); ++i) {
        differences += reply[i] != good[i];
    }
    EXPECT_EQ(differences, 1);
    EXPECT_NE(std::string("0123456789abcdef").find(reply[4]), std::string::npos);
    ConfigBlock decoded;
    bool valid = true;
    EXPECT_FALSE(decodeBlock(reply, true, decoded, valid));
    device.faults.corruptChecksum = false;

    device.faults.replyLengthDelta = -1;
    send(kReadCmd);
    EXPECT_EQ(readAt(clock.nowUs + 300000), good.substr(0, kConfigTextLength));
    device.faults.replyLengthDelta = 1;
    send(kReadCmd);
    EXPECT_EQ(readAt(clock.nowUs + 300000), good + "\r");
    device.faults.replyLengthDelta = 0;

    device.faults.prompt = "\r\n>";
    device.faults.answerDelayMs = 100;
    send("\r");
    const std::uint64_t t = clock.nowUs;
    EXPECT_EQ(readAt(t + kByte + 100000 + kByte - 1), "");
    EXPECT_EQ(readAt(t + kByte + 100000 + 3 * kByte), "\r\n>");
    device.faults.answerDelayMs = 0;

    // Silent: nothing comes back, but a load is still stored.
    device.faults.silent = true;
    send("\r" + kReadCmd + kLoadCmd + encodeBlock(changedBlock()));
    EXPECT_EQ(readAt(clock.nowUs + 1000000), "");
    EXPECT_EQ(device.loadsStored, 1);
    EXPECT_EQ(device.block, changedBlock());
}

TEST_F(SimTest, WithoutPacingBytesMoveInstantly) {
    device.pacing = false;
    clock.nowUs = 5000;
    send("\r");
    EXPECT_EQ(readNow(), ">");
    send(kReadCmd);
    EXPECT_EQ(readNow().size(), kReadReplyLength);
    EXPECT_EQ(device.inputDrainedAtUs(), 5000u);

    // A host that never reads does not make the device hoard output.
    device.faults.prompt = std::string(64 * 1024, 'x');
    for (int i = 0; i < 20; ++i) {
        send("\r");
    }
    EXPECT_EQ(readNow().size(), std::size_t{1} << 20);
}

// The user-program commands, as the device checks a HEX file line by line.
TEST_F(SimTest, UserProgramUploadIsCheckedLikeTheDeviceDoes) {
    device.pacing = false;
    auto upload = [this](const std::string& file) {
        readNow();
        send("UF\r");
        EXPECT_NE(readNow().find("Overwrite"), std::string::npos);
        send("Y");
        EXPECT_NE(readNow().find("Waiting"), std::string::npos);
        send(file);
        return readNow();
    };
    EXPECT_NE(upload(":02400400123474\r\n:00000001FF\r\n").find("Done"), std::string::npos);
    EXPECT_EQ(device.program, (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_TRUE(device.validProgram);
    EXPECT_NE(upload(":02400400123475\r\n").find("Error=11"), std::string::npos);
    EXPECT_NE(upload("02400400123474\r\n").find("Error=12"), std::string::npos);
    EXPECT_NE(upload(":" + std::string(90, '0') + "\r\n").find("Error=13"), std::string::npos);
    EXPECT_NE(upload(":020000001234B8\r\n").find("Error=14"), std::string::npos);
    // No end record: the device gives up once the file has gone quiet.
    upload(":02400400123474\r\n");
    driver.clock().advanceMs(2500);
    EXPECT_NE(readNow().find("Error=10"), std::string::npos);
    EXPECT_EQ(device.program, (std::vector<std::uint8_t>{0x12, 0x34})) << "kept on failure";

    device.faults.endWithWait = true;
    EXPECT_EQ(upload(":02400400123474\r\n:00000001FF\r\n"), "") << "a pause first";
    driver.clock().advanceMs(Vx310Sim::kBurnPauseUs / 1000);
    EXPECT_EQ(readNow(), "\r\nBurning 2 bytes, wait..\r\n>");

    // CR ESC ends the transfer and erases the program: that is how Delete works.
    device.storeProgram({1, 2, 3});
    readNow();
    send("UF\r");
    readNow();
    send("Y");
    send("\r\x1b");
    EXPECT_EQ(readNow().back(), '>');
    EXPECT_TRUE(device.program.empty());
    EXPECT_FALSE(device.validProgram);
}

TEST_F(SimTest, DownloadSendsAPreambleTheProgramAndThePrompt) {
    device.pacing = false;
    device.storeProgram({0x12, 0x34});
    readNow();
    send("UF \x04\r");
    EXPECT_EQ(readNow(), "\r\nUF0002edcb1234>");
    device.faults.shortDownload = 2;
    send("UF \x04\r");
    EXPECT_EQ(readNow(), "\r\nUF0002edcb12>");
    device.faults.ignoreUf = true;
    send("UF\r");
    EXPECT_EQ(readNow(), "");
}

TEST_F(SimTest, DriverPortsAndChannels) {
    send("0123456789");
    channel->drain();
    EXPECT_EQ(clock.nowUs, 10 * kByte);
    EXPECT_EQ(device.received.size(), 10u);
    channel->drain();  // nothing left in flight: no time passes
    EXPECT_EQ(clock.nowUs, 10 * kByte);
    ASSERT_EQ(driver.writeLog.size(), 1u);
    EXPECT_EQ(driver.writeLog[0], std::make_pair(std::uint64_t{0}, std::string("0123456789")));

    driver.failWrites = true;
    const std::uint8_t cr = '\r';
    EXPECT_FALSE(channel->write(&cr, 1, 100));
    EXPECT_EQ(driver.writeLog.size(), 1u);
    EXPECT_EQ(device.inputDrainedAtUs(), 10 * kByte);

    Vx310Sim other;
    driver.attach(3, other);
    driver.setBusy(3);
    driver.setBusy(4);
    EXPECT_TRUE(driver.probe(1));
    EXPECT_FALSE(driver.probe(2));
    EXPECT_FALSE(driver.probe(3));
    EXPECT_FALSE(driver.probe(4));
    EXPECT_EQ(driver.probes, 4);
    EXPECT_EQ(driver.open(3), nullptr);
    EXPECT_EQ(driver.open(2), nullptr);
    EXPECT_EQ(driver.opens, 3);
    EXPECT_EQ(driver.deviceName(1), "simulated VX310");
    EXPECT_EQ(driver.deviceName(2), "");
    EXPECT_EQ(driver.openChannels, 1);
    channel.reset();
    EXPECT_EQ(driver.openChannels, 0);
}

TEST(Vx310SimDefaults, DefaultDeviceIsAnIntactProgDevice) {
    const Vx310Sim device;
    const ConfigBlock& block = device.block;
    EXPECT_TRUE(block.hasCompatibleTag());
    EXPECT_TRUE(block.isProg());
    EXPECT_EQ(block.byte(Offset::checksum), computeChecksum(block));
    EXPECT_TRUE(device.validProgram);
}

TEST(PtyServerTest, AnswersOnThePseudoTerminalAndLinksIt) {
    char dir[] = "/tmp/vx310sim_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/port";
    const std::string plainFile = std::string(dir) + "/file";
    std::ofstream(plainFile) << "keep me";

    Vx310Sim device;
    {
        PtyServer server(device);
        std::string error;
        ASSERT_TRUE(server.start(link, error)) << error;
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), server.devicePath());

        const int fd = open(server.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        termios tio{};
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        cfmakeraw(&tio);
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
        ASSERT_EQ(write(fd, "\r", 1), 1);

        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (got.empty() && std::chrono::steady_clock::now() < deadline) {
            server.serveFor(10);
            char buffer[16];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
            }
        }
        close(fd);
        EXPECT_EQ(got, ">");
        EXPECT_EQ(device.received.size(), 1u);

        // A regular file in the way is not replaced.
        PtyServer second(device);
        EXPECT_FALSE(second.start(plainFile, error));
        EXPECT_FALSE(error.empty());
    }
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);  // the server removed its link
    EXPECT_EQ(lstat(plainFile.c_str(), &st), 0);
    unlink(plainFile.c_str());
    rmdir(dir);
}
