// vxconf-cli's commands in-process, against the simulated VX310 on a clock the test moves.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

#include "TestSupport.h"
#include "cli/CliSession.h"
#include "cli/Terminal.h"
#include "configfiles/ConfigFile.h"
#include "device/ConnectionRead.h"

namespace {

// The device dialogs' timer on the simulated clock.
class SimRunner : public TickRunner {
public:
    explicit SimRunner(SimClock& clock) : m_clock(clock) {}
    void startTimer(int periodMs) override { m_timerMs = periodMs; }
    void stopTimer() override { m_timerMs = 0; }
    void finish(int result) override {
        m_timerMs = 0;
        m_finished = true;
        m_result = result;
    }
    int run(const std::function<void()>& begin, const std::function<void()>& tick,
            const std::function<bool()>& stopped) override {
        m_finished = false;
        begin();
        for (int guard = 0; guard < 100000 && !m_finished && !stopped() && m_timerMs > 0; ++guard) {
            m_clock.advanceMs(static_cast<std::uint64_t>(m_timerMs));
            if (onTick) {
                onTick(runs, guard);
            }
            tick();
            if (betweenTicks) {
                betweenTicks();
            }
        }
        ++runs;
        return m_finished ? m_result : kLeft;
    }
    std::uint64_t nowMs() const override { return m_clock.nowUs / 1000; }
    int runs = 0;
    std::function<void(int run, int tick)> onTick;  // before each tick of each run
    // Where the event loop would deliver a signal.
    std::function<void()> betweenTicks;

private:
    SimClock& m_clock;
    int m_timerMs = 0;
    bool m_finished = false;
    int m_result = kLeft;
};

struct CliTest : public ::testing::Test {
    CliTest() : driver(clock), runner(clock) {
        device.pacing = false;
        driver.attach(3, device);
    }

    // One vxconf-cli run on COM3 (or port), with a fresh session as each run has.
    int run(CliRequest request, int port = 3) {
        out.str("");
        err.str("");
        driver.writeLog.clear();
        request.port = port;
        Settings settings;
        settings.pcPort = port;
        settings.downloadEnabled = downloadEnabled;
        session = std::make_unique<CliSession>(driver, saver, runner, settings,
                                               CliIo{out, err, terminal, ask});
        return session->run(request);
    }
    static CliRequest command(CliCommand c, std::string file = {}) {
        CliRequest request;
        request.command = c;
        request.file = std::move(file);
        return request;
    }
    static CliRequest setting(std::vector<std::string> assignments) {
        CliRequest request = command(CliCommand::Set);
        request.assignments = std::move(assignments);
        return request;
    }
    std::string written() const { return writtenTo(driver); }

