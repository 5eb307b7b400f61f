#pragma once

#include <cstddef>
#include <string>

// Reading the start of a file the user or the program chose, without ever waiting: a FIFO
// or device at the path must not hang the program.

enum class FileRead {
    Ok,          // out holds the file's first bytes, up to the limit
    Missing,     // no such file
    OpenFailed,  // there, but it cannot be opened (or is not a regular file, when asked)
    ReadFailed   // a read failed; out holds what came before it
};

struct FileReadOptions {
    std::size_t limit = 0;      // bytes to read at most
    bool regularOnly = false;   // refuse what is not a regular file
    bool* truncated = nullptr;  // set when the file holds more than limit
    // Once open, wait for a pipe's data instead of taking what is there: for a file the
    // user pipes in (load /dev/stdin), whose writer may not have written yet.
    bool waitForData = false;
};

FileRead readFileStart(const std::string& path, const FileReadOptions& options, std::string& out);
