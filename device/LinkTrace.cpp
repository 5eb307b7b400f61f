#include "LinkTrace.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/FileWrite.h"

namespace {

constexpr std::size_t kBytesPerLine = 16;

std::uint64_t steadyMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::string traceLine(std::uint64_t ms, const char* direction, const std::uint8_t* data,
                      std::size_t count) {
    char head[48];
    std::snprintf(head, sizeof head, "%8llu %s", static_cast<unsigned long long>(ms), direction);
    std::string text = head;
    std::string printable;
    for (std::size_t i = 0; i < kBytesPerLine; ++i) {
        if (i < count) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", data[i]);
            text += hex;
            printable += data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.';
        } else {
            text += "   ";
        }
    }
    return text + "  |" + printable + "|";
}

TraceFile::TraceFile(const std::string& path, Clock clock)
    : m_clock(clock ? std::move(clock) : Clock(steadyMs)) {
    m_fd = openRegularForWriting(path, O_APPEND, m_error);
    if (m_fd < 0) {
        return;
    }
    m_start = m_clock();
    line("# times in ms since the trace began; TX: PC to VX310, RX: VX310 to PC");
}

std::string droppedText(unsigned lines, const std::string& reason) {
    return "trace: " + std::to_string(lines) + (lines == 1 ? " line" : " lines") + " dropped" +
           (reason.empty() ? std::string() : " (" + reason + ")");
}

TraceFile::~TraceFile() {
    if (m_fd < 0) {
        return;
    }
    if (m_dropped > 0) {
        // Said in the trace too, when there is room for it by now.
        writeWhole("# " + droppedText(m_dropped, m_dropReason) + "\n");
    }
    ::close(m_fd);
}

std::uint64_t TraceFile::now() const {
    return m_clock() - m_start;
}

int TraceFile::writeWhole(const std::string& text) {
    std::size_t done = 0;
    int error = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (error != 0 && done > 0) {
        // No part of a line: the next one must not be glued to a fragment.
        const off_t end = ::lseek(m_fd, 0, SEEK_END);
        if (end >= static_cast<off_t>(done) && ::ftruncate(m_fd, end - static_cast<off_t>(done))) {
        }
    }
    return error;
}

void TraceFile::line(const std::string& text) {
    if (m_fd < 0) {
        return;
    }
    // A trace that cannot be written must not get in the way of the work it watches: the
    // line is dropped and counted. A regular file takes a write at once or fails it.
    const int error = writeWhole(text + "\n");
    if (error != 0 && m_dropped++ == 0) {
        m_dropReason = std::strerror(error);
    }
}

void TraceFile::bytes(const char* direction, const std::uint8_t* data, std::size_t count,
                      std::string_view note) {
    const std::uint64_t ms = now();
    for (std::size_t at = 0; at < count; at += kBytesPerLine) {
        std::string text = traceLine(ms, direction, data + at, std::min(kBytesPerLine, count - at));
        if (at + kBytesPerLine >= count && !note.empty()) {
            text += " ";
            text += note;
        }
        line(text);
    }
}

void TraceFile::sent(const std::uint8_t* data, std::size_t count, bool ok) {
    bytes("TX", data, count, ok ? "" : "(write failed)");
}

void TraceFile::received(const std::uint8_t* data, std::size_t count) {
    bytes("RX", data, count, "");
}

void TraceFile::event(std::string_view text) {
    char head[32];
    std::snprintf(head, sizeof head, "%8llu --", static_cast<unsigned long long>(now()));
    line(head + std::string(" ") + std::string(text));
}
