#include "platform/linux/SockDiag.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "platform/linux/Files.h"
#include "platform/linux/Netlink.h"
#include "platform/linux/Processes.h"

namespace platform::os {
namespace {

bool SendRequest(int fd, const SockDiagRequest& request) {
  struct {
    nlmsghdr Header;
    inet_diag_req_v2 Request;
  } message{};
  message.Header.nlmsg_len = sizeof message;
  message.Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.Header.nlmsg_seq = request.Sequence;
  message.Request.sdiag_family = request.Family;
  message.Request.sdiag_protocol = request.Protocol;
  message.Request.idiag_ext = request.Extensions;
  message.Request.idiag_states = request.States;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  return sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                sizeof kernel) == static_cast<ssize_t>(sizeof message);
}

// The inode of a "socket:[N]" link target.
bool SocketInode(std::string_view target, std::uint64_t& inode) {
  constexpr std::string_view kPrefix = "socket:[";
  if (!target.starts_with(kPrefix) || !target.ends_with("]")) return false;
  const std::string_view digits = target.substr(kPrefix.size(), target.size() - kPrefix.size() - 1);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), inode);
  return error == std::errc() && end == digits.data() + digits.size();
}

void AddOwnedSockets(const std::string& procRoot, std::uint32_t pid,
                     std::unordered_map<std::uint64_t, std::uint32_t>& owners) {
  DirStream fds(procRoot + "/" + std::to_string(pid) + "/fd");  // gone, or not ours: none
  const bool self = pid == static_cast<std::uint32_t>(getpid());
  while (const dirent* entry = fds.Next()) {
    if (self && std::atoi(entry->d_name) >= kQuietDescriptors) continue;
    std::uint64_t inode = 0;
    if (SocketInode(ReadLinkAt(fds.Descriptor(), entry->d_name), inode))
      owners.try_emplace(inode, pid);
  }
}

}  // namespace

Fd OpenSockDiag(int timeoutSeconds) {
  Fd fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  const timeval limit{timeoutSeconds, 0};
  if (fd && timeoutSeconds > 0) setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

bool DumpSockDiag(
    int fd, const SockDiagRequest& request,
    const std::function<void(const std::uint8_t* payload, std::size_t length)>& visit) {
  if (fd < 0 || !SendRequest(fd, request)) return false;
  nlmsghdr buffer[32768 / sizeof(nlmsghdr)];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    bool ended = false, complete = false;
    ForEachNetlinkMessage(
        buffer, static_cast<std::size_t>(n),
        [&](const nlmsghdr& header, const std::uint8_t* payload, std::size_t length) {
          if (header.nlmsg_seq != request.Sequence) return true;  // an older dump
          if (header.nlmsg_type == NLMSG_DONE || header.nlmsg_type == NLMSG_ERROR) {
            ended = true;
            complete = header.nlmsg_type == NLMSG_DONE;
            return false;
          }
          if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY) visit(payload, length);
          return true;
        });
    if (ended) return complete;
  }
}

std::unordered_map<std::uint64_t, std::uint32_t> SocketOwners(const std::string& procRoot) {
  std::unordered_map<std::uint64_t, std::uint32_t> owners;
  for (const std::uint32_t pid : ListPids(procRoot)) AddOwnedSockets(procRoot, pid, owners);
  return owners;
}

}  // namespace platform::os
