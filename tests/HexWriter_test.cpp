#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "program/HexWriter.h"
#include "sim/Vx310Sim.h"

namespace {

std::vector<std::uint8_t> programOf(std::size_t length) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < length; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i * 31 + 5));
    }
    return bytes;
}

// srecord's own check of a HEX text: true when it reads it without a complaint.
bool srecordAccepts(const std::string& hex, std::string& ranges) {
    char name[] = "/tmp/vxhexXXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        return false;
    }
    (void)!write(fd, hex.data(), hex.size());
    close(fd);
    const std::string command = std::string("srec_info ") + name + " -Intel 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char line[256];
    ranges.clear();
    while (pipe != nullptr && fgets(line, sizeof line, pipe) != nullptr) {
        ranges += line;
    }
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    unlink(name);
    return status == 0 && ranges.find("arning") == std::string::npos;
}

TEST(ConvertDownload, ExactRecords) {
    const DownloadConversion two = convertDownload("0002EDCB1234");
    ASSERT_EQ(two.outcome, DownloadConversion::Converted);
    EXPECT_EQ(two.hex, ":02400400123474\n:00400401BB\n");
    EXPECT_TRUE(two.checksumMatches);
    EXPECT_EQ(two.programLength, 2u);

    const DownloadConversion none = convertDownload("0000ffff");
    EXPECT_EQ(none.hex, ":00400401BB\n");
    EXPECT_TRUE(none.checksumMatches);

    for (const std::size_t length : {1u, 31u, 32u, 33u, 64u, 65u, 1000u}) {
        const std::vector<std::uint8_t> program = programOf(length);
        const DownloadConversion result = convertDownload(Vx310Sim::downloadText(program));
        SCOPED_TRACE(length);
        ASSERT_EQ(result.outcome, DownloadConversion::Converted);
        EXPECT_TRUE(result.checksumMatches);
        std::size_t records = 0;
        for (char c : result.hex) {
            records += c == '\n';
        }
        EXPECT_EQ(records, (length + 31) / 32 + 1);
        EXPECT_EQ(result.hex.find('\r'), std::string::npos);
        std::string ranges;
        EXPECT_TRUE(srecordAccepts(result.hex, ranges)) << ranges;
        char expected[32];
        std::snprintf(expected, sizeof expected, "4004 - %04X", unsigned(0x4004 + length - 1));
        EXPECT_NE(ranges.find(expected), std::string::npos) << ranges;
    }
    // 33 bytes: 32 at 0x4004, then 1 at 0x4024.
    const std::string hex33 = convertDownload(Vx310Sim::downloadText(programOf(33))).hex;
    EXPECT_EQ(hex33.substr(0, 9), ":20400400");
    EXPECT_EQ(hex33.substr(hex33.find('\n') + 1, 9), ":01402400");
}

TEST(ConvertDownload, ShortWrongAndOverlongDownloads) {
    EXPECT_EQ(convertDownload("").outcome, DownloadConversion::ReadFailed);
    EXPECT_EQ(convertDownload("0002").outcome, DownloadConversion::ReadFailed);
    // Five characters: more than the read needs, less than a header.
    EXPECT_EQ(convertDownload("00000").outcome, DownloadConversion::ShortData);
    const DownloadConversion shortData = convertDownload("0004000012345");
    EXPECT_EQ(shortData.outcome, DownloadConversion::ShortData);
    EXPECT_EQ(shortData.programLength, 4u);
    EXPECT_EQ(shortData.bytesDownloaded, 6u);

    const DownloadConversion wrong = convertDownload(
        "00020000"
        "1234");
    EXPECT_EQ(wrong.outcome, DownloadConversion::Converted);
    EXPECT_FALSE(wrong.checksumMatches);
    EXPECT_EQ(wrong.hex, ":02400400123474\n:00400401BB\n");

    // An odd length: the byte after the program, or 0 when there is none.
    EXPECT_TRUE(convertDownload("0001"
                                "EDFF"
                                "12")
                    .checksumMatches);
    EXPECT_TRUE(convertDownload("0001"
                                "EDCB"
                                "1234")
                    .checksumMatches);

    // Only the first 65536 characters count: here the program runs past them.
    const std::string big = "7FFF0000" + std::string(70000, 'a');
    const DownloadConversion cut = convertDownload(big);
    EXPECT_EQ(cut.outcome, DownloadConversion::ShortData);
    EXPECT_EQ(cut.bytesDownloaded, 32768u);
}

