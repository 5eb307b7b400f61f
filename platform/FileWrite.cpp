#include "FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string unwritableReason(const std::string& path) {
    struct stat info {};
    // stat follows links: a link to a FIFO is a FIFO here. A folder is left to fail as
    // any file that cannot be created does.
    if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) {
        return {};
    }
    return kNotRegularReason;
}

int openRegularForWriting(const std::string& path, int flags, std::string& reason) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags, 0666);
    if (fd < 0) {
        // A FIFO without a reader does not open without blocking: it is no regular file.
        reason = errno == ENXIO ? kNotRegularReason : std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        reason = kNotRegularReason;
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
        reason = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}
