#include "PortDiagnosis.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/FileRead.h"

namespace {

std::string groupName(gid_t gid) {
    const struct group* entry = getgrgid(gid);
    return entry && entry->gr_name ? entry->gr_name : std::to_string(gid);
}

bool alive(long pid) {
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The short name the kernel keeps for a process; "" when it cannot be read.
std::string processName(long pid) {
    std::string name;
    FileReadOptions options;
    options.limit = 64;
    if (readFileStart("/proc/" + std::to_string(pid) + "/comm", options, name) != FileRead::Ok) {
        return {};
    }
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) {
        name.pop_back();
    }
    return name;
}

// The lock file's name: the device path without "/dev/", every '/' turned into '_'.
std::string lockName(const std::string& path) {
    std::string name = path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
    for (char& ch : name) {
        if (ch == '/') {
            ch = '_';
        }
    }
    return "LCK.." + name;
}

// Another process with the device open, found through /proc; 0 when none can be seen.
long procHolder(const std::string& canonical) {
    DIR* proc = opendir("/proc");
    if (!proc) {
        return 0;
    }
    long found = 0;
    const long self = static_cast<long>(getpid());
    while (const struct dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self) {
            continue;
        }
        const std::string fdFolder = std::string("/proc/") + entry->d_name + "/fd";
        DIR* fds = opendir(fdFolder.c_str());
        if (!fds) {
            continue;
        }
        while (const struct dirent* fd = readdir(fds)) {
            char target[4096];
            const std::string link = fdFolder + "/" + fd->d_name;
            const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
            if (length > 0 && canonical == std::string(target, static_cast<std::size_t>(length))) {
                found = pid;
                break;
            }
        }
        closedir(fds);
        if (found) {
            break;
        }
    }
    closedir(proc);
    return found;
}

PortStatus busy(long pid) {
    PortStatus status;
    status.fault = PortFault::Busy;
    status.pid = pid;
    status.program = pid > 0 ? processName(pid) : std::string();
    return status;
}

PortStatus fault(PortFault kind) {
    PortStatus status;
    status.fault = kind;
    return status;
}

}  // namespace

// A lock file holds the process id in decimal, as text (padded or not) or, from old
// programs, as a binary int.
long pidInLock(const std::string& text) {
    std::size_t at = text.find_first_not_of(" \t");
    if (at != std::string::npos && text[at] >= '0' && text[at] <= '9') {
        long pid = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && pid < 10000000; ++at) {
            pid = pid * 10 + (text[at] - '0');
        }
        // Digits end a text lock's number at a blank or a line break; a binary int's bytes
        // can start with a digit too (2099 is "3\x08\0\0").
        const bool ended = at == text.size() || text[at] == ' ' || text[at] == '\n' ||
                           text[at] == '\r' || text[at] == '\t';
        if (ended || text.size() != sizeof(int)) {
            return pid;
        }
    }
    if (text.size() == sizeof(int)) {
        int pid = 0;
        std::memcpy(&pid, text.data(), sizeof pid);
        return pid;
    }
    return 0;
}

std::vector<std::string> defaultLockFolders() {
    return {"/var/lock", "/run/lock", "/tmp"};
}

namespace {

struct LockFile {
    std::string file;
    long pid = 0;
};

// Every lock file of path that is there, under the name given and its real name.
std::vector<LockFile> lockFiles(const std::string& path, const std::vector<std::string>& folders) {
    std::vector<std::string> names{lockName(path)};
    if (char* real = realpath(path.c_str(), nullptr)) {
        if (lockName(real) != names[0]) {
            names.push_back(lockName(real));
        }
        std::free(real);
    }
    std::vector<LockFile> found;
    for (const std::string& folder : folders) {
        for (const std::string& name : names) {
            std::string text;
            FileReadOptions options;
            options.limit = 128;
            options.regularOnly = true;  // anyone may put things in /tmp
            if (readFileStart(folder + "/" + name, options, text) == FileRead::Ok) {
                found.push_back({folder + "/" + name, pidInLock(text)});
            }
        }
    }
    return found;
}

bool stale(const LockFile& lock) {
    return lock.pid > 0 && lock.pid != static_cast<long>(getpid()) && !alive(lock.pid);
}

}  // namespace

long lockHolder(const std::string& path, const std::vector<std::string>& lockFolders) {
    for (const LockFile& lock : lockFiles(path, lockFolders)) {
        if (lock.pid != static_cast<long>(getpid()) && alive(lock.pid)) {
            return lock.pid;
        }
    }
    return 0;
}

bool removeStaleLocks(const std::string& path, const std::vector<std::string>& lockFolders) {
    bool removed = false;
    for (const LockFile& lock : lockFiles(path, lockFolders)) {
        if (stale(lock) && ::unlink(lock.file.c_str()) == 0) {
            removed = true;
        }
    }
    return removed;
}

