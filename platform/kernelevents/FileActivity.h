// File I/O per process and file from the open files in /proc: each poll, the growth of an open
// file's position becomes a disk I/O record, preceded by a name record the first time its file
// is seen. Only regular files on filesystems that a block device holds count.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/kernelevents/EventRecord.h"
#include "platform/linux/Handle.h"

namespace platform {

// The fields of /proc/PID/fdinfo/FD that the scan uses.
struct FdInfo {
  std::uint64_t Pos = 0;
  std::uint32_t Flags = 0;  // open flags, octal in the file
  std::uint32_t MountId = 0;
  std::uint64_t Inode = 0;
};
std::optional<FdInfo> ParseFdInfo(std::string_view text);

// Regular files only; symbolic link target and the " (deleted)" mark decide.
bool IsTrackedPath(std::string_view target);

class FileActivity {
 public:
  // The roots of the proc and sys file systems; tests give folders of their own.
  FileActivity(bool diskRecords, bool nameRecords, std::string procRoot = "/proc",
               std::string sysRoot = "/sys");
  int Open();  // 0, or the errno when /proc cannot be read
  void Poll(std::vector<EventRecord>& out);
  // The same with the pids listed by the caller.
  void Poll(std::vector<EventRecord>& out, const std::vector<std::uint32_t>& pids);

 private:
  struct Mount {
    bool Block = false;
    std::uint32_t DiskNumber = 0;
  };
  struct OpenFile {
    std::uint32_t MountId = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Pos = 0;
    std::uint32_t Flags = 0;
  };
  struct Process {
    std::uint64_t ReadChars = 0, WriteChars = 0;
    std::uint64_t Seen = 0;
    bool Refused = false;           // its io file is not ours to read
    std::map<int, OpenFile> Files;  // by descriptor
  };
  // A file as the scan tells files apart: its mount, inode and name. A new file that takes
  // over a deleted one's inode differs by name, or else by its birth time.
  using FileKey = std::tuple<std::uint32_t, std::uint64_t, std::string>;
  struct FileObject {
    std::uint32_t Object = 0;
    std::uint64_t Born = 0;  // nanoseconds since 1970; 0 when the file system does not say
  };
  void Walk(std::uint32_t pid, Process& process, bool baseline, bool writesLead,
            std::vector<EventRecord>& out);
  const Mount* FindMount(std::uint32_t mountId);
  std::uint32_t FileObjectOf(const FileKey& key, std::uint64_t born, bool& isNew);

  bool diskRecords_, nameRecords_;
  std::string procRoot_, sysRoot_;
  os::Fd sysFd_;
  std::uint64_t generation_ = 0;
  std::map<std::uint32_t, Process> processes_;
  std::map<std::uint32_t, Mount> mounts_;
  std::map<FileKey, FileObject> fileObjects_;
  std::uint32_t nextFileObject_ = 1;
};

}  // namespace platform
