#include "FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

FileRead readFileStart(const std::string& path, const FileReadOptions& options, std::string& out) {
    out.clear();
    if (options.truncated != nullptr) {
        *options.truncated = false;
    }
    // Without O_NONBLOCK, opening a FIFO would wait for a writer before we could refuse it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? FileRead::Missing : FileRead::OpenFailed;
    }
    struct stat st {};
    if (options.regularOnly && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        return FileRead::OpenFailed;
    }
    if (options.waitForData) {
        const int status = ::fcntl(fd, F_GETFL);
        if (status != -1) {
            ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
        }
    }
    // One byte past the limit tells whether there is more.
    const std::size_t want = options.limit + (options.truncated != nullptr ? 1 : 0);
    out.assign(want, '\0');
    std::size_t done = 0;
    FileRead result = FileRead::Ok;
    while (done < want) {
        const ssize_t n = ::read(fd, &out[done], want - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            result = FileRead::ReadFailed;
            break;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(done);
    if (done > options.limit) {
        out.resize(options.limit);
        *options.truncated = true;
    }
    return result;
}
