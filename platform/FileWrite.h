#pragma once

#include <string>

// Files the program writes (configuration files, programs, the record, the trace) are
// regular files. Anything else at the path, or behind a link there, is refused: writing
// would block on a FIFO or go into a device, and replacing it would destroy the node.

inline constexpr char kNotRegularReason[] = "not a regular file";

// Empty when path may be written: nothing is there yet, or a regular file (or a folder,
// which fails later as itself). Otherwise why not, in words.
std::string unwritableReason(const std::string& path);

// Opens path for writing, creating it (flags may add O_APPEND), without ever waiting for a
// FIFO's reader; the descriptor, in blocking mode, or -1 with the reason in words. Nothing
// is truncated: a caller that wants an empty file truncates once this has succeeded.
int openRegularForWriting(const std::string& path, int flags, std::string& reason);
