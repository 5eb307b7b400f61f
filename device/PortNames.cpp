#include "PortNames.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/Profile.h"

namespace {

// Longer than any device path; a value like that is a damaged file, not a device.
constexpr std::size_t kMaxPathLength = 4095;

bool inRange(unsigned n) {
    return n >= kFirstPort && n <= kLastPort;
}

}  // namespace

std::string PortNames::builtInPath(unsigned n) {
    // 32 numbers per family; COM97 and up stay free for the settings file and the simulator.
    struct Family {
        unsigned first;
        const char* prefix;
    };
    static const Family families[] = {{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}};
    for (const Family& family : families) {
        if (n >= family.first && n < family.first + 32) {
            return family.prefix + std::to_string(n - family.first);
        }
    }
    return std::string();
}

void PortNames::loadOverrides(const ProfileFile& settings) {
    for (unsigned n = kFirstPort; n <= kLastPort; ++n) {
        const std::optional<std::string> path = settings.value("Ports", "COM" + std::to_string(n));
        if (!path || path->size() > kMaxPathLength || path->find('\0') != std::string::npos) {
            continue;
        }
        m_overrides[n] = *path;
    }
}

void PortNames::setOverride(unsigned n, const std::string& path) {
    if (inRange(n)) {
        m_overrides[n] = path;
    }
}

std::string PortNames::devicePath(unsigned n) const {
    if (!inRange(n)) {
        return std::string();
    }
    return m_overrides[n] ? *m_overrides[n] : builtInPath(n);
}

std::string portEntryText(unsigned n, const std::string& deviceName) {
    std::string text = "COM" + std::to_string(n);
    if (!deviceName.empty()) {
        text += " (" + deviceName + ")";
    }
    return text;
}

std::string canonicalDevicePath(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved = real;
        std::free(real);
        return resolved;
    }
    if (path.front() == '/') {
        return path;
    }
    char folder[PATH_MAX];
    if (::getcwd(folder, sizeof folder) == nullptr) {
        return path;
    }
    return std::string(folder) + (folder[1] == '\0' ? "" : "/") + path;
}
