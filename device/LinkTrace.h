#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// What passes through the serial link, for a support trace.
class LinkTrace {
public:
    virtual ~LinkTrace() = default;
    // Bytes handed to the port, and whether the write succeeded.
    virtual void sent(const std::uint8_t* data, std::size_t count, bool ok) = 0;
    virtual void received(const std::uint8_t* data, std::size_t count) = 0;
    // Opening and closing the port, in words.
    virtual void event(std::string_view text) = 0;
};

// A trace written to a file: each line starts with the milliseconds since the trace began,
// then the direction ("TX" from the PC, "RX" from the VX310), up to 16 bytes in hex and
// the same bytes as text, with '.' for anything unprintable. Every line is one write, so
// a crash loses no more than the line under way.
class TraceFile : public LinkTrace {
public:
    using Clock = std::function<std::uint64_t()>;  // milliseconds

    // Appends to path, creating it; ok() tells whether that worked. Only a regular file
    // will do: a FIFO or a terminal could hold up the wire while they wait for a reader.
    explicit TraceFile(const std::string& path, Clock clock = {});
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    bool ok() const { return m_fd >= 0; }
    // Why opening failed, in words.
    const std::string& error() const { return m_error; }
    // Lines that could not be written (a full disk), and why the first of them was not. The
    // trace goes on with what fits; the work it watches is never held up or failed by it.
    unsigned dropped() const { return m_dropped; }
    const std::string& dropReason() const { return m_dropReason; }

    void sent(const std::uint8_t* data, std::size_t count, bool ok) override;
    void received(const std::uint8_t* data, std::size_t count) override;
    void event(std::string_view text) override;

private:
    void bytes(const char* direction, const std::uint8_t* data, std::size_t count,
               std::string_view note);
    void line(const std::string& text);
    // Writes text whole or, cutting back what went, not at all; 0 or the error.
    int writeWhole(const std::string& text);
    std::uint64_t now() const;

    int m_fd = -1;
    std::string m_error;
    unsigned m_dropped = 0;
    std::string m_dropReason;
    Clock m_clock;
    std::uint64_t m_start = 0;
};

// "trace: N lines dropped (REASON)"
std::string droppedText(unsigned lines, const std::string& reason);

// One line of bytes, without its line break: "    1234 TX 05 44 ...  |.D|".
std::string traceLine(std::uint64_t ms, const char* direction, const std::uint8_t* data,
                      std::size_t count);
