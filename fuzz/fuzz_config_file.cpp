// Configuration files: any bytes read as one of the four outcomes without failing, and a
// file the program writes reads back as the same block (identity fields zero) and
// description.

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "configfiles/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const ConfigFileContents read = readConfigBytes(input);
    if (read.status == ConfigFileStatus::Loaded) {
        FUZZ_CHECK(size >= kConfigFileHeader);
        FUZZ_CHECK(read.description.size() <= kMaxDescriptionRead - 2);
        FUZZ_CHECK(read.description.find('\0') == std::string::npos);
    }

    // The input's first bytes as a block, the rest as a description.
    ConfigBlock block = demoBlock();
    for (std::size_t i = 0; i < size && i < kBlockSize; ++i) {
        block.data[i] = data[i];
    }
    const std::string description = size > kBlockSize ? input.substr(kBlockSize) : std::string();
    const std::string file = configFileBytes(block, description);
    FUZZ_CHECK(file.size() == 263 + description.size());
    const ConfigFileContents back = readConfigBytes(file);
    FUZZ_CHECK(back.status == ConfigFileStatus::Loaded);
    ConfigBlock expected = block;
    expected.setWord(Offset::serialNumber, 0);
    expected.setByte(Offset::portInterfaces, 0);
    expected.setByte(Offset::productType, 0);
    expected.setByte(Offset::checksum, computeChecksum(expected));
    FUZZ_CHECK(back.block == expected);
    const std::string kept = description.substr(0, kMaxDescriptionRead - 2);
    FUZZ_CHECK(back.description == kept.substr(0, kept.find('\0')));
    return 0;
}
