#pragma once

#include <string>
#include <vector>

// Why a serial device does not open, found by looking at it the way a person would: is it
// there, is it a terminal, may this user open it, who holds it.

enum class PortFault {
    None,          // nothing known against it
    Missing,       // no such file
    NoHardware,    // the node is there, but no device answers behind it
    NoPermission,  // this user may not open it
    Busy,          // another program holds it
    NotSerial,     // not a terminal device
    LineSettings,  // it opened, but refused 9600 baud 8N1
    StaleLock,     // a lock file of a process that has ended, which this user cannot remove
    Other,         // anything else, in the system's words
};

struct PortStatus {
    PortFault fault = PortFault::None;
    std::string group;    // NoPermission: the device's group
    long pid = 0;         // Busy: the holder, when it can be found; StaleLock: the ended one
    std::string program;  // Busy: the holder's name
    std::string detail;   // Other: the system's words; StaleLock: the lock file

    bool operator==(const PortStatus& other) const {
        return fault == other.fault && group == other.group && pid == other.pid &&
               program == other.program && detail == other.detail;
    }
};

// "no permission (group dialout)", "held by another program (process 4242, minicom)", ...
std::string portFaultWords(const PortStatus& status);

// Where lock files of serial ports are looked for, in this order.
std::vector<std::string> defaultLockFolders();

// Looks at path after an open has failed. lineSettingsRefused: the open itself worked and
// only configuring the line failed.
PortStatus diagnosePort(const std::string& path, bool lineSettingsRefused = false,
                        const std::vector<std::string>& lockFolders = defaultLockFolders());

// The holder of path's lock file (LCK..name, as serial programs write it) when that
// process is alive; 0 when there is none.
long lockHolder(const std::string& path, const std::vector<std::string>& lockFolders);
// Removes the lock files of path (LCK..name, under the name given and its real name) whose
// process has ended and that this user may remove; whether any went. A program killed
// without closing its port leaves one, and then nobody can open the port.
bool removeStaleLocks(const std::string& path, const std::vector<std::string>& lockFolders);
// The process id in a lock file's text: decimal text, padded or not, or a binary int.
long pidInLock(const std::string& text);

// Another process holding an exclusive flock on the device at path (whatever name it was
// opened under), found in /proc/locks; 0 when there is none.
long flockHolder(const std::string& path, const std::string& locksFile = "/proc/locks");

// The name of the user running this program, for the hint that fixes a permission.
std::string currentUserName();

// The paragraph a failed open adds to its notice: the device, the reason and, for a
// permission, the fix.
std::string openFailureParagraph(const std::string& path, const PortStatus& status,
                                 const std::string& user);
