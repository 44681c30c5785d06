#include "platform/kernelevents/bpf/BpfDecoder.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/Files.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/ProcStat.h"
#include "platform/perfdata/LinuxProvider.h"

namespace platform {
namespace {

constexpr std::uint32_t Device(std::uint32_t major, std::uint32_t minor) {
  return major << 20 | minor;
}

// A fixed field of the kernel's event as text: up to its first NUL, never past its end.
std::string_view FieldText(const char* field, std::size_t size) {
  return {field, strnlen(field, size)};
}

std::string RunningMountPoint(std::uint32_t device) {
  const auto text = os::ReadWholeFile("/proc/self/mountinfo");
  if (!text) return {};
  const auto points = ParseMountPoints(*text);
  const auto found = points.find(device);
  return found == points.end() ? std::string() : found->second;
}

// Index of the disk among the sorted names in /sys/block: the numbering of the other source.
std::uint32_t RunningDiskNumber(std::uint32_t device) {
  return os::DiskNumberOf("/sys", device >> 20, device & 0xFFFFF);
}

}  // namespace

std::map<std::uint32_t, std::string> ParseMountPoints(std::string_view mountinfo) {
  std::map<std::uint32_t, std::string> points;
  std::map<std::uint32_t, bool> ofRoot;
  for (os::MountEntry& mount : os::ParseMountInfo(mountinfo)) {
    if (mount.Major >= 1u << 12 || mount.Minor >= 1u << 20) continue;  // no kernel device number
    const std::uint32_t device = Device(mount.Major, mount.Minor);
    const bool root = mount.Root == "/";
    // The first mount of the root wins; a bind mount serves only until one turns up.
    if (points.contains(device) && (ofRoot[device] || !root)) continue;
    if (mount.MountPoint == "/") mount.MountPoint.clear();  // paths are joined with "/" after it
    points[device] = std::move(mount.MountPoint);
    ofRoot[device] = root;
  }
  return points;
}

BpfSystem BpfSystem::Running() {
  return {RunningMountPoint, RunningDiskNumber, ProcessInstanceName};
}

bool BpfViewer::Sees(std::uint32_t uid, std::uint32_t pid) const {
  return Everything || (uid == Uid && pid != SYSTEM_PROCESS && pid != NO_PROCESS);
}

BpfDecoder::BpfDecoder(BpfSystem system, std::uint32_t enableFlags, BpfViewer viewer)
    : system_(std::move(system)), flags_(enableFlags), viewer_(viewer) {}

std::uint32_t BpfDecoder::FileObjectOf(const FileKey& file) {
  const auto [it, inserted] = fileObjects_.try_emplace(file, nextFileObject_);
  if (inserted && ++nextFileObject_ == OTHER_FILE_OBJECT) nextFileObject_ = 1;
  return it->second;
}

std::string BpfDecoder::PathOf(std::uint32_t device, const ombrix_name_event& name) {
  auto mount = mounts_.find(device);
  if (mount == mounts_.end())
    mount = mounts_.emplace(device, system_.MountPoint ? system_.MountPoint(device) : std::string())
                .first;
  // A file system mounted nowhere we can see gets its path from its own root.
  std::string path = mount->second;
  if (!name.complete) path += "/...";
  const std::uint32_t depth = std::min<std::uint32_t>(name.depth, OMBRIX_NAME_DEPTH);
  for (std::uint32_t k = depth; k-- > 0;) {
    const std::string_view part = FieldText(name.parts[k], OMBRIX_NAME_PART);
    if (part.empty()) continue;
    path += '/';
    path += part;
  }
  return path;
}

void BpfDecoder::DecodeName(const ombrix_name_event& e, RecordSink& out) {
  if ((flags_ & EVENT_TRACE_FLAG_DISK_FILE_IO) == 0 || e.depth == 0) return;
  if (!viewer_.Sees(e.uid, e.pid)) return HoldName(e);
  if (!viewer_.Everything) namesPassed_.insert({e.file_dev, e.ino, e.gen});
  const std::uint32_t object = FileObjectOf({e.file_dev, e.ino, e.gen});
  out.Add(FileNameRecord(e.pid, object, PathOf(e.file_dev, e)));
}

void BpfDecoder::HoldName(const ombrix_name_event& e) {
  constexpr std::size_t kMostHeld = 65536;  // as many as the kernel remembers as named
  if (heldNames_.size() >= kMostHeld) heldNames_.erase(heldNames_.begin());
  heldNames_.insert_or_assign({e.file_dev, e.ino, e.gen}, e);
}

// Passes on a held name when the viewer's own I/O first touches its file, as its own.
void BpfDecoder::ReleaseName(const ombrix_disk_event& e, RecordSink& out) {
  const FileKey file{e.file_dev, e.ino, e.gen};
  if (viewer_.Everything || !e.has_file || namesPassed_.contains(file)) return;
  const auto held = heldNames_.find(file);
  if (held == heldNames_.end()) return;
  ombrix_name_event name = held->second;
  heldNames_.erase(held);
  name.pid = e.pid;
  name.uid = e.uid;
  DecodeName(name, out);
}

void BpfDecoder::DecodeDisk(const ombrix_disk_event& e, RecordSink& out) {
  if ((flags_ & EVENT_TRACE_FLAG_DISK_IO) == 0 || !viewer_.Sees(e.uid, e.pid)) return;
  ReleaseName(e, out);
  const std::uint32_t object =
      e.has_file ? FileObjectOf({e.file_dev, e.ino, e.gen}) : OTHER_FILE_OBJECT;
  auto disk = disks_.find(e.disk_dev);
  if (disk == disks_.end())
    disk =
        disks_.emplace(e.disk_dev, system_.DiskNumber ? system_.DiskNumber(e.disk_dev) : 0).first;
  out.AddDiskIo(e.write ? EVENT_TYPE_DISK_WRITE : EVENT_TYPE_DISK_READ, e.pid, disk->second,
                e.bytes, e.response_us, e.offset, object);
}

void BpfDecoder::DecodeNet(const ombrix_net_event& e, RecordSink& out) {
  if ((flags_ & EVENT_TRACE_FLAG_NETWORK_TCPIP) == 0 || !viewer_.Sees(e.uid, e.pid)) return;
  out.AddNetwork(e.udp ? UdpIpGuid : TcpIpGuid, e.recv ? EVENT_TYPE_NET_RECV : EVENT_TYPE_NET_SEND,
                 e.pid, e.size, ntohl(e.daddr), ntohl(e.saddr), ntohs(e.dport), ntohs(e.sport));
}

void BpfDecoder::DecodeProc(const ombrix_proc_event& e, RecordSink& out) {
  if ((flags_ & EVENT_TRACE_FLAG_PROCESS) == 0 || !viewer_.Sees(e.uid, e.pid)) return;
  const std::string_view comm = FieldText(e.comm, sizeof e.comm);
  const std::string_view image = FieldText(e.image, sizeof e.image);
  std::string name;
  // A fork carries on the parent's program, so it carries the parent's name; the kernel sends
  // that program's name, else the parent is asked for it.
  if (!e.exec && image.empty() && system_.ProcessName) name = system_.ProcessName(e.ppid);
  if (name.empty()) name = os::CompleteComm(comm, image);
  out.Add(ProcessStartRecord(e.pid, e.ppid, e.uid, name));
}

bool BpfDecoder::Decode(const void* data, std::size_t size, std::vector<EventRecord>& out) {
  RecordList list(out);
  return Decode(data, size, list);
}

bool BpfDecoder::Decode(const void* data, std::size_t size, RecordSink& out) {
  std::uint32_t kind = 0;
  if (data == nullptr || size < sizeof kind) return false;
  std::memcpy(&kind, data, sizeof kind);
  // Copied out of the ring whole, or not at all: an event shorter than its kind is refused.
  const auto as = [&](auto decode, auto event) {
    if (size < sizeof event) return false;
    std::memcpy(&event, data, sizeof event);
    (this->*decode)(event, out);
    return true;
  };
  switch (kind) {
    case OMBRIX_EV_DISK:
      return as(&BpfDecoder::DecodeDisk, ombrix_disk_event{});
    case OMBRIX_EV_NAME:
      return as(&BpfDecoder::DecodeName, ombrix_name_event{});
    case OMBRIX_EV_NET:
      return as(&BpfDecoder::DecodeNet, ombrix_net_event{});
    case OMBRIX_EV_PROC:
      return as(&BpfDecoder::DecodeProc, ombrix_proc_event{});
    default:
      return false;
  }
}

}  // namespace platform