    SimClock clock;
    Vx310Sim device;
    SimPortDriver driver;
    SimRunner runner;
    PlainSaver saver;
    ScratchFolder folder;
    unsigned downloadEnabled = 0;
    bool terminal = false;  // standard error is a terminal
    std::function<std::optional<bool>(const std::string&)> ask;
    std::ostringstream out;
    std::ostringstream err;
    std::unique_ptr<CliSession> session;
};

TEST_F(CliTest, SetStoresChecksAndChangesOnlyTheFieldsNamed) {
    const ConfigBlock before = device.block;
    EXPECT_EQ(run(setting({"port2.parity=none", "mode2.address=42", "mode=1"})), kExitOk)
        << err.str();
    EXPECT_EQ(out.str(),
              "Port 2 Parity: even -> none\nADE Mode: off -> 1\nMode 2 Address: 5 -> 42\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(device.loadsStored, 1);
    ConfigBlock expected = before;
    expected.setByte(Offset::p2Parity, 1);
    expected.setByte(Offset::m2Address, 42);
    expected.setByte(Offset::adeMode, 1);
    expected.setByte(Offset::checksum, computeChecksum(expected));
    EXPECT_EQ(device.block, expected);
    EXPECT_TRUE(session->editor().lastWriteChecked());
    EXPECT_STREQ(resultWord(kExitOk), "ok");
}

TEST_F(CliTest, ADeviceThatKeepsItsOldBlockIsAMismatchNamingExactlyTheFieldsThatDiffer) {
    device.faults.ignoreStores = true;
    EXPECT_EQ(run(setting({"port2.parity=none", "port1.baud=19200", "port2.bits=7"})),
              kExitMismatch);
    EXPECT_EQ(err.str(),
              "The VX310 did not store the configuration as sent:\n"
              "Port 1 Baud Rate: sent 19200, the VX310 holds 9600\n"
              "Port 2 Parity: sent none, the VX310 holds even\n");
    EXPECT_STREQ(resultWord(kExitMismatch), "mismatch");
    EXPECT_EQ(session->message().rfind(kNotStoredHeading, 0), 0u);
}

TEST_F(CliTest, RefusedInputSendsNothingAndSaysWhy) {
    EXPECT_EQ(run(setting({"port2.parity=mark"})), kExitUsage);
    EXPECT_EQ(err.str(),
              "\"mark\" is not a value of port2.parity; its values are none, even, odd\n");
    EXPECT_EQ(run(setting({"mode2.timeout=70000"})), kExitUsage);
    EXPECT_EQ(run(setting({"port9.parity=none"})), kExitUsage);
    EXPECT_EQ(err.str().rfind("Unknown field \"port9.parity\". Fields: port1.baud, ", 0), 0u);
    EXPECT_EQ(run(setting({"parity"})), kExitUsage);
    EXPECT_EQ(run(setting({})), kExitUsage);
    EXPECT_EQ(driver.opens, 0) << "refused before the port is opened";

    // The Mode 1 driver is there only for an RS422/485 Port 1: refused after the read.
    device.block.setByte(Offset::portInterfaces, 2);
    device.block.setByte(Offset::checksum, computeChecksum(device.block));
    EXPECT_EQ(run(setting({"mode1.driver=rs485"})), kExitUsage);
    EXPECT_EQ(err.str(),
              "mode1.driver applies only when Port 1 is RS422/485; this unit's is "
              "RS232\n");
    EXPECT_EQ(written().find('L'), std::string::npos) << "no store command";
    EXPECT_EQ(device.loadsStored, 0);
}

TEST_F(CliTest, APortThatDoesNotOpenOrADeviceThatDoesNotAnswer) {
    EXPECT_EQ(run(command(CliCommand::Read), 7), kExitDevice);
    EXPECT_EQ(err.str(),
              "The selected COM port does not exist or may be already in use by another "
              "program\n");
    EXPECT_TRUE(out.str().empty());

    device.faults.silent = true;
    EXPECT_EQ(run(command(CliCommand::Read)), kExitDevice);
    EXPECT_EQ(err.str().rfind("VX310 is not responding on COM3\n", 0), 0u) << err.str();
    EXPECT_FALSE(session->connected());

    device.faults.silent = false;
    device.faults.corruptChecksum = true;
    EXPECT_EQ(run(command(CliCommand::Read)), kExitDevice);
    EXPECT_EQ(err.str(), std::string(ConnectText::kCorrupt) + "\n");
}

TEST_F(CliTest, SaveThenLoadRestoresTheUnitAndDryRunSendsNothing) {
    const ConfigBlock original = device.block;
    const std::string file = folder.path + "/plant.vxc";
    CliRequest save = command(CliCommand::Save, file);
    save.description = "Plant A, line 2";
    EXPECT_EQ(run(save), kExitOk) << err.str();
    const ConfigFileContents saved = ReadConfigFile(file);
    ASSERT_EQ(saved.status, ConfigFileStatus::Loaded);
    EXPECT_EQ(saved.description, "Plant A, line 2");

    ASSERT_EQ(run(setting({"port2.parity=odd", "mode2.leadIn=7"})), kExitOk);
    CliRequest dry = command(CliCommand::Load, file);
    dry.dryRun = true;
    EXPECT_EQ(run(dry), kExitOk);
    EXPECT_EQ(out.str(),
              "Description: Plant A, line 2\n"
              "Port 2 Parity: odd -> even\n"
              "Mode 2 Lead-in Byte: 7 -> 0\n");
    EXPECT_EQ(written().find('L'), std::string::npos);

    // Without --yes and nobody to ask, the load's question is answered No.
    EXPECT_EQ(run(command(CliCommand::Load, file)), kExitUsage);
    EXPECT_NE(err.str().find("Update the VX310 with this configuration?\n"), std::string::npos);
    EXPECT_EQ(device.block.byte(Offset::m2LeadIn), 7);

    ask = [](const std::string& question) {
        return std::optional<bool>(question == FileText::kLoadQuestion);
    };
    EXPECT_EQ(run(command(CliCommand::Load, file)), kExitOk) << err.str();
    EXPECT_EQ(device.block, original);
}

// `cat plant.vxc | vxconf-cli load /dev/stdin`: a pipe gives its bytes once, and its writer
// may not have written them when the file is opened.
TEST_F(CliTest, LoadFromAPipeReadsItOnceAndSendsIt) {
    const std::string file = configFileBytes(device.block, "piped");
    device.block.setByte(Offset::m2Address, 99);
    device.block.setByte(Offset::checksum, computeChecksum(device.block));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(write(ends[1], file.data(), file.size()), static_cast<ssize_t>(file.size()));
        close(ends[1]);
    });
    CliRequest load = command(CliCommand::Load, "/proc/self/fd/" + std::to_string(ends[0]));
    load.yes = true;
    const int code = run(load);
    writer.join();
    close(ends[0]);
    EXPECT_EQ(code, kExitOk) << err.str();
    EXPECT_EQ(out.str(), "Description: piped\nMode 2 Address: 99 -> 5\n");
    EXPECT_EQ(device.loadsStored, 1);
    EXPECT_EQ(device.block.byte(Offset::m2Address), 5);
}

