// The process-status service: what the system can tell about another process.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Full path of the process's executable; empty when it cannot be read (the process has
// ended, or belongs to another user and we lack the privilege).
std::string ProcessImagePath(std::uint32_t pid);

// The executable a /proc/<pid>/exe link leads to, as the path it was started from: the
// " (deleted)" mark the kernel adds once that file has been removed or replaced is left
// off. Empty when the link cannot be read.
std::string ExecutableOfLink(const std::string& link);

}  // namespace platform
