#include "platform/kernelevents/FileActivity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <tuple>

#include "platform/linux/Files.h"
#include "platform/linux/Handle.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/Processes.h"

namespace platform {

namespace {
constexpr std::uint64_t kMostGrowthPerPoll = std::uint64_t{16} << 30;  // 16 GiB
constexpr std::uint64_t kRefusedAskEvery = 16;                         // polls

constexpr std::string_view kDeleted = " (deleted)";

// The value of "key:" in a /proc file of "key:\tvalue" lines.
std::optional<std::uint64_t> FieldOf(std::string_view text, std::string_view key, int base) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(key) || line.size() <= key.size() || line[key.size()] != ':') continue;
    line.remove_prefix(key.size() + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    std::uint64_t value = 0;
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), value, base);
    if (ec != std::errc() || ptr != line.data() + line.size()) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

// Birth time of the file open as /proc/PID/fd/N, in nanoseconds; 0 when the file system keeps
// none, or the descriptor no longer holds the inode the scan read.
std::uint64_t BirthOf(const std::string& link, std::uint64_t inode) {
  struct statx info {};
  if (statx(AT_FDCWD, link.c_str(), AT_STATX_DONT_SYNC, STATX_INO | STATX_BTIME, &info) != 0 ||
      !(info.stx_mask & STATX_BTIME) || info.stx_ino != inode)
    return 0;
  return static_cast<std::uint64_t>(info.stx_btime.tv_sec) * 1000000000u + info.stx_btime.tv_nsec;
}

}  // namespace

std::optional<FdInfo> ParseFdInfo(std::string_view text) {
  const auto pos = FieldOf(text, "pos", 10);
  const auto flags = FieldOf(text, "flags", 8);
  const auto mount = FieldOf(text, "mnt_id", 10);
  const auto inode = FieldOf(text, "ino", 10);
  if (!pos || !flags || !mount || !inode || *mount > UINT32_MAX || *flags > UINT32_MAX)
    return std::nullopt;
  return FdInfo{*pos, static_cast<std::uint32_t>(*flags), static_cast<std::uint32_t>(*mount),
                *inode};
}

bool IsTrackedPath(std::string_view target) {
  return target.starts_with('/') && !target.ends_with(kDeleted);
}

