// Turns the raw events of the kernel programs into event records in the published layouts:
// file ids for (device, inode), paths from a mount point and dentry names, socket 4-tuples,
// process image names by the same rule the process list uses.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/kernelevents/EventRecord.h"
#include "platform/kernelevents/bpf/BpfEvents.h"

namespace platform {

// What the decoder asks of the running system; tests hand in their own.
struct TBpfSystem {
  // Mount point of the file system on device (major << 20 | minor); empty when unknown.
  std::function<std::string(std::uint32_t device)> MountPoint;
  // Disk number of a whole disk (major << 20 | minor), as the other source numbers disks.
  std::function<std::uint32_t(std::uint32_t device)> DiskNumber;
  // Instance name of a running process; empty when it is gone.
  std::function<std::string(std::uint32_t pid)> ProcessName;
  static TBpfSystem Running();
};

class TBpfDecoder {
 public:
  TBpfDecoder(TBpfSystem system, std::uint32_t enableFlags);

  // Appends the records for one raw event; an event shorter than its kind, or of no known
  // kind, yields nothing. Returns whether the event was understood.
  bool Decode(const void* data, std::size_t size, std::vector<TEventRecord>& out);

 private:
  std::uint32_t FileObjectOf(std::uint32_t device, std::uint64_t inode);
  std::string PathOf(std::uint32_t device, const ombrix_name_event& name);
  void DecodeDisk(const ombrix_disk_event& e, std::vector<TEventRecord>& out);
  void DecodeName(const ombrix_name_event& e, std::vector<TEventRecord>& out);
  void DecodeNet(const ombrix_net_event& e, std::vector<TEventRecord>& out);
  void DecodeProc(const ombrix_proc_event& e, std::vector<TEventRecord>& out);

  TBpfSystem system_;
  std::uint32_t flags_;
  std::map<std::pair<std::uint32_t, std::uint64_t>, std::uint32_t> fileObjects_;
  std::uint32_t nextFileObject_ = 1;
  std::map<std::uint32_t, std::string> mounts_;
  std::map<std::uint32_t, std::uint32_t> disks_;
};

// The mount point of each device in a mountinfo text, preferring a mount of the file system's
// root over bind mounts of its folders. Escaped characters (\040 and the like) are decoded.
std::map<std::uint32_t, std::string> ParseMountPoints(std::string_view mountinfo);

}  // namespace platform
