// /proc/PID/stat: the one reader of its line, every field it takes named by its number in
// proc(5), and the rule that completes a process's 15-byte command name.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::os {

struct ProcStat {
  std::string Comm;              // (2) between the first '(' and the last ')'
  char State = '?';              // (3)
  std::uint32_t ParentId = 0;    // (4) ppid
  std::uint64_t Flags = 0;       // (9) PF_* flags
  std::uint64_t UTime = 0;       // (14) clock ticks in user mode
  std::uint64_t STime = 0;       // (15) clock ticks in kernel mode
  std::uint64_t NumThreads = 0;  // (20)
  std::uint64_t StartTime = 0;   // (22) clock ticks after boot
  // Every field up to the start time is there and the named ones are plain numbers. Readers
  // that act on the parent or the start time want that; the figures read a cut line as zeros.
  bool Whole = false;

  bool IsKernelThread() const { return (Flags & kKernelThreadFlag) != 0; }
  static constexpr std::uint64_t kKernelThreadFlag = 0x00200000;  // PF_KTHREAD
};

// The line parsed; nothing without a command name in parentheses and a state after it. A
// missing or damaged field reads as 0 (a negative one by its magnitude) and leaves Whole false.
std::optional<ProcStat> ParseProcStat(std::string_view text);

// The stat of a running process when its line is whole; nothing when it is gone.
std::optional<ProcStat> ReadProcStat(std::uint32_t pid);

// The kernel keeps 15 bytes of a command name. A name of that length may have been cut: when
// the executable's file name starts with it, that file name is the whole name.
std::string CompleteComm(std::string_view comm, std::string_view executablePath);

}  // namespace platform::os