FileActivity::FileActivity(bool diskRecords, bool nameRecords, std::string procRoot,
                           std::string sysRoot)
    : diskRecords_(diskRecords),
      nameRecords_(nameRecords),
      procRoot_(std::move(procRoot)),
      sysRoot_(std::move(sysRoot)),
      sysFd_(open(sysRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

int FileActivity::Open() {
  if (!os::DirStream(procRoot_).Valid()) return errno;
  std::vector<EventRecord> baseline;
  Poll(baseline);  // positions reached before we started are not ours to count
  return 0;
}

const FileActivity::Mount* FileActivity::FindMount(std::uint32_t mountId) {
  auto found = mounts_.find(mountId);
  if (found != mounts_.end()) return &found->second;
  // A mount we have not met yet: read the table again.
  const auto table = os::ReadWholeFile(procRoot_ + "/self/mountinfo");
  if (!table) return nullptr;
  for (const os::MountEntry& entry : os::ParseMountInfo(*table)) {
    if (mounts_.contains(entry.MountId)) continue;
    Mount mount;
    std::uint32_t major = 0, minor = 0;
    // btrfs and others report an anonymous device; the block device they live on counts.
    mount.Block = os::BackingBlockDevice(entry, sysFd_.Get(), major, minor);
    if (mount.Block) mount.DiskNumber = os::DiskNumberOf(sysRoot_, major, minor);
    mounts_.emplace(entry.MountId, mount);
  }
  found = mounts_.find(mountId);
  if (found == mounts_.end()) found = mounts_.emplace(mountId, Mount{}).first;  // another namespace
  return &found->second;
}

std::uint32_t FileActivity::FileObjectOf(const FileKey& key, std::uint64_t born, bool& isNew) {
  const auto [it, inserted] = fileObjects_.try_emplace(key);
  FileObject& file = it->second;
  // The same inode under the same name but born later: the file was deleted and made anew.
  // A file object of its own keeps it apart from what the old file's entities counted.
  isNew = inserted || (born != 0 && file.Born != 0 && born != file.Born);
  if (born != 0) file.Born = born;
  if (!isNew) return file.Object;
  file.Object = nextFileObject_;
  if (++nextFileObject_ == OTHER_FILE_OBJECT) nextFileObject_ = 1;
  return file.Object;
}

void FileActivity::Walk(std::uint32_t pid, Process& process, bool baseline, bool writesLead,
                        std::vector<EventRecord>& out) {
  const std::string folder = procRoot_ + "/" + std::to_string(pid);
  os::DirStream fds(folder + "/fd");
  if (!fds.Valid()) return;
  std::map<int, OpenFile> now;
  std::set<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>> counted;
  const bool self = pid == static_cast<std::uint32_t>(getpid());
  while (const dirent* entry = fds.Next()) {
    if (self && std::atoi(entry->d_name) >= os::kQuietDescriptors) continue;
    const std::string path = os::ReadLinkAt(fds.Descriptor(), entry->d_name);
    if (!IsTrackedPath(path)) continue;
    const auto text = os::ReadWholeFile(folder + "/fdinfo/" + entry->d_name);
    const auto info = text ? ParseFdInfo(*text) : std::nullopt;
    if (!info) continue;
    const Mount* mount = FindMount(info->MountId);
    if (mount == nullptr || !mount->Block) continue;
    const int fd = std::atoi(entry->d_name);
    const auto previous = process.Files.find(fd);
    std::uint64_t from = 0;
    // The same descriptor on the same file with the same open flags is taken as the same open;
    // a position that went back was rewound (or the file reopened), and counts from 0.
    if (previous != process.Files.end() && previous->second.MountId == info->MountId &&
        previous->second.Inode == info->Inode && previous->second.Flags == info->Flags)
      from = previous->second.Pos <= info->Pos ? previous->second.Pos : 0;
    else if (baseline || (info->Flags & O_APPEND) != 0)
      from = info->Pos;  // opened before we looked, or positioned at the end by the open
    now[fd] = OpenFile{info->MountId, info->Inode, info->Pos, info->Flags};
    if (info->Pos <= from) continue;
    // A position can also move by seeking. Growth no disk moves in one poll is such a jump (into
    // a sparse file, say), not a transfer: counting it would invent data and, at 4 GiB a
    // record, could ask for more records than memory holds.
    if (info->Pos - from > kMostGrowthPerPoll) continue;
    // Duplicated descriptors share one position: count it once.
    if (!counted.emplace(info->MountId, info->Inode, info->Pos).second) continue;
    bool isNew = false;
    const std::uint64_t born = BirthOf(folder + "/fd/" + entry->d_name, info->Inode);
    const std::uint32_t object = FileObjectOf({info->MountId, info->Inode, path}, born, isNew);
    if (isNew && nameRecords_) out.push_back(FileNameRecord(pid, object, path));
    if (!diskRecords_) continue;
    const int mode = static_cast<int>(info->Flags) & O_ACCMODE;
    const bool write = mode == O_WRONLY || (mode == O_RDWR && writesLead);
    for (std::uint64_t offset = from; offset < info->Pos;) {
      const auto chunk =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(info->Pos - offset, 0xFFFFFFFFu));
      out.push_back(DiskIoRecord(write ? EVENT_TYPE_DISK_WRITE : EVENT_TYPE_DISK_READ, pid,
                                 mount->DiskNumber, chunk, 0, offset, object));
      offset += chunk;
    }
  }
  process.Files = std::move(now);
}

void FileActivity::Poll(std::vector<EventRecord>& out) {
  Poll(out, os::ListPids(procRoot_));
}

void FileActivity::Poll(std::vector<EventRecord>& out, const std::vector<std::uint32_t>& pids) {
  const bool baseline = generation_++ == 0;
  for (const std::uint32_t pid : pids) {
    const auto [it, inserted] = processes_.try_emplace(pid);
    Process& process = it->second;
    process.Seen = generation_;
    // Another user's process stays closed to us: it is asked again only now and then, in case
    // it took our user id.
    if (process.Refused && (pid + generation_) % kRefusedAskEvery != 0) continue;
    const auto io = os::ReadWholeFile(procRoot_ + "/" + std::to_string(pid) + "/io");
    const auto readChars = io ? FieldOf(*io, "rchar", 10) : std::nullopt;
    const auto writeChars = io ? FieldOf(*io, "wchar", 10) : std::nullopt;
    const bool opened = inserted || process.Refused;
    process.Refused = !readChars || !writeChars;  // or gone: then forgotten below next time
    if (process.Refused) continue;
    // Only a process that read or wrote something since the last poll can have moved a file.
    const bool changed =
        opened || *readChars != process.ReadChars || *writeChars != process.WriteChars;
    const bool writesLead = *writeChars - process.WriteChars >= *readChars - process.ReadChars;
    process.ReadChars = *readChars;
    process.WriteChars = *writeChars;
    if (changed) Walk(pid, process, baseline, writesLead, out);
  }
  std::erase_if(processes_, [&](const auto& entry) { return entry.second.Seen != generation_; });
}

}  // namespace platform