// A description could hide what follows it (ESC[8m), retitle or clear the terminal.
TEST_F(CliTest, ADescriptionsControlCharactersAreShownNotActedOn) {
    const std::string description =
        "line 1\r\nline\t2\x1b[8m hidden\x1b]0;title\x07\x1b[2J\rover\x9d\x7f\xe9";
    const std::string file = folder.put("esc.vxc", configFileBytes(device.block, description));
    CliRequest dry = command(CliCommand::Load, file);
    dry.dryRun = true;
    EXPECT_EQ(run(dry), kExitOk) << err.str();
    EXPECT_EQ(out.str(),
              "Description: line 1\nline\t2\\x1b[8m hidden\\x1b]0;title\\x07\\x1b[2J\\x0dover"
              "\\x9d\\x7f\xc3\xa9\nNo field changes on this unit\n");
    EXPECT_EQ(ReadConfigFile(file).description, description) << "the file keeps its bytes";
}

// --device PATH is mapped to a COM number inside; the user is told about PATH.
TEST_F(CliTest, MessagesNameTheDevicePathGiven) {
    CliRequest read = command(CliCommand::Read);
    read.device = "/dev/ttyUSB7";
    EXPECT_EQ(run(read, 255), kExitDevice);
    EXPECT_EQ(err.str(),
              "The selected port /dev/ttyUSB7 does not exist or may be already in use by "
              "another program\n\n/dev/ttyUSB7: no such device.\n");
    EXPECT_EQ(session->message().find("COM"), std::string::npos);

    device.faults.silent = true;
    EXPECT_EQ(run(read), kExitDevice);
    EXPECT_EQ(err.str().rfind("VX310 is not responding on /dev/ttyUSB7\n\nPlease check:", 0), 0u)
        << err.str();
    EXPECT_EQ(err.str().find("COM3"), std::string::npos);
}

