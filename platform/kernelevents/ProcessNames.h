// What the event sources need to know about a process: its instance name (the same rule the
// performance data uses, so the name does not flip between an event and the next sample), its
// parent, owner and whether it is a kernel thread.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct TProcStat {
  std::string Comm;  // between the first '(' and the last ')'
  char State = '?';
  std::uint32_t ParentId = 0;
  std::uint64_t Flags = 0;
  std::uint64_t StartTime = 0;  // clock ticks after boot
};

inline constexpr std::uint64_t PF_KTHREAD_FLAG = 0x00200000;

// Parses the text of /proc/PID/stat; nothing when it is malformed.
std::optional<TProcStat> ParseProcStat(std::string_view text);
std::optional<TProcStat> ReadProcStat(std::uint32_t pid);

// comm, or the executable's base name when comm may have been cut to 15 bytes and that name
// starts with it.
std::string InstanceNameOf(const TProcStat& stat, std::string_view imagePath);

// The instance name of a running process, empty when it is gone. The performance data
// provider defines it, so that events and samples name a process by one rule.
std::string ProcessInstanceName(std::uint32_t pid);

// Owner of the process (the owner of its /proc folder); nothing when it is gone.
std::optional<std::uint32_t> ProcessUid(std::uint32_t pid);

// Reads a small /proc file whole; nothing when it cannot be opened.
std::optional<std::string> ReadProcFile(const std::string& path);

}  // namespace platform
