// The processes in /proc: their ids and owners.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::os {

// The entries of a folder whose names are whole decimal numbers that fit 32 bits, in the order
// the folder lists them: the processes of /proc, the threads of /proc/PID/task. Empty when the
// folder cannot be read.
std::vector<std::uint32_t> NumberedEntries(int dirFd, const char* path);

// The ids of the processes in /proc, or in a folder standing in for it.
std::vector<std::uint32_t> ListPids(const std::string& procRoot = "/proc");

// The owner of a process (the owner of its /proc folder); nothing when it is gone.
std::optional<std::uint32_t> ProcessUid(std::uint32_t pid);

}  // namespace platform::os
