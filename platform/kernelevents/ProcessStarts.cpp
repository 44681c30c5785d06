#include "platform/kernelevents/ProcessStarts.h"

#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/Netlink.h"
#include "platform/linux/ProcStat.h"
#include "platform/linux/Processes.h"
#include "platform/perfdata/LinuxProvider.h"

namespace platform {
namespace {

constexpr int kReceiveBuffer = 4 << 20;  // bursts of forks must not overrun it

}  // namespace

std::optional<EventRecord> StartRecordOf(std::uint32_t pid, bool useParentName) {
  const auto stat = os::ReadProcStat(pid);
  if (!stat || stat->IsKernelThread() || stat->State == 'Z') return std::nullopt;
  std::string name;
  if (useParentName) {
    const auto parent = os::ReadProcStat(stat->ParentId);
    if (stat->ParentId == SYSTEM_PROCESS || (parent && parent->IsKernelThread()))
      return std::nullopt;
    name = ProcessInstanceName(stat->ParentId);
  }
  if (name.empty()) name = ProcessInstanceName(pid);
  const auto uid = os::ProcessUid(pid);
  if (name.empty() || !uid) return std::nullopt;  // ended while we looked
  return ProcessStartRecord(pid, stat->ParentId, *uid, name);
}

int ProcConnector::Open() {
  os::Fd fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_CONNECTOR));
  if (!fd) return errno;
  if (setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) != 0)
    setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = CN_IDX_PROC;
  // nlmsghdr, cn_msg and the operation, back to back.
  constexpr std::size_t kLength = NLMSG_LENGTH(sizeof(cn_msg) + sizeof(proc_cn_mcast_op));
  nlmsghdr request[(kLength + sizeof(nlmsghdr) - 1) / sizeof(nlmsghdr)] = {};
  nlmsghdr* header = request;
  header->nlmsg_len = kLength;
  header->nlmsg_type = NLMSG_DONE;
  auto* message = static_cast<cn_msg*>(NLMSG_DATA(header));
  message->id = {CN_IDX_PROC, CN_VAL_PROC};
  message->len = sizeof(proc_cn_mcast_op);
  const proc_cn_mcast_op op = PROC_CN_MCAST_LISTEN;
  std::memcpy(message->data, &op, sizeof op);
  if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      send(fd.Get(), request, kLength, 0) < 0)
    return errno;
  fd_ = std::move(fd);
  return 0;
}

void ProcConnector::Read(std::vector<EventRecord>& out) {
  nlmsghdr buffer[16384 / sizeof(nlmsghdr)];
  for (;;) {
    const ssize_t n = recv(fd_.Get(), buffer, sizeof buffer, 0);
    if (n < 0) {
      if (errno == ENOBUFS) {  // the kernel dropped messages; go on with the next ones
        ++lost_;
        continue;
      }
      return;  // EAGAIN: drained
    }
    os::ForEachNetlinkMessage(
        buffer, static_cast<std::size_t>(n),
        [&](const nlmsghdr&, const std::uint8_t* payload, std::size_t length) {
          if (length < sizeof(cn_msg)) return true;
          cn_msg message{};
          std::memcpy(&message, payload, sizeof message);
          const std::size_t room = length - sizeof(cn_msg);
          Decode(payload + sizeof(cn_msg), std::min<std::size_t>(message.len, room), out);
          return true;
        });
  }
}

void ProcConnector::Decode(const void* data, std::size_t length, std::vector<EventRecord>& out) {
  proc_event event{};
  if (length < offsetof(proc_event, event_data)) return;
  std::memcpy(&event, data, std::min(length, sizeof event));
  std::optional<EventRecord> record;
  if (event.what == proc_event::PROC_EVENT_FORK) {
    const auto& fork = event.event_data.fork;
    // A new thread of an existing process is not a start.
    if (fork.child_pid != fork.child_tgid) return;
    record = StartRecordOf(static_cast<std::uint32_t>(fork.child_tgid), true);
  } else if (event.what == proc_event::PROC_EVENT_EXEC) {
    record = StartRecordOf(static_cast<std::uint32_t>(event.event_data.exec.process_tgid), false);
  }
  if (record) out.push_back(std::move(*record));
}

void ProcessScan::Open() {
  const auto self = os::ReadProcStat(static_cast<std::uint32_t>(getpid()));
  since_ = self ? self->StartTime : 0;
  known_ = os::ListPids();
  std::sort(known_.begin(), known_.end());
}

void ProcessScan::Poll(std::vector<EventRecord>& out) {
  Poll(out, os::ListPids());
}

void ProcessScan::Poll(std::vector<EventRecord>& out, const std::vector<std::uint32_t>& pids) {
  std::vector<std::uint32_t> now(pids);
  std::sort(now.begin(), now.end());  // /proc lists in order: this costs a pass
  for (const std::uint32_t pid : now) {
    if (std::binary_search(known_.begin(), known_.end(), pid)) continue;
    const auto stat = os::ReadProcStat(pid);
    if (!stat || stat->StartTime < since_) continue;
    if (auto record = StartRecordOf(pid, false)) out.push_back(std::move(*record));
  }
  known_ = std::move(now);
}

}  // namespace platform
