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

    // Appends to path, creating it; ok() tells whether that worked.
    explicit TraceFile(const std::string& path, Clock clock = {});
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    bool ok() const { return m_fd >= 0; }
    // Why opening failed, in words.
    const std::string& error() const { return m_error; }

    void sent(const std::uint8_t* data, std::size_t count, bool ok) override;
    void received(const std::uint8_t* data, std::size_t count) override;
    void event(std::string_view text) override;

private:
    void bytes(const char* direction, const std::uint8_t* data, std::size_t count,
               std::string_view note);
    void line(const std::string& text);
    std::uint64_t now() const;

    int m_fd = -1;
    std::string m_error;
    Clock m_clock;
    std::uint64_t m_start = 0;
};

// One line of bytes, without its line break: "    1234 TX 05 44 ...  |.D|".
std::string traceLine(std::uint64_t ms, const char* direction, const std::uint8_t* data,
                      std::size_t count);