// A silent device holds the read for 20 s; on a terminal the wait is shown and then cleared.
TEST_F(CliTest, ASilentReadCountsDownOnATerminal) {
    CliRequest read = command(CliCommand::Read);
    read.device = "/dev/ttyUSB7";
    terminal = true;
    EXPECT_EQ(run(read), kExitOk);
    EXPECT_EQ(err.str(), "") << "a prompt answer shows no wait";

    device.faults.silent = true;
    EXPECT_EQ(run(read), kExitDevice);
    const std::string shown = err.str();
    EXPECT_EQ(shown.rfind("\rreading from /dev/ttyUSB7\u2026 19 s left\033[K", 0), 0u) << shown;
    std::size_t updates = 0;
    for (std::size_t at = shown.find("\rreading"); at != std::string::npos;
         at = shown.find("\rreading", at + 1)) {
        ++updates;
    }
    EXPECT_EQ(updates, 19u) << "once a second";
    EXPECT_NE(shown.find("\u2026 1 s left\033[K\r\033[KVX310 is not responding on /dev/ttyUSB7\n"),
              std::string::npos)
        << shown;

    terminal = false;
    EXPECT_EQ(run(read), kExitDevice);
    EXPECT_EQ(err.str().rfind("VX310 is not responding", 0), 0u)
        << "nothing new without a terminal";
}

// The download's progress counts the program's bytes, so its last number is the length that
// the final message gives.
TEST_F(CliTest, DownloadProgressCountsProgramBytes) {
    device.pacing = true;  // the answer comes in chunks over many ticks
    device.storeProgram(std::vector<std::uint8_t>(1000, 0x5A));
    downloadEnabled = 1;
    terminal = true;
    const std::string hex = folder.path + "/back.hex";
    EXPECT_EQ(run(command(CliCommand::Download, hex)), kExitOk) << err.str();
    const std::string shown = err.str();
    std::vector<unsigned> counts;
    for (std::size_t at = shown.find('\r'); at != std::string::npos;
         at = shown.find('\r', at + 1)) {
        unsigned n = 0;
        char rest[32] = {};
        if (std::sscanf(shown.c_str() + at, "\r%u bytes receive%1s", &n, rest) == 2) {
            counts.push_back(n);
        }
    }
    ASSERT_GT(counts.size(), 2u) << shown;
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
    EXPECT_EQ(counts.back(), 1000u) << shown;
    EXPECT_NE(shown.find("Program length = 1000"), std::string::npos) << shown;
}

TEST_F(CliTest, FileErrorsAreExitCodeFour) {
    CliRequest load = command(CliCommand::Load, folder.path + "/missing.vxc");
    load.yes = true;
    EXPECT_EQ(run(load), kExitFile);
    EXPECT_EQ(err.str(), "Unable to open file: \"" + folder.path +
                             "/missing.vxc\"? (No such file or directory)\n");
    EXPECT_EQ(session->message(), "Unable to open file: \"" + folder.path +
                                      "/missing.vxc\"? (No such file or directory)")
        << "the log's record says the same";
    // A name without a folder is shown with the one it was looked for in.
    load.file = "./missing-here.vxc";
    EXPECT_EQ(run(load), kExitFile);
    EXPECT_EQ(err.str(), "Unable to open file: \"" + std::filesystem::current_path().string() +
                             "/missing-here.vxc\"? (No such file or directory)\n");
    load.dryRun = true;
    EXPECT_EQ(run(load), kExitFile);
    EXPECT_EQ(device.loadsStored, 0);

    EXPECT_EQ(run(command(CliCommand::Save, folder.path + "/no/such/dir/a.vxc")), kExitFile);
    CliRequest upload = command(CliCommand::Upload, folder.put("text.hex", "not hex"));
    upload.yes = true;
    EXPECT_EQ(run(upload), kExitFile);
    EXPECT_EQ(err.str(), "Invalid file format\n");
    EXPECT_EQ(device.uploadsStored, 0);
}

