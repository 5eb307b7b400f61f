#pragma once

#include <string>

// Writes a whole file so that it is either the complete new file or the old one: a failed
// write leaves an earlier file as it was and nothing half-written beside it.
class FileSaver {
public:
    virtual ~FileSaver() = default;
    virtual bool save(const std::string& path, const std::string& bytes) = 0;
};
