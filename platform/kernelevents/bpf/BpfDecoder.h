// Turns the raw events of the kernel programs into event records in the published layouts:
// file ids for (device, inode), paths from a mount point and dentry names, socket 4-tuples,
// process image names by the same rule the process list uses.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/kernelevents/EventRecord.h"
#include "platform/kernelevents/bpf/BpfEvents.h"

namespace platform {

// What the decoder asks of the running system; tests hand in their own.
struct BpfSystem {
  // Mount point of the file system on device (major << 20 | minor); empty when unknown.
  std::function<std::string(std::uint32_t device)> MountPoint;
  // Disk number of a whole disk (major << 20 | minor), as the other source numbers disks.
  std::function<std::uint32_t(std::uint32_t device)> DiskNumber;
  // Instance name of a running process; empty when it is gone.
  std::function<std::string(std::uint32_t pid)> ProcessName;
  static BpfSystem Running();
};

// Whose events the decoder passes on: everything, or the processes of one real uid (then never
// the kernel's own I/O, which is charged to the System process).
struct BpfViewer {
  bool Everything = true;
  std::uint32_t Uid = 0;
  bool Sees(std::uint32_t uid, std::uint32_t pid) const;
};

class BpfDecoder {
 public:
  BpfDecoder(BpfSystem system, std::uint32_t enableFlags, BpfViewer viewer = {});

  // Appends the records for one raw event; an event shorter than its kind, or of no known
  // kind, yields nothing. Returns whether the event was understood.
  bool Decode(const void* data, std::size_t size, RecordSink& out);
  bool Decode(const void* data, std::size_t size, std::vector<EventRecord>& out);

 private:
  // A file: its device, inode and the inode's generation.
  using FileKey = std::tuple<std::uint32_t, std::uint64_t, std::uint32_t>;
  std::uint32_t FileObjectOf(const FileKey& file);
  std::string PathOf(std::uint32_t device, const ombrix_name_event& name);
  void DecodeDisk(const ombrix_disk_event& e, RecordSink& out);
  void DecodeName(const ombrix_name_event& e, RecordSink& out);
  void DecodeNet(const ombrix_net_event& e, RecordSink& out);
  void DecodeProc(const ombrix_proc_event& e, RecordSink& out);
  void HoldName(const ombrix_name_event& e);
  void ReleaseName(const ombrix_disk_event& e, RecordSink& out);

  BpfSystem system_;
  std::uint32_t flags_;
  BpfViewer viewer_;
  // For a viewer of one uid: the kernel sends a file's name once, with the first I/O of the file,
  // which may be another user's. The name waits here until the viewer's own first I/O of it.
  std::map<FileKey, ombrix_name_event> heldNames_;
  std::set<FileKey> namesPassed_;
  std::map<FileKey, std::uint32_t> fileObjects_;
  std::uint32_t nextFileObject_ = 1;
  std::map<std::uint32_t, std::string> mounts_;
  std::map<std::uint32_t, std::uint32_t> disks_;
};

// The mount point of each device in a mountinfo text, preferring a mount of the file system's
// root over bind mounts of its folders. Escaped characters (\040 and the like) are decoded.
std::map<std::uint32_t, std::string> ParseMountPoints(std::string_view mountinfo);

}  // namespace platform