TEST_F(CliTest, UserProgramCommandsAnswerTheWindowsQuestionsWithYes) {
    CliRequest upload = command(CliCommand::Upload, folder.put("p.hex",
                                                               ":02400400123474\r\n"
                                                               ":00000001FF\r\n"));
    EXPECT_EQ(run(upload), kExitUsage) << "no --yes";
    EXPECT_EQ(err.str(),
              "Are you sure that you want to upload user program \"p.hex\"?\n"
              "No answer without a terminal: give --yes to answer Yes\n");
    ask = [](const std::string&) { return std::optional<bool>(false); };
    EXPECT_EQ(run(upload), kExitUsage);
    EXPECT_EQ(err.str(), "Not done: the question was answered No\n");
    ask = nullptr;
    EXPECT_EQ(device.uploadsStored, 0);
    upload.yes = true;
    EXPECT_EQ(run(upload), kExitOk) << err.str();
    EXPECT_EQ(device.program, (std::vector<std::uint8_t>{0x12, 0x34}));
    // Plain lines when standard error is no terminal, and the device's own words at the end.
    EXPECT_NE(err.str().find("30/30 bytes 100%\nDone\n"), std::string::npos) << err.str();

    downloadEnabled = 1;
    const std::string hex = folder.path + "/back.hex";
    EXPECT_EQ(run(command(CliCommand::Download, hex)), kExitOk) << err.str();
    EXPECT_EQ(readAll(hex).substr(0, 15), ":02400400123474");
    downloadEnabled = 0;
    EXPECT_EQ(run(command(CliCommand::Download, hex)), kExitUsage);

    CliRequest remove = command(CliCommand::Delete);
    remove.yes = true;
    EXPECT_EQ(run(remove), kExitOk);
    EXPECT_TRUE(device.program.empty());
    EXPECT_EQ(run(remove), kExitUsage) << "nothing left to delete";
    EXPECT_EQ(err.str(), "This VX310 holds no user program to delete\n");

    CliRequest start = command(CliCommand::Start);
    start.yes = true;
    EXPECT_EQ(run(start), kExitOk);
    EXPECT_EQ(written().substr(written().size() - 3), "RU\r");
    EXPECT_EQ(err.str(), std::string(MainText::kClosingText) + "\n");
}

TEST_F(CliTest, AFileThatWillNotDoIsRefusedBeforeTheUnitIsContacted) {
    CliRequest load = command(CliCommand::Load, folder.put("short.vxc", "garbage"));
    load.yes = true;
    EXPECT_EQ(run(load), kExitFile);
    EXPECT_EQ(err.str(), "\"short.vxc\" is not a VX310 configuration file\n");
    load.file = folder.path;
    EXPECT_EQ(run(load), kExitFile);
    CliRequest upload = command(CliCommand::Upload, folder.path + "/none.hex");
    upload.yes = true;
    EXPECT_EQ(run(upload), kExitFile);
    EXPECT_EQ(driver.opens, 0);

    downloadEnabled = 1;
    EXPECT_EQ(run(command(CliCommand::Download, folder.path)), kExitFile) << err.str();
    EXPECT_NE(err.str().find("Failed to create file: " + folder.path + "\n"), std::string::npos);
}

TEST_F(CliTest, AFifoInThePlaceOfAFileToWriteIsRefusedBeforeTheUnitIsContacted) {
    const std::string fifo = folder.path + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = folder.path + "/link.vxc";
    std::filesystem::create_symlink(fifo, link);
    EXPECT_EQ(run(command(CliCommand::Save, link)), kExitFile);
    EXPECT_EQ(err.str(), "Unable to write file: \"" + link + "\"? (not a regular file)\n");
    downloadEnabled = 1;
    const std::string hex = folder.path + "/x.hex";
    std::filesystem::create_symlink(fifo, hex + ".tmp");
    EXPECT_EQ(run(command(CliCommand::Download, hex)), kExitFile);
    EXPECT_EQ(err.str(), "Unable to write file: \"" + hex + ".tmp\"? (not a regular file)\n");
    EXPECT_EQ(driver.opens, 0);
    EXPECT_FALSE(std::filesystem::exists(hex));
}

