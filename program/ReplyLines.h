#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The VX310's reply lines while a user program is uploaded, and its error reports.

struct ResponseLine {
    std::string line;       // printable characters, carriage returns as line feeds
    bool waitSeen = false;  // the buffer holds ", wait..", terminators in it or not
};

// Takes the last complete line out of the receive buffer b[0..count-1] and keeps the rest
// for later ticks. The buffer needs room for a terminator at b[count], also when it is
// full. Call only with count > 0.
ResponseLine ExtractResponseLine(std::uint8_t* buffer, std::size_t& count);

// "VX310 reported:\n\n" and the table text for codes 0..15 (taken as unsigned), else the line.
std::string FormatDeviceError(int code, const std::string& line);

// The number after "Error=" at the start of the line, read as "%d" reads it; nothing when
// the line does not begin so or no number follows.
bool parseDeviceError(const std::string& line, int& code);
