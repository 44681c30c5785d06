// Mounts and the block devices behind them: /proc/PID/mountinfo, /sys/dev/block and
// /sys/block.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::os {

// Mount points in mountinfo escape blanks, tabs, newlines and backslashes as \ooo.
std::string UnescapeMountPath(std::string_view s);

// One line of /proc/PID/mountinfo, the fields the readers of mounts use.
struct MountEntry {
  std::uint32_t MountId = 0;
  std::uint32_t Major = 0, Minor = 0;  // the device the kernel reports for the mount
  std::string Root;                    // unescaped; the folder of the file system mounted
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

// The number of the whole disk that holds a block device (a partition's disk), counted in
// the sorted order of sysRoot/block; 0 when it is not found there.
std::uint32_t DiskNumberOf(const std::string& sysRoot, std::uint32_t major, std::uint32_t minor);

}  // namespace platform::os
