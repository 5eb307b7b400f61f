#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "configfiles/ConfigFile.h"
#include "platform/AnsiText.h"

namespace {

// The file as the layout gives it, built here byte by byte from the demonstration block.
std::string handBuilt(const std::string& description) {
    std::array<std::uint8_t, 128> data = demoBlock().data;
    data[0] = data[1] = 0;  // serial number
    data[2] = 0;            // port interfaces
    data[8] = 0;            // product type
    unsigned sum = 0;
    for (int i = 0; i < 127; ++i) {
        sum += data[i];
    }
    data[127] = static_cast<std::uint8_t>(~sum);
    std::string file = "v103";
    char hex[3];
    for (const std::uint8_t b : data) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        file += hex;
    }
    file += static_cast<char>(std::min<std::size_t>(description.size() + 2, 255));
    return file + description + '\r' + '\0';
}

TEST(ConfigFileWrite, GoldenBytes) {
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b) {
        high += static_cast<char>(b);
    }
    for (const std::string& description :
         {std::string(), std::string(253, 'a'), std::string(300, 'b'),
          std::string("line one\r\nline two\r\n") + high}) {
        const std::string bytes = configFileBytes(demoBlock(), description);
        EXPECT_EQ(bytes, handBuilt(description)) << description.size();
        EXPECT_EQ(bytes.size(), 263 + description.size());
    }
    EXPECT_EQ(configFileBytes(demoBlock(), "").substr(260), std::string("\x02\r\0", 3));
    EXPECT_EQ(static_cast<unsigned char>(configFileBytes(demoBlock(), std::string(253, 'x'))[260]),
              255u);
    // The identity fields read as zero, whatever the device was.
    const std::string bytes = configFileBytes(demoBlock(), "");
    EXPECT_EQ(bytes.substr(4, 4), "0000");
    EXPECT_EQ(bytes.substr(8, 2), "00");
    EXPECT_EQ(bytes.substr(20, 2), "00");

    ScratchFolder scratch;
    PlainSaver saver;
    const std::string path = scratch.path + "/demo.vxc";
    ASSERT_TRUE(WriteConfigFile(path, demoBlock(), "x", saver));
    EXPECT_EQ(readAll(path), handBuilt("x"));
}

TEST(ConfigFileRead, OutcomesInOrder) {
    ScratchFolder scratch;
    const std::string good = handBuilt("");
    EXPECT_EQ(ReadConfigFile(scratch.path + "/missing.vxc").status, ConfigFileStatus::OpenFailed);
    EXPECT_EQ(ReadConfigFile(scratch.put("a", good.substr(0, 260))).status,
              ConfigFileStatus::TooShort);
    // Too short wins over a bad tag: both reads come first.
    EXPECT_EQ(ReadConfigFile(scratch.put("b", "x10" + good.substr(3, 257))).status,
              ConfigFileStatus::TooShort);
    const ConfigFileContents exact = ReadConfigFile(scratch.put("c", good.substr(0, 261)));
    EXPECT_EQ(exact.status, ConfigFileStatus::Loaded);
    EXPECT_EQ(exact.description, "");
    for (const char* tag : {"v11", "V10", "x10"}) {
        EXPECT_EQ(ReadConfigFile(scratch.put("d", tag + good.substr(3))).status,
                  ConfigFileStatus::Incompatible)
            << tag;
    }
    EXPECT_EQ(ReadConfigFile(scratch.put("e", "v10Z" + good.substr(4))).status,
              ConfigFileStatus::Loaded);

    // A wrong checksum and a wrong length byte are not looked at.
    std::string damaged = good;
    damaged[258] = damaged[258] == '0' ? '1' : '0';
    damaged[260] = 99;
    const ConfigFileContents loaded = ReadConfigFile(scratch.put("f", damaged));
    EXPECT_EQ(loaded.status, ConfigFileStatus::Loaded);
    EXPECT_EQ(loaded.block.byte(Offset::m2Address), demoBlock().byte(Offset::m2Address));

    const std::string trailing(2000, 'q');
    EXPECT_EQ(ReadConfigFile(scratch.put("g", good.substr(0, 261) + trailing)).description,
              std::string(1021, 'q'));
    EXPECT_EQ(ReadConfigFile(scratch.put("h", good.substr(0, 261) + std::string("ab\0cd\r\0", 7)))
                  .description,
              "ab");
    EXPECT_EQ(ReadConfigFile(scratch.put("i", good.substr(0, 261) + "z")).description, "z");

    // Not a file to read: nothing hangs, nothing loads.
    const std::string fifo = scratch.path + "/fifo.vxc";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(10);
    EXPECT_EQ(ReadConfigFile(fifo).status, ConfigFileStatus::TooShort);
    EXPECT_EQ(ReadConfigFile(scratch.path).status, ConfigFileStatus::TooShort);
    alarm(0);
}

TEST(ConfigFileRead, WrittenThenReadGivesTheBlockWithoutIdentityAndTheDescription) {
    ScratchFolder scratch;
    PlainSaver saver;
    ConfigBlock block = demoBlock();
    block.setByte(100, 0xAB);  // bytes the program does not interpret travel too
    const std::string description = "Two\r\nlines \x80\xFF";
    const std::string path = scratch.path + "/round.vxc";
    ASSERT_TRUE(WriteConfigFile(path, block, description, saver));
    const ConfigFileContents read = ReadConfigFile(path);
    ASSERT_EQ(read.status, ConfigFileStatus::Loaded);
    ConfigBlock expected = block;
    expected.setWord(Offset::serialNumber, 0);
    expected.setByte(Offset::portInterfaces, 0);
    expected.setByte(Offset::productType, 0);
    expected.setByte(Offset::checksum, computeChecksum(expected));
    EXPECT_EQ(read.block, expected);
    EXPECT_EQ(read.description, description);
    // Upper-case digits read like lower-case ones.
    std::string upper = readAll(path);
    for (std::size_t i = 4; i < 260; ++i) {
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
    }
    EXPECT_EQ(readConfigBytes(upper).block, expected);
}

TEST(AnsiText, EveryByteRoundTripsThroughUnicode) {
    std::string all;
    for (int b = 1; b <= 0xFF; ++b) {
        all += static_cast<char>(b);
    }
    EXPECT_EQ(utf8ToAnsi(ansiToUtf8(all)), all);
    EXPECT_EQ(ansiToUtf8("\x80\xE9"), "\xE2\x82\xAC\xC3\xA9");  // euro sign, e acute
    EXPECT_EQ(utf8ToAnsi("\xE2\x82\xAC"), "\x80");
    EXPECT_EQ(utf8ToAnsi("\xE4\xB8\xAD|\xF0\x9F\x98\x80|\xC3"), "?|?|?")
        << "what the code page cannot hold, and broken UTF-8";
}

}  // namespace
