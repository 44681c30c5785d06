#include "platform/kernelevents/TcpTraffic.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/Files.h"
#include "platform/linux/Netlink.h"
#include "platform/linux/ProcText.h"
#include "platform/linux/SockDiag.h"

namespace platform {
namespace {

// Every state but listening and time-wait: neither carries traffic counters of its own.
constexpr std::uint32_t kStates = 0xFFF & ~((1u << 10) | (1u << 6));
constexpr std::size_t kBytesEnd = offsetof(tcp_info, tcpi_bytes_received) + sizeof(__u64);

std::optional<std::uint32_t> V4Address(std::uint8_t family, const __be32 (&address)[4]) {
  if (family == AF_INET) return ntohl(address[0]);
  if (family == AF_INET6 && address[0] == 0 && address[1] == 0 && address[2] == htonl(0xFFFF))
    return ntohl(address[3]);
  return std::nullopt;  // a true IPv6 peer has no place in the 32-bit address fields
}

// The growth of a counter over one poll, as records of at most 64 KiB each (about what one
// send or receive call moves), so that packet rates resemble per-call counts; a huge growth
// is spread over at most 64 records.
void EmitDelta(std::uint8_t type, std::uint32_t pid, std::uint64_t bytes, std::uint32_t daddr,
               std::uint32_t saddr, std::uint16_t dport, std::uint16_t sport,
               std::vector<EventRecord>& out) {
  constexpr std::uint64_t kRecordBytes = 65536, kMaxRecords = 64;
  const std::uint64_t records = std::min(kMaxRecords, (bytes + kRecordBytes - 1) / kRecordBytes);
  const std::uint64_t each = records == 0 ? 0 : (bytes + records - 1) / records;
  while (bytes > 0) {
    const std::uint64_t size = std::min({bytes, each, std::uint64_t{0xFFFFFFFF}});
    out.push_back(NetworkRecord(TcpIpGuid, type, pid, static_cast<std::uint32_t>(size), daddr,
                                saddr, dport, sport));
    bytes -= size;
  }
}

}  // namespace

std::optional<TcpSample> DecodeTcpDiag(const void* payload, std::size_t length) {
  if (length < sizeof(inet_diag_msg)) return std::nullopt;
  inet_diag_msg message{};
  std::memcpy(&message, payload, sizeof message);
  const auto local = V4Address(message.idiag_family, message.id.idiag_src);
  const auto remote = V4Address(message.idiag_family, message.id.idiag_dst);
  if (!local || !remote) return std::nullopt;
  TcpSample sample;
  sample.Cookie =
      static_cast<std::uint64_t>(message.id.idiag_cookie[1]) << 32 | message.id.idiag_cookie[0];
  sample.Inode = message.idiag_inode;
  sample.LocalAddr = *local;
  sample.RemoteAddr = *remote;
  sample.LocalPort = ntohs(message.id.idiag_sport);
  sample.RemotePort = ntohs(message.id.idiag_dport);

  const auto* bytes = static_cast<const std::uint8_t*>(payload);
  std::size_t at = NLMSG_ALIGN(sizeof(inet_diag_msg));
  while (at + sizeof(rtattr) <= length) {
    rtattr attribute{};
    std::memcpy(&attribute, bytes + at, sizeof attribute);
    if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > length - at) break;
    const std::size_t size = attribute.rta_len - RTA_LENGTH(0);
    if (attribute.rta_type == INET_DIAG_INFO && size >= kBytesEnd) {
      tcp_info info{};
      std::memcpy(&info, bytes + at + RTA_LENGTH(0), std::min(size, sizeof info));
      // Acknowledged rather than sent bytes: retransmissions are not the application's data.
      // The count includes one byte for the SYN and one for the FIN.
      sample.BytesSent = info.tcpi_bytes_acked;
      sample.BytesReceived = info.tcpi_bytes_received;
      return sample;
    }
    at += RTA_ALIGN(attribute.rta_len);
  }
  return std::nullopt;
}

