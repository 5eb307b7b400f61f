// The port-number rule under an arbitrary settings file: every number gets a usable path or
// none, and an override never reaches past the numbers it may name.

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "device/PortNames.h"
#include "platform/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ProfileFile settings(text);
    PortNames names;
    names.loadOverrides(settings);
    FUZZ_CHECK(names.devicePath(0).empty());
    FUZZ_CHECK(names.devicePath(kLastPort + 1).empty());
    for (unsigned n = kFirstPort; n <= kLastPort; ++n) {
        const std::string path = names.devicePath(n);
        FUZZ_CHECK(path.find('\0') == std::string::npos);
        FUZZ_CHECK(path.size() < 4096);
        const std::optional<std::string> value = settings.value("Ports", "COM" + std::to_string(n));
        if (value && value->size() < 4096 && value->find('\0') == std::string::npos) {
            FUZZ_CHECK(path == *value);
        } else {
            FUZZ_CHECK(path == PortNames::builtInPath(n));
        }
        const std::string entry = portEntryText(n, path);
        FUZZ_CHECK(entry.compare(0, 3 + std::to_string(n).size(), "COM" + std::to_string(n)) == 0);
    }
    return 0;
}
