#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "device/ConnectionRead.h"
#include "program/ReplyLines.h"
#include "program/Transfer.h"

namespace {

// A file in memory; reads fail from failAt on, writes keep what they are given.
class MemoryFile : public ProgramFile {
public:
    explicit MemoryFile(std::string contents = {}) : data(std::move(contents)) {}
    long read(std::uint8_t* buffer, std::size_t count) override {
        if (pos >= failAt) {
            return -1;
        }
        const std::size_t n = std::min(count, data.size() - pos);
        std::memcpy(buffer, data.data() + pos, n);
        pos += n;
        return static_cast<long>(n);
    }
    long write(const std::uint8_t* bytes, std::size_t count) override {
        written.append(reinterpret_cast<const char*>(bytes), count);
        return static_cast<long>(count);
    }
    std::string data;
    std::size_t pos = 0;
    std::size_t failAt = static_cast<std::size_t>(-1);
    std::string written;
};

// A HEX file of exactly size bytes that the device accepts: records, the end record, then
// blank lines to make up the size.
std::string hexFileOf(std::size_t size) {
    std::string text;
    unsigned address = 0x4004;
    while (text.size() + 60 < size) {
        char line[64];
        unsigned sum = 8 + (address >> 8) + (address & 0xFF);
        std::snprintf(line, sizeof line, ":08%04X00", address);
        std::string record = line;
        for (int i = 0; i < 8; ++i) {
            std::snprintf(line, sizeof line, "%02X", unsigned(i));
            record += line;
            sum += unsigned(i);
        }
        std::snprintf(line, sizeof line, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += record + line;
        address += 8;
    }
    const std::string end = ":00000001FF\r\n";
    text.append(size - text.size() - end.size(), '\n');
    return text + end;
}

struct TransferTest : public ::testing::Test {
    TransferTest() : transfer(bench, dialog) {
        bench.device.pacing = false;
        bench.port = 3;
        bench.configBlock.setByte(Offset::adeMode, 3);
        EXPECT_TRUE(bench.serialLink.open(3));
    }
    // One timer tick, as the dialog's timer gives it.
    void tick() {
        bench.clock.advanceMs(100);
        transfer.tick();
    }
    // Ticks while the dialog runs; the number of ticks.
    int run(int limit = 2000) {
        int ticks = 0;
        while (dialog.result < 0 && ticks < limit) {
            tick();
            ++ticks;
        }
        return ticks;
    }
    // Lets a reply line reach the link as if the device had sent it.
    void inject(const std::string& text) {
        std::memcpy(bench.serialLink.rxBuffer.data() + bench.serialLink.rxCount, text.data(),
                    text.size());
        bench.serialLink.rxCount += text.size();
    }

    SimBench bench;
    FakeDialogControl dialog;
    Transfer transfer;
};

TEST_F(TransferTest, UploadsInBlocksOfEightyAndEndsOnDone) {
    for (const std::size_t size : {800u, 835u}) {
        SCOPED_TRACE(size);
        MemoryFile file(hexFileOf(size));
        SimBench b;
        b.device.pacing = false;
        b.port = 3;
        b.configBlock.setByte(Offset::adeMode, 3);
        ASSERT_TRUE(b.serialLink.open(3));
        FakeDialogControl dialog;
        Transfer upload(b, dialog);
        upload.PrepareUpload("prog.hex", file, static_cast<std::uint32_t>(size));
        EXPECT_EQ(upload.screen().statusText, "Uploading program from \"prog.hex\"");
        upload.start();
        int ticks = 0;
        while (dialog.result < 0 && ticks < 500) {
            b.clock.advanceMs(100);
            upload.tick();
            ++ticks;
        }
        EXPECT_EQ(dialog.result, 1);
        EXPECT_EQ(b.device.uploadsStored, 1);
        std::vector<std::string> blocks;
        for (const auto& [at, bytes] : b.driver.writeLog) {
            if (bytes != "\r" && bytes != "UF\r" && bytes != "Y") {
                blocks.push_back(bytes);
            }
        }
        ASSERT_EQ(blocks.size(), (size + 79) / 80);
        std::string sent;
        for (const std::string& block : blocks) {
            EXPECT_LE(block.size(), 80u);
            sent += block;
        }
        EXPECT_EQ(sent, file.data);
        EXPECT_EQ(upload.screen().progressMax, static_cast<int>(size));
        EXPECT_EQ(upload.screen().progressPos, static_cast<int>(size));
        ASSERT_FALSE(b.notes.notices.empty());
        EXPECT_EQ(b.notes.notices.back().caption, "Upload complete");
        EXPECT_EQ(b.notes.notices.back().icon, NoticeIcon::None);
    }
}

TEST_F(TransferTest, DemonstrationUploadOf400BytesClosesAfterTheSeventhTick) {
    bench.port = 0;
    MemoryFile file(std::string(400, ':'));
    transfer.PrepareUpload("demo.hex", file, 400);
    transfer.start();
    EXPECT_EQ(transfer.state(), TransferState::Begin);
    EXPECT_EQ(run(), 7);
    EXPECT_EQ(dialog.result, 1);
    EXPECT_TRUE(bench.driver.writeLog.empty());
    EXPECT_TRUE(bench.notes.notices.empty()) << "the mode is off";
}

TEST_F(TransferTest, ModeOtherThanOffIsPointedOutAfterAnUpload) {
    bench.port = 0;
    bench.configBlock.setByte(Offset::adeMode, 2);
    MemoryFile file(":00000001FF");
    transfer.PrepareUpload("p.hex", file, 11);
    transfer.start();
    run();
    ASSERT_EQ(bench.notes.notices.size(), 1u);
    EXPECT_EQ(bench.notes.notices[0],
              exclamation("Please note: ADE fixed program mode must be set to \"off\" for the "
                          "uploaded program to run",
                          kProgramName));
}

TEST_F(TransferTest, DeleteEndsOnTheTwentySecondTickAfterY) {
    transfer.PrepareDelete();
    transfer.start();
    EXPECT_EQ(transfer.screen().caption, "Deleting User Program");
    EXPECT_TRUE(transfer.screen().abortVisible) << "the user can leave while the device is awaited";
    int ticks = 0;
    while (bench.written().find('Y') == std::string::npos && ticks < 100) {
        tick();
        ++ticks;
    }
    ASSERT_LT(ticks, 100);
    EXPECT_EQ(run(), 22);
    EXPECT_EQ(dialog.result, 0);
    EXPECT_FALSE(transfer.screen().abortVisible);
    EXPECT_EQ(bench.device.programsErased, 1);
    EXPECT_FALSE(bench.device.validProgram);
    const std::string sent = bench.written();
    EXPECT_EQ(sent.substr(sent.size() - 2), "\r\x1b");
}

TEST_F(TransferTest, AbortDuringWaitPromptClosesOnTheTwentyFirstTick) {
    bench.device.faults.silent = true;
    MemoryFile file(":00000001FF");
    transfer.PrepareUpload("p.hex", file, 11);
    transfer.start();
    tick();
    tick();
    EXPECT_EQ(transfer.state(), TransferState::WaitPrompt);
    transfer.abort();
    EXPECT_EQ(bench.notes.notices.back(), exclamation("Program Upload Aborted", kProgramName));
    EXPECT_FALSE(transfer.screen().abortVisible);
    bench.driver.writeLog.clear();
    tick();
    EXPECT_EQ(bench.written(), "\r\x1b");
    EXPECT_EQ(transfer.screen().detailText, "Aborting Upload...");
    EXPECT_EQ(run() + 1, 21);
    EXPECT_EQ(dialog.result, 0);
}

// A device that goes away while a Delete awaits it (the adapter pulled while the question was
// open) ends the dialog at once, with the port's notice, instead of waiting for ever.
TEST_F(TransferTest, ADeviceThatGoesAwayEndsTheTransferWithThePortsNotice) {
    bench.device.faults.silent = true;
    transfer.PrepareDelete();
    transfer.start();
    tick();
    tick();
    EXPECT_EQ(transfer.state(), TransferState::WaitPrompt);
    bench.driver.unplug(3);
    tick();
    EXPECT_EQ(dialog.result, 0);
    EXPECT_EQ(dialog.timerMs, 0);
    ASSERT_EQ(bench.notes.notices.size(), 1u);
    EXPECT_EQ(bench.notes.notices[0].text.rfind(ConnectText::kOpenFailed, 0), 0u)
        << bench.notes.notices[0].text;
    EXPECT_EQ(bench.notes.notices[0].kind, NoticeKind::DeviceError);
}

TEST_F(TransferTest, DeleteCanBeLeftBeforeTheDeviceAsks) {
    bench.device.faults.ignoreUf = true;
    transfer.PrepareDelete();
    transfer.start();
    for (int i = 0; i < 30; ++i) {
        tick();
    }
    EXPECT_EQ(transfer.state(), TransferState::WaitReply);
    transfer.abort();  // Alt+A, or Escape
    EXPECT_TRUE(bench.notes.notices.empty());
    EXPECT_EQ(run(), 21);
    EXPECT_EQ(dialog.result, 0);
}

TEST_F(TransferTest, DeviceReportsDuringAnUpload) {
    struct Row {
        std::string reply;
        Notice notice;
        int result;
    };
    const std::string head = "VX310 reported:\n\n";
    const Row rows[] = {
        {"Error=11\r\n", exclamation(head + "Hex file contains a bad checksum", "VX310 error"), 0},
        {"Error=42\r\n", exclamation(head + "Error=42", "VX310 error"), 0},
        {"Error=-1\r\n", exclamation(head + "Error=-1", "VX310 error"), 0},
        {"Error=x\r\n", exclamation("Error=x", "Unexpected response from VX310"), 0},
        {"Addr 4004\r\nDone\r\n",
         {"Done", "Upload complete", NoticeIcon::None, NoticeButtons::Ok},
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reply);
        SimBench b;
        b.port = 3;
        b.configBlock.setByte(Offset::adeMode, 3);
        b.device.faults.silent = false;
        FakeDialogControl control;
        Transfer upload(b, control);
        MemoryFile file(std::string(4000, ':'));
        upload.PrepareUpload("p.hex", file, 4000);
        ASSERT_TRUE(b.serialLink.open(3));
        upload.start();
        // Straight to sending: the device's own answers are not needed here.
        b.device.faults.silent = true;
        int guard = 0;
        while (upload.state() != TransferState::Sending && guard++ < 200) {
            if (upload.state() == TransferState::WaitPrompt) {
                b.serialLink.rxBuffer[0] = '>';
                b.serialLink.rxCount = 1;
            } else if (upload.state() == TransferState::WaitReply) {
                const char question[] = "Overwrite? ";
                std::memcpy(b.serialLink.rxBuffer.data(), question, sizeof question - 1);
                b.serialLink.rxCount = sizeof question - 1;
            }
            b.clock.advanceMs(100);
            upload.tick();
        }
        ASSERT_EQ(upload.state(), TransferState::Sending);
        std::memcpy(b.serialLink.rxBuffer.data(), row.reply.data(), row.reply.size());
        b.serialLink.rxCount = row.reply.size();
        b.clock.advanceMs(100);
        upload.tick();
        EXPECT_EQ(control.result, row.result);
        ASSERT_FALSE(b.notes.notices.empty());
        EXPECT_EQ(b.notes.notices.front(), row.notice);
    }
}

TEST_F(TransferTest, DoneFirstThenAddrOnlyUpdatesTheLine) {
    bench.port = 0;  // no device: the replies come from the test
    MemoryFile file(std::string(4000, ':'));
    transfer.PrepareUpload("p.hex", file, 4000);
    transfer.start();
    tick();  // Begin: the bar is set up
    inject("Done 1\r\nAddr 4100 Done\r\n");
    tick();
    EXPECT_EQ(transfer.state(), TransferState::Sending);
    EXPECT_EQ(transfer.screen().detailText, "Addr 4100 Done");
    inject(", wait..");
    tick();
    EXPECT_EQ(dialog.result, 1);
}

// The device's other ending: "Burning N bytes, wait..", after a quiet moment that follows the
// last Addr line. It has stored the program, so this is a good upload.
TEST_F(TransferTest, AnUploadEndingInWaitAfterAQuietTickSucceeds) {
    bench.device.faults.endWithWait = true;
    // Eight records, so the Addr line comes just before the end record.
    MemoryFile file(hexFileOf(280));
    transfer.PrepareUpload("p.hex", file, 280);
    transfer.start();
    while (transfer.state() != TransferState::WaitDone && dialog.result < 0) {
        tick();
    }
    EXPECT_EQ(transfer.screen().detailText, "Addr 403C");
    tick();  // nothing new: the CR LF left by the Addr line becomes a terminator
    ASSERT_EQ(bench.serialLink.rxCount, 2u);
    EXPECT_EQ(bench.serialLink.rxBuffer[0], 0);
    run();
    EXPECT_EQ(dialog.result, 1);
    EXPECT_EQ(transfer.state(), TransferState::Completed);
    EXPECT_TRUE(bench.notes.notices.empty());
    EXPECT_EQ(bench.device.uploadsStored, 1);

    // Text before ", wait.." on its line, however it arrives, is no unexpected response.
    for (const std::string ending :
         {"Burning 743 bytes, wait..", "\r\nBurning 743 bytes, wait.."}) {
        SimBench b;
        b.port = 0;
        b.configBlock.setByte(Offset::adeMode, 3);
        FakeDialogControl control;
        Transfer upload(b, control);
        MemoryFile big(std::string(4000, ':'));
        upload.PrepareUpload("p.hex", big, 4000);
        upload.start();
        upload.tick();
        std::memcpy(b.serialLink.rxBuffer.data(), ending.data(), ending.size());
        b.serialLink.rxCount = ending.size();
        upload.tick();
        EXPECT_EQ(control.result, 1) << ending;
        EXPECT_TRUE(b.notes.notices.empty()) << ending;
    }
}

TEST_F(TransferTest, AFailedWriteOrReadStopsTheUpload) {
    MemoryFile file(hexFileOf(800));
    transfer.PrepareUpload("p.hex", file, 800);
    transfer.start();
    while (transfer.state() != TransferState::Sending && dialog.result < 0) {
        tick();
    }
    tick();
    bench.driver.failWrites = true;
    tick();
    EXPECT_EQ(dialog.result, 0);
    EXPECT_EQ(bench.notes.notices.back(),
              exclamation("Failed to write to COM port", "VX310 Config"));

    SimBench b;
    b.device.pacing = false;
    b.port = 0;
    FakeDialogControl control;
    Transfer upload(b, control);
    MemoryFile broken(std::string(400, ':'));
    broken.failAt = 160;
    upload.PrepareUpload("p.hex", broken, 400);
    upload.start();
    for (int i = 0; i < 30 && control.result < 0; ++i) {
        upload.tick();
    }
    EXPECT_EQ(b.notes.notices.front(),
              exclamation("Failed to read from file", "Upload user HEX file"));
    EXPECT_EQ(control.result, 0);
}

struct DownloadTest : public TransferTest {
    void startDownload() {
        transfer.PrepareDownload("back.hex", output);
        transfer.start();
        while (transfer.state() != TransferState::WaitReply && dialog.result < 0) {
            tick();
        }
        bench.device.faults.silent = true;  // from here the test says what arrives
    }
    MemoryFile output;
};

TEST_F(DownloadTest, WholeDownloadIsWrittenWithoutItsPrompt) {
    transfer.PrepareDownload("back.hex", output);
    transfer.start();
    EXPECT_EQ(transfer.screen().statusText, "Saving program to \"back.hex\"");
    run();
    EXPECT_EQ(dialog.result, 0);
    EXPECT_EQ(output.written, Vx310Sim::downloadText(bench.device.program));
    EXPECT_TRUE(bench.notes.notices.empty());
    EXPECT_NE(bench.written().find("UF \x04\r"), std::string::npos);
}

TEST_F(DownloadTest, ChunksUntilThePromptOrSilence) {
    startDownload();
    inject("\r\nUF0002");
    tick();
    EXPECT_EQ(transfer.state(), TransferState::Receiving);
    inject("EDCB");
    tick();
    EXPECT_EQ(transfer.screen().caption, "Downloading VX310 Program");
    inject(">");
    tick();  // only the prompt: nothing written, the caption as it was
    EXPECT_EQ(dialog.result, 0);
    EXPECT_EQ(output.written, "0002EDCB");
    EXPECT_TRUE(bench.notes.notices.empty());

    DownloadTest::SetUp();
    SimBench b;
    b.device.pacing = false;
    b.port = 3;
    ASSERT_TRUE(b.serialLink.open(3));
    FakeDialogControl control;
    Transfer quiet(b, control);
    MemoryFile out;
    quiet.PrepareDownload("x.hex", out);
    quiet.start();
    while (quiet.state() != TransferState::WaitReply) {
        b.clock.advanceMs(100);
        quiet.tick();
    }
    b.device.faults.silent = true;
    const char first[] = "\r\nUF0004";
    std::memcpy(b.serialLink.rxBuffer.data(), first, 8);
    b.serialLink.rxCount = 8;
    quiet.tick();
    std::memcpy(b.serialLink.rxBuffer.data(), "ABCDE", 5);
    b.serialLink.rxCount = 5;
    quiet.tick();
    int idle = 0;
    while (control.result < 0 && idle < 100) {
        quiet.tick();
        ++idle;
    }
    EXPECT_EQ(idle, 22);
    EXPECT_EQ(b.notes.notices.back(), exclamation("Download did not complete. 2 bytes received.",
                                                  "VX310-PROG Download Program"));
    EXPECT_EQ(out.written, "0004ABCDE");
}

}  // namespace
