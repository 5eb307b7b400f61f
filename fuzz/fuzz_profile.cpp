// The INI service. The input is a section, a key and a value, each ended by a NUL, then
// the file's text. Reading any text must not fail; an accepted write must read back as
// given and leave every other key reading as it did.

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "platform/Profile.h"

namespace {

std::string takeField(const std::string& input, std::size_t& pos) {
    const std::size_t end = input.find('\0', pos);
    const std::size_t stop = end == std::string::npos ? input.size() : end;
    std::string field = input.substr(pos, stop - pos);
    pos = end == std::string::npos ? input.size() : end + 1;
    return field;
}

// Names match without regard to ASCII case, as the service matches them.
bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t pos = 0;
    const std::string section = takeField(input, pos);
    const std::string key = takeField(input, pos);
    const std::string value = takeField(input, pos);
    const std::string text = input.substr(pos);

    const ProfileFile before(text);
    (void)before.getInt(section, key, -1);
    const std::string cut = before.getString(section, key, "default", 8);
    FUZZ_CHECK(cut.size() <= 7);

    const std::optional<std::string> after = profileTextWith(text, section, key, value);
    if (!after) {
        return 0;
    }
    const ProfileFile read(*after);
    FUZZ_CHECK(read.value(section, key) == std::optional<std::string>(value));
    if (value.size() <= 511) {
        FUZZ_CHECK(read.getString(section, key, "", 512) == value);
    }
    for (const auto& [s, k] : before.keys()) {
        if (!(sameName(s, section) && sameName(k, key))) {
            FUZZ_CHECK(read.value(s, k) == before.value(s, k));
        }
    }
    // Writing the same again changes nothing.
    FUZZ_CHECK(profileTextWith(*after, section, key, value) == after);
    return 0;
}
