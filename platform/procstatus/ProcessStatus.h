// The process-status service: what the system can tell about another process.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Full path of the process's executable; empty when it cannot be read (the process has
// ended, or belongs to another user and we lack the privilege).
std::string ProcessImagePath(std::uint32_t pid);

}  // namespace platform
