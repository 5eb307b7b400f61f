#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "platform/PortDiagnosis.h"

namespace {

PortStatus status(PortFault fault) {
    PortStatus s;
    s.fault = fault;
    return s;
}

TEST(PortDiagnosis, EveryReasonInWords) {
    PortStatus denied = status(PortFault::NoPermission);
    denied.group = "dialout";
    PortStatus held = status(PortFault::Busy);
    EXPECT_EQ(portFaultWords(held), "held by another program");
    held.pid = 77;
    EXPECT_EQ(portFaultWords(held), "held by another program (process 77)");
    held.program = "minicom";
    EXPECT_EQ(portFaultWords(held), "held by another program (process 77, minicom)");
    EXPECT_EQ(portFaultWords(denied), "no permission (group dialout)");
    EXPECT_EQ(portFaultWords(status(PortFault::Missing)), "no such device");
    EXPECT_EQ(portFaultWords(status(PortFault::NotSerial)), "not a serial device");
    EXPECT_EQ(portFaultWords(status(PortFault::LineSettings)),
              "refuses the line settings (9600 baud, 8 data bits, no parity, 1 stop bit)");
    PortStatus other = status(PortFault::Other);
    other.detail = "Input/output error";
    EXPECT_EQ(portFaultWords(other), "Input/output error");
}

TEST(PortDiagnosis, TheOpenNoticesParagraphGivesTheFixOnlyWhereItIsOne) {
    PortStatus denied = status(PortFault::NoPermission);
    denied.group = "dialout";
    EXPECT_EQ(openFailureParagraph("/dev/ttyUSB0", denied, "alice"),
              "/dev/ttyUSB0: no permission (group dialout). To get it: sudo usermod -aG dialout "
              "alice, then log in again.");
    denied.group = "root";
    EXPECT_EQ(openFailureParagraph("/dev/ttyS0", denied, "alice"),
              "/dev/ttyS0: no permission (group root).");
    EXPECT_EQ(openFailureParagraph("/dev/ttyUSB0", status(PortFault::Missing), "alice"),
              "/dev/ttyUSB0: no such device.");
    EXPECT_EQ(openFailureParagraph("", denied, "alice"), "") << "nothing to name";
}

// Only a live process's exclusive flock on that very inode counts: not a waiter, a shared
// or POSIX lock, another inode, a dead process or this one.
TEST(PortDiagnosis, TheDevicesLockHolderFromTheKernelsList) {
    char path[] = "/tmp/vxlocksXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    struct stat info {};
    ASSERT_EQ(fstat(fd, &info), 0);
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    const std::string file = id;
    const std::string other = file + "7";
    const std::string parent = std::to_string(getppid());
    const std::string self = std::to_string(getpid());
    const std::string locks = std::string(path) + ".locks";
    auto holder = [&](const std::string& text) {
        std::ofstream(locks) << text;
        return flockHolder(path, locks);
    };
    EXPECT_EQ(holder("1: FLOCK  ADVISORY  WRITE " + parent + " " + file + " 0 EOF\n"),
              static_cast<long>(getppid()));
    EXPECT_EQ(holder("1: POSIX  ADVISORY  WRITE " + parent + " " + file +
                     " 0 EOF\n"
                     "2: FLOCK  ADVISORY  READ  " +
                     parent + " " + file +
                     " 0 EOF\n"
                     "3: FLOCK  ADVISORY  WRITE " +
                     parent + " " + other +
                     " 0 EOF\n"
                     "3: -> FLOCK  ADVISORY  WRITE " +
                     parent + " " + file +
                     " 0 EOF\n"
                     "4: FLOCK  ADVISORY  WRITE " +
                     self + " " + file +
                     " 0 EOF\n"
                     "5: FLOCK  ADVISORY  WRITE 999999999 " +
                     file + " 0 EOF\n"),
              0);
    EXPECT_EQ(flockHolder(std::string(path) + ".missing", locks), 0);
    ::close(fd);
    std::remove(path);
    std::remove(locks.c_str());
}

// A lock file of a process that has ended keeps everyone out of the port: it goes where this
// user may remove it; where not, the diagnosis names the file, the process and the fix, and
// never the program that has the device open.
TEST(PortDiagnosis, AStaleLockIsRemovedOrExplained) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);  // its number is now free
    const std::string dead = std::to_string(child) + "\nvxconf\nhost\n";
    ScratchFolder folder;
    folder.put("LCK..null", dead);
    EXPECT_TRUE(removeStaleLocks("/dev/null", {folder.path}));
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/LCK..null"));
    folder.put("LCK..null", std::to_string(getppid()) + "\n");
    EXPECT_FALSE(removeStaleLocks("/dev/null", {folder.path})) << "a live holder's lock stays";

    const SmallDisk disk(folder.path, "size=64k");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    std::ofstream(disk.path + "/LCK..null") << dead;
    ASSERT_EQ(mount(nullptr, disk.path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_FALSE(removeStaleLocks("/dev/null", {disk.path}));
    const PortStatus found = diagnosePort("/dev/null", false, {disk.path});
    EXPECT_EQ(found.fault, PortFault::StaleLock);
    EXPECT_EQ(openFailureParagraph("/dev/null", found, "alice"),
              "/dev/null: locked by process " + std::to_string(child) +
                  ", which has ended, in the lock file " + disk.path +
                  "/LCK..null. To remove it: sudo rm " + disk.path + "/LCK..null");
}

}  // namespace