int TcpTraffic::Open() {
  // A dump that never ends must not hold the consumer thread for good.
  dumpFd_ = os::OpenSockDiag(1);
  if (!dumpFd_) return errno;
  // Connections that close between two polls: without these groups their last bytes are lost.
  os::Fd destroy(socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (destroy) {
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    const int groups[] = {SKNLGRP_INET_TCP_DESTROY, SKNLGRP_INET6_TCP_DESTROY};
    bool joined = bind(destroy.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    for (const int group : groups)
      joined = joined && setsockopt(destroy.Get(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group,
                                    sizeof group) == 0;
    if (joined) destroyFd_ = std::move(destroy);
  }
  std::vector<EventRecord> baseline;
  Poll(baseline);  // what flowed before we started is not ours to count
  return 0;
}

void TcpTraffic::Dump(std::uint8_t family, std::vector<TcpSample>& samples) {
  os::SockDiagRequest request;
  request.Family = family;
  request.Protocol = IPPROTO_TCP;
  request.States = kStates;
  request.Extensions = 1 << (INET_DIAG_INFO - 1);
  request.Sequence = ++sequence_;
  os::DumpSockDiag(dumpFd_.Get(), request, [&](const std::uint8_t* payload, std::size_t length) {
    if (auto sample = DecodeTcpDiag(payload, length)) samples.push_back(*sample);
  });
}

void TcpTraffic::Account(const TcpSample& sample, Connection& connection,
                         std::vector<EventRecord>& out) {
  if (sample.BytesSent > connection.Sent)
    EmitDelta(EVENT_TYPE_NET_SEND, connection.Pid, sample.BytesSent - connection.Sent,
              sample.RemoteAddr, sample.LocalAddr, sample.RemotePort, sample.LocalPort, out);
  if (sample.BytesReceived > connection.Received)
    EmitDelta(EVENT_TYPE_NET_RECV, connection.Pid, sample.BytesReceived - connection.Received,
              sample.LocalAddr, sample.RemoteAddr, sample.LocalPort, sample.RemotePort, out);
  connection.Sent = std::max(connection.Sent, sample.BytesSent);
  connection.Received = std::max(connection.Received, sample.BytesReceived);
}

void TcpTraffic::ResolvePids(std::vector<TcpSample>& fresh) {
  bool unknown = false;
  for (const TcpSample& sample : fresh)
    unknown = unknown || (sample.Inode != 0 && !owners_.contains(sample.Inode));
  if (unknown) owners_ = os::SocketOwners();  // one scan serves every new connection
  for (const TcpSample& sample : fresh) {
    const auto owner = owners_.find(sample.Inode);
    connections_[sample.Cookie].Pid = owner == owners_.end() ? NO_PROCESS : owner->second;
  }
}

void TcpTraffic::Poll(std::vector<EventRecord>& out) {
  if (!dumpFd_) return;
  // A dump walks the kernel's whole connection table; when no segment moved since the last one,
  // it would find the same counters.
  const auto segments = os::TcpSegments(os::ReadWholeFile("/proc/net/snmp").value_or(""));
  if (segments && segments == segments_) return;
  segments_ = segments;
  const bool baseline = generation_++ == 0;
  std::vector<TcpSample> samples;
  Dump(AF_INET, samples);
  Dump(AF_INET6, samples);
  std::vector<TcpSample> fresh;
  for (const TcpSample& sample : samples)
    if (!connections_.contains(sample.Cookie)) fresh.push_back(sample);
  ResolvePids(fresh);
  for (const TcpSample& sample : samples) {
    Connection& connection = connections_[sample.Cookie];
    const bool isNew = connection.Seen == 0;
    connection.Seen = generation_;
    if (baseline) {
      connection.Sent = sample.BytesSent;
      connection.Received = sample.BytesReceived;
    } else {
      if (isNew) connection.Sent = 1;  // the SYN of a new connection is no data
      Account(sample, connection, out);
    }
  }
  // A connection gone from the dump may still send its final counters with its destroy
  // notification: the socket outlives the connection while its process holds it. Without
  // those notifications nothing more can be learnt of it.
  const std::uint64_t wait = destroyFd_ ? kDepartedPolls : 0;
  std::erase_if(connections_,
                [&](const auto& entry) { return generation_ - entry.second.Seen > wait; });
}

void TcpTraffic::ReadDestroyed(std::vector<EventRecord>& out) {
  if (!destroyFd_) return;
  nlmsghdr buffer[16384 / sizeof(nlmsghdr)];
  for (;;) {
    const ssize_t n = recv(destroyFd_.Get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == ENOBUFS) continue;
    if (n <= 0) return;
    os::ForEachNetlinkMessage(
        buffer, static_cast<std::size_t>(n),
        [&](const nlmsghdr& header, const std::uint8_t* payload, std::size_t length) {
          if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY) return true;
          const auto sample = DecodeTcpDiag(payload, length);
          if (!sample) return true;
          // Its inode is gone already; only a connection a poll has seen has a known owner.
          const auto found = connections_.find(sample->Cookie);
          if (found == connections_.end()) return true;
          Account(*sample, found->second, out);
          connections_.erase(found);
          return true;
        });
  }
}

}  // namespace platform