long flockHolder(const std::string& path, const std::string& locksFile) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return 0;
    }
    // "1: FLOCK  ADVISORY  WRITE 4242 00:18:3 0 EOF": the file is named by the device its
    // inode lives on (major:minor in hexadecimal) and the inode number.
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::string locks;
    FileReadOptions options;
    options.limit = 1 << 20;
    if (readFileStart(locksFile, options, locks) != FileRead::Ok) {
        return 0;
    }
    std::size_t start = 0;
    while (start < locks.size()) {
        std::size_t end = locks.find('\n', start);
        if (end == std::string::npos) {
            end = locks.size();
        }
        const std::string line = locks.substr(start, end - start);
        start = end + 1;
        char kind[16] = {};
        char mode[16] = {};
        long pid = 0;
        char file[64] = {};
        // Blocked waiters ("1: -> FLOCK ...") do not parse as holders.
        if (std::sscanf(line.c_str(), "%*d: %15s %*15s %15s %ld %63s", kind, mode, &pid, file) !=
            4) {
            continue;
        }
        if (std::strcmp(kind, "FLOCK") == 0 && std::strcmp(mode, "WRITE") == 0 &&
            std::strcmp(file, device) == 0 && pid != static_cast<long>(getpid()) && alive(pid)) {
            return pid;
        }
    }
    return 0;
}

PortStatus diagnosePort(const std::string& path, bool lineSettingsRefused,
                        const std::vector<std::string>& lockFolders) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) {
        return fault(PortFault::Missing);
    }
    if (!S_ISCHR(info.st_mode)) {
        return fault(PortFault::NotSerial);
    }
    if (access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        PortStatus status = fault(PortFault::NoPermission);
        status.group = groupName(info.st_gid);
        return status;
    }
    if (const long pid = lockHolder(path, lockFolders)) {
        return busy(pid);
    }
    // A lock left by a program that has ended, and that this user may not remove: nobody
    // holds the port, so nobody is named as holding it.
    for (const LockFile& lock : lockFiles(path, lockFolders)) {
        if (stale(lock)) {
            PortStatus status = fault(PortFault::StaleLock);
            status.pid = lock.pid;
            status.detail = lock.file;
            return status;
        }
    }
    // Under another name (a by-id link, an alias of a pseudo-terminal) the lock file is
    // another; the lock on the device itself is not.
    if (const long pid = flockHolder(path)) {
        return busy(pid);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        switch (error) {
            case ENOENT:
                return fault(PortFault::Missing);
            case ENXIO:
            case ENODEV:
            case EIO:
                return fault(PortFault::NoHardware);
            case EACCES:
            case EPERM: {
                PortStatus status = fault(PortFault::NoPermission);
                status.group = groupName(info.st_gid);
                return status;
            }
            case EBUSY: {
                char* real = realpath(path.c_str(), nullptr);
                const long pid = real ? procHolder(real) : 0;
                std::free(real);
                return busy(pid);
            }
            default: {
                PortStatus status = fault(PortFault::Other);
                status.detail = std::strerror(error);
                return status;
            }
        }
    }
    struct termios settings {};
    const bool terminal = tcgetattr(fd, &settings) == 0;
    ::close(fd);
    if (!terminal) {
        return fault(PortFault::NotSerial);
    }
    if (lineSettingsRefused) {
        return fault(PortFault::LineSettings);
    }
    // It opens for us now: whoever held it a moment ago, if anyone, can still be seen.
    char* real = realpath(path.c_str(), nullptr);
    const long pid = real ? procHolder(real) : 0;
    std::free(real);
    return pid ? busy(pid) : fault(PortFault::None);
}

std::string portFaultWords(const PortStatus& status) {
    switch (status.fault) {
        case PortFault::None:
            return "no reason found; it may have been busy for a moment";
        case PortFault::Missing:
            return "no such device";
        case PortFault::NoHardware:
            return "no device answers behind it";
        case PortFault::NoPermission:
            return "no permission (group " + status.group + ")";
        case PortFault::Busy:
            if (status.pid <= 0) {
                return "held by another program";
            }
            return "held by another program (process " + std::to_string(status.pid) +
                   (status.program.empty() ? std::string() : ", " + status.program) + ")";
        case PortFault::NotSerial:
            return "not a serial device";
        case PortFault::LineSettings:
            return "refuses the line settings (9600 baud, 8 data bits, no parity, 1 stop bit)";
        case PortFault::StaleLock:
            return "locked by process " + std::to_string(status.pid) +
                   ", which has ended, in the lock file " + status.detail;
        case PortFault::Other:
            return status.detail;
    }
    return {};
}

std::string currentUserName() {
    if (const struct passwd* entry = getpwuid(geteuid()); entry && entry->pw_name) {
        return entry->pw_name;
    }
    const char* user = std::getenv("USER");
    return user && user[0] ? user : "USER";
}

std::string openFailureParagraph(const std::string& path, const PortStatus& status,
                                 const std::string& user) {
    if (path.empty()) {
        return {};
    }
    std::string text = path + ": " + portFaultWords(status) + ".";
    // Joining the group root would give away far more than the port: no hint for that.
    if (status.fault == PortFault::NoPermission && status.group != "root") {
        text +=
            " To get it: sudo usermod -aG " + status.group + " " + user + ", then log in again.";
    }
    if (status.fault == PortFault::StaleLock) {
        text += " To remove it: sudo rm " + status.detail;
    }
    return text;
}