struct ConversionFiles : public ::testing::Test {
    ScratchFolder scratch;
    const std::string& dir = scratch.path;
    RecordingNotifier notes;
    PlainSaver saver;
    Notice notice(const std::string& text, NoticeIcon icon = NoticeIcon::None) {
        return {text, kDownloadCaption, icon, NoticeButtons::Ok};
    }
};

TEST_F(ConversionFiles, EveryOutcomeIsReportedAndAFailureKeepsTheEarlierFile) {
    const std::string tmp = dir + "/p.hex.tmp";
    const std::string hex = dir + "/p.hex";
    std::ofstream(hex) << "earlier\n";

    ConvertDownloadToHex(dir + "/none.tmp", hex, notes, saver);
    EXPECT_EQ(notes.notices.back(), notice("Failed to open file: " + dir + "/none.tmp"));
    std::ofstream(tmp) << "";
    ConvertDownloadToHex(tmp, hex, notes, saver);
    EXPECT_EQ(notes.notices.back(), notice("Failed to read from file: " + tmp));
    std::ofstream(tmp) << "00040000123456";
    ConvertDownloadToHex(tmp, hex, notes, saver);
    EXPECT_EQ(notes.notices.back(),
              notice("Insufficient data downloaded from VX310-PROG or incorrect length\n"
                     "(program length = 4, bytes downloaded = 7)"));
    EXPECT_EQ(readAll(hex), "earlier\n") << "a failed conversion keeps the earlier file";

    saver.fail = true;
    std::ofstream(tmp) << "0002EDCB1234";
    ConvertDownloadToHex(tmp, hex, notes, saver);
    EXPECT_EQ(notes.notices.back(), notice("Failed to create file: " + hex));
    saver.fail = false;

    ConvertDownloadToHex(tmp, hex, notes, saver);
    EXPECT_EQ(notes.notices.back(),
              notice(hex + " created successfully\nProgram length = 2", NoticeIcon::Information));
    EXPECT_EQ(readAll(hex), ":02400400123474\n:00400401BB\n");
    std::ofstream(tmp) << "00020000"
                          "1234";
    ConvertDownloadToHex(tmp, hex, notes, saver);
    EXPECT_EQ(notes.notices.back(),
              notice(hex + " created\nProgram length = 2\nWarning: Program checksum is incorrect" +
                         "\nThe earlier file is kept as " + hex + ".bak",
                     NoticeIcon::Exclamation));
    EXPECT_TRUE(std::filesystem::exists(tmp)) << "the temporary file stays";
}

// A program whose checksum is wrong may be worse than the one it would replace.
TEST_F(ConversionFiles, AWrongChecksumKeepsTheEarlierFileBesideTheNewOne) {
    const std::string tmp = dir + "/p.hex.tmp";
    const std::string hex = dir + "/p.hex";
    std::ofstream(tmp) << "000200001234";
    ConvertDownloadToHex(tmp, hex, notes, saver);
    EXPECT_EQ(notes.notices.back().text,
              hex + " created\nProgram length = 2\nWarning: Program checksum is incorrect")
        << "nothing earlier to keep";
    EXPECT_FALSE(std::filesystem::exists(hex + ".bak"));

    const std::string good = ":02400400123474\n:00400401BB\n";
    std::ofstream(hex) << good;
    ConvertDownloadToHex(tmp, hex, notes, saver);
    EXPECT_EQ(readAll(hex + ".bak"), good);
    EXPECT_EQ(readAll(hex), ":02400400123474\n:00400401BB\n");
    EXPECT_NE(notes.notices.back().text.find("\nThe earlier file is kept as " + hex + ".bak"),
              std::string::npos);

    // When the earlier file cannot be kept, it is not replaced either.
    std::ofstream(hex) << "earlier\n";
    saver.fail = true;
    ConvertDownloadToHex(tmp, hex, notes, saver);
    EXPECT_EQ(notes.notices.back(), notice("Failed to create file: " + hex + ".bak"));
    EXPECT_EQ(readAll(hex), "earlier\n");
}

}  // namespace
