#pragma once

#include <string>

// Writes a whole file so that it is either the complete new file or the old one: a failed
// write leaves an earlier file as it was and nothing half-written beside it.
class FileSaver {
public:
    virtual ~FileSaver() = default;
    virtual bool save(const std::string& path, const std::string& bytes) = 0;
    // Why the last save was refused, when there is more to say than that it failed (a FIFO
    // or a device at the path); empty otherwise.
    virtual std::string refusal() const { return {}; }
};

// " (REASON)" after a write-failure text, or nothing.
inline std::string reasonSuffix(const std::string& reason) {
    return reason.empty() ? std::string() : " (" + reason + ")";
}
