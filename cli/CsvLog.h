#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The record vxconf-cli keeps of each unit it works on: one CSV line (RFC 4180) a run.

inline const std::vector<std::string> kLogColumns{"time",    "device", "serial", "version",
                                                  "command", "file",   "result", "message"};

// A field as RFC 4180 has it: in double quotes, with its quotes doubled, when it holds a
// comma, a quote or a line break.
std::string csvField(std::string_view text);
// The fields, separated by commas, ending in CR LF.
std::string csvLine(const std::vector<std::string>& fields);
// "2026-12-09T03:04:05Z"
std::string isoTimeUtc(std::time_t time);

class CsvLog {
public:
    // Opens path for appending, creating it. False, with the reason in error, when that fails
    // or path is not a regular file.
    bool open(const std::string& path, std::string& error);
    // Appends the line, with the header first when the file is empty. The whole text is one
    // write under an exclusive lock, so that stations sharing a file never mix their lines.
    bool append(const std::vector<std::string>& fields, std::string& error);
    bool isOpen() const { return m_fd >= 0; }

    CsvLog() = default;
    ~CsvLog();
    // It owns its descriptor.
    CsvLog(const CsvLog&) = delete;
    CsvLog& operator=(const CsvLog&) = delete;

private:
    int m_fd = -1;
};