TEST_F(CliTest, UploadInputIsCheckedFirstAndAFileCutShortIsAFileError) {
    for (const std::string& contents : {std::string(), std::string("\x7f"
                                                                   "ELF\x02\x01\x01")}) {
        CliRequest upload = command(CliCommand::Upload, folder.put("bad.hex", contents));
        upload.yes = true;
        EXPECT_EQ(run(upload), kExitFile);
        EXPECT_EQ(err.str(), "Invalid file format\n");
    }
    EXPECT_EQ(driver.opens, 0) << "refused before the unit is contacted";

    std::string records;
    while (records.size() < 1000) {
        records += ":02400400123474\r\n";
    }
    const std::string path = folder.put("cut.hex", records + ":00000001FF\r\n");
    CliRequest upload = command(CliCommand::Upload, path);
    upload.yes = true;
    runner.onTick = [&](int run, int tick) {
        if (run == 1 && tick == 8) {  // the transfer, once blocks are going out
            std::filesystem::resize_file(path, 340);
        }
    };
    const std::uint64_t startUs = clock.nowUs;
    EXPECT_EQ(run(upload), kExitFile);
    runner.onTick = nullptr;
    EXPECT_NE(err.str().find("Failed to read from file\n"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find(kTransferQuietText), std::string::npos) << err.str();
    EXPECT_LT(clock.nowUs - startUs, 10000000u);
    EXPECT_EQ(device.uploadsStored, 0);
    EXPECT_NE(written().find("\r\x1b"), std::string::npos) << "the abort sequence";
}

TEST_F(CliTest, ADiskThatFillsDuringADownloadIsExitCodeFour) {
    const SmallDisk disk(folder.path, "size=8k");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    device.storeProgram(std::vector<std::uint8_t>(8000, 0x5A));
    downloadEnabled = 1;
    const std::string hex = disk.path + "/p.hex";
    EXPECT_EQ(run(command(CliCommand::Download, hex)), kExitFile);
    EXPECT_NE(
        err.str().find("Unable to write file: \"" + hex + ".tmp\"?\nInsufficient data downloaded"),
        std::string::npos)
        << err.str();
}

TEST_F(CliTest, NamesInAnyCaseAndTheDevicesOwnFieldsRefused) {
    EXPECT_EQ(run(setting({"PORT2.Parity=NONE"})), kExitOk) << err.str();
    EXPECT_EQ(device.block.byte(Offset::p2Parity), 1);
    EXPECT_EQ(run(setting({"port1.interface=RS232"})), kExitUsage);
    EXPECT_EQ(err.str(), "\"port1.interface\" is the VX310's own and cannot be set\n");
}

TEST_F(CliTest, ATransferInWhichNothingMovesIsAbortedAfterThirtySeconds) {
    device.faults.ignoreUf = true;
    CliRequest upload = command(CliCommand::Upload, folder.put("p.hex",
                                                               ":02400400123474\r\n"
                                                               ":00000001FF\r\n"));
    upload.yes = true;
    const std::uint64_t startUs = clock.nowUs;
    EXPECT_EQ(run(upload), kExitDevice);
    EXPECT_NE(err.str().find(std::string(kTransferQuietText) + "\nProgram Upload Aborted\n"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(err.str().find("bytes"), std::string::npos) << "no byte count while aborting";
    EXPECT_LT(clock.nowUs - startUs, 40000000u);
    EXPECT_EQ(device.uploadsStored, 0);
}

// A device that never stops talking is stopped as one that falls silent is: by the abort
// the window's user would give, here once the transfer is longer than any program can be.
TEST_F(CliTest, ATransferThatNeverEndsIsAbortedByItsSize) {
    device.pacing = true;
    device.faults.endlessDownload = true;
    downloadEnabled = 1;
    const std::string hex = folder.path + "/endless.hex";
    std::uint64_t startUs = clock.nowUs;
    EXPECT_EQ(run(command(CliCommand::Download, hex)), kExitDevice);
    EXPECT_NE(err.str().find(std::string(kDownloadTooLongText) + "\nProgram Download Aborted\n"),
              std::string::npos)
        << err.str();
    const auto tmpSize = std::filesystem::file_size(hex + ".tmp");
    EXPECT_GT(tmpSize, kDownloadCharLimit);
    EXPECT_LT(tmpSize, kDownloadCharLimit + 2 * SerialLink::kBufferSize);
    EXPECT_NE(written().find("\r\x1b"), std::string::npos) << "CR ESC";
    EXPECT_LT(clock.nowUs - startUs, 100000000u);

    // An upload whose device says "Waiting" for ever after the last byte.
    device.faults.endlessWaiting = true;
    CliRequest upload = command(CliCommand::Upload, folder.put("p.hex",
                                                               ":02400400123474\r\n"
                                                               ":00000001FF\r\n"));
    upload.yes = true;
    startUs = clock.nowUs;
    EXPECT_EQ(run(upload), kExitDevice);
    EXPECT_NE(err.str().find(std::string(kUploadUnfinishedText) + "\nProgram Upload Aborted\n"),
              std::string::npos)
        << err.str();
    EXPECT_GE(clock.nowUs - startUs, 60000000u);
    EXPECT_LT(clock.nowUs - startUs, 70000000u);
    EXPECT_EQ(device.uploadsStored, 0);
    EXPECT_EQ(device.programsErased, 1) << "CR ESC reached the device";
}

// A signal mid-upload aborts it as the Abort button does, so the unit gets CR ESC and is back
// at its prompt; the configuration store is finished; a read just ends.
TEST_F(CliTest, ASignalAbortsAnUploadFinishesAStoreAndEndsARead) {
    device.pacing = true;
    terminal = true;
    std::string hex;
    for (int r = 0; r < 40; ++r) {
        hex += ":02400400123474\r\n";
    }
    CliRequest upload = command(CliCommand::Upload, folder.put("p.hex", hex + ":00000001FF\r\n"));
    upload.yes = true;
    int reads = device.readCommands;
    runner.betweenTicks = [&] {
        if (device.received.size() > 200 && session->editor().link().isOpen()) {
            session->interrupt(SIGINT);
        }
    };
    EXPECT_EQ(run(upload), 130);
    EXPECT_NE(written().find("\r\x1b"), std::string::npos) << "CR ESC";
    EXPECT_EQ(device.uploadsStored, 0);
    EXPECT_EQ(device.readCommands, reads + 1) << "nothing read after the abort";
    // The bar's line is ended before the abort's notice.
    EXPECT_NE(err.str().find("\033[K\nProgram Upload Aborted\n"), std::string::npos) << err.str();
    runner.betweenTicks = nullptr;
    EXPECT_EQ(run(command(CliCommand::Read)), kExitOk) << "the unit answers at its prompt";

    // The 260 characters of a store go out whole, and nothing is read back.
    reads = device.readCommands;
    runner.betweenTicks = [&] {
        if (device.received.size() > 0 && written().find("\x05L") != std::string::npos) {
            session->interrupt(SIGTERM);
        }
    };
    device.received.clear();
    EXPECT_EQ(run(setting({"port2.parity=none"})), 143);
    EXPECT_EQ(device.loadsStored, 1);
    EXPECT_EQ(device.block.byte(Offset::p2Parity), 1);
    EXPECT_EQ(device.readCommands, reads + 1);

    // A read ends at the next tick.
    device.faults.silent = true;
    runner.betweenTicks = [&] { session->interrupt(SIGHUP); };
    const std::uint64_t startUs = clock.nowUs;
    EXPECT_EQ(run(command(CliCommand::Read)), 129);
    EXPECT_EQ(err.str(), "");
    EXPECT_LE(clock.nowUs - startUs, 200000u);
}

TEST(CliProgress, BarShowsBytesPercentAndTimeLeft) {
    EXPECT_EQ(progressBar(40, 80, 1000),
              "[###############...............] 40/80 bytes  50%  0:01 left");
    EXPECT_EQ(progressBar(0, 80, 0), "[..............................] 0/80 bytes   0%");
    EXPECT_EQ(progressBar(90, 80, 5000), "[##############################] 80/80 bytes 100%");
    const std::string slow = progressBar(1, 4000, 1000);
    EXPECT_EQ(slow.substr(slow.size() - 12), "  66:39 left");
}

}  // namespace

namespace {

TEST_F(CliTest, OnlyTheUnitsOwnPortIsTouched) {
    // The window lists every port that opens; a command names its port, and opening the
    // others would take them from whoever uses them, another unit of the same run included.
    Vx310Sim other;
    other.pacing = false;
    driver.attach(4, other);
    driver.probes = 0;
    EXPECT_EQ(run(command(CliCommand::Read)), kExitOk) << err.str();
    EXPECT_EQ(driver.probes, 1);
    EXPECT_EQ(driver.opens, 1);
}

}  // namespace
