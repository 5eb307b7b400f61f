#include "CsvLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string field = "\"";
    for (const char ch : text) {
        if (ch == '"') {
            field += '"';
        }
        field += ch;
    }
    return field + "\"";
}

std::string csvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += csvField(fields[i]);
    }
    return line + "\r\n";
}

std::string isoTimeUtc(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool CsvLog::open(const std::string& path, std::string& error) {
    // Non-blocking, so that a FIFO in its place cannot hang the run; refused below.
    // Read access too: an append looks at the last byte there.
    m_fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (m_fd < 0) {
        error = "Unable to write file: \"" + path + "\"? (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        error = "Unable to write file: \"" + path + "\"? (not a regular file)";
        return false;
    }
    return true;
}

bool CsvLog::append(const std::vector<std::string>& fields, std::string& error) {
    if (m_fd < 0) {
        error = "The record file is not open";
        return false;
    }
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            break;  // no locks here (some network file systems): O_APPEND alone must do
        }
    }
    struct stat info {};
    const off_t size = ::fstat(m_fd, &info) == 0 ? info.st_size : -1;
    std::string text;
    char last = '\n';
    if (size == 0) {
        text = csvLine(kLogColumns);
    } else if (size > 0 && ::pread(m_fd, &last, 1, size - 1) == 1 && last != '\n') {
        text = "\r\n";  // a line someone else left unfinished stays apart from ours
    }
    text += csvLine(fields);
    const ssize_t written = ::write(m_fd, text.data(), text.size());
    const int writeErrno = errno;
    if (written > 0 && written != static_cast<ssize_t>(text.size()) && size >= 0) {
        // A full disk took part of the line: a record line is there whole or not at all.
        while (::ftruncate(m_fd, size) != 0 && errno == EINTR) {
        }
    }
    ::flock(m_fd, LOCK_UN);
    if (written != static_cast<ssize_t>(text.size())) {
        error = std::string("Unable to append to the record file: ") +
                (written < 0 ? std::strerror(writeErrno) : "short write");
        return false;
    }
    return true;
}

CsvLog::~CsvLog() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}
