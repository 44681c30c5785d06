// Small, allocation-free readers of /proc and /sys text files for the performance data
// provider. Parsers take the text and never trust it: a malformed field reads as 0.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::procfs {

// Reads whole files into one reusable buffer.
class FileReader {
 public:
  FileReader();
  // The file's text, valid until the next Read; empty when it cannot be read.
  std::string_view Read(const char* path);
  // The same relative to an open directory (saves the lookup of that directory).
  std::string_view ReadAt(int dirFd, const char* path);
  bool Ok() const { return ok_; }

 private:
  std::string buf_;
  bool ok_ = false;
};

// Parses an unsigned decimal at the start of s (after blanks); advances s past it.
std::uint64_t NextNumber(std::string_view& s);
// The value of "key" in a "key: value ..." or "key value" line list (meminfo, vmstat,
// status, io), or 0 when missing.
std::uint64_t KeyedValue(std::string_view text, std::string_view key);

// /proc/PID/stat: comm sits between the first '(' and the last ')' because it may hold
// both ')' and blanks.
struct ProcStat {
  bool Ok = false;
  std::string_view Comm;
  char State = '?';
  std::uint64_t Flags = 0;       // field 9
  std::uint64_t UTime = 0;       // field 14, clock ticks
  std::uint64_t STime = 0;       // field 15
  std::uint64_t NumThreads = 0;  // field 20
  std::uint64_t StartTime = 0;   // field 22
};
ProcStat ParseProcStat(std::string_view text);

inline constexpr std::uint64_t PF_KTHREAD = 0x00200000;

// Mount points in mountinfo escape blanks, tabs, newlines and backslashes as \ooo.
std::string UnescapeMountPath(std::string_view s);

// One line of /proc/PID/mountinfo, the fields the readers of mounts use.
struct MountEntry {
  std::uint32_t MountId = 0;
  std::uint32_t Major = 0, Minor = 0;  // the device the kernel reports for the mount
  std::string MountPoint;              // unescaped
  std::string Source;                  // unescaped; the field after the file system type
};
// The mounts of a mountinfo text in its order; lines that lack a field are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The block device that holds a mount's data, looked up in the /sys open as sysFd: the
// mount's own device when /sys lists it as a block device, else the block device its
// source names (btrfs and others report an anonymous 0:N device for their mounts). False
// when there is none (proc, tmpfs, network file systems).
bool BackingBlockDevice(const MountEntry& mount, int sysFd, std::uint32_t& major,
                        std::uint32_t& minor);

}  // namespace platform::procfs
