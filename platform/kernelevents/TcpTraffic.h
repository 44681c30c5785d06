// TCP traffic per connection from socket diagnostics: each poll dumps the connections and turns
// the growth of their byte counters into send and receive records; the destroy notifications
// bring the last growth of connections that close between polls, and of connections that left
// the dump (closed, but their socket not yet freed) before their socket went.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/kernelevents/EventRecord.h"
#include "platform/linux/Handle.h"

namespace platform {

// One connection as the diagnostics report it; addresses and ports in host byte order.
struct TcpSample {
  std::uint64_t Cookie = 0;
  std::uint32_t Inode = 0;
  std::uint32_t LocalAddr = 0, RemoteAddr = 0;
  std::uint16_t LocalPort = 0, RemotePort = 0;
  std::uint64_t BytesSent = 0, BytesReceived = 0;
};

// Decodes one SOCK_DIAG_BY_FAMILY answer (the netlink payload); nothing for sockets that are
// not IPv4 (IPv6 only when v4-mapped) or carry no TCP counters.
std::optional<TcpSample> DecodeTcpDiag(const void* payload, std::size_t length);

class TcpTraffic {
 public:
  int Open();  // 0, or the errno that stopped the dump socket
  // -1 when the destroy groups are not joined.
  int DestroyFd() const { return destroyFd_.Get(); }
  void Poll(std::vector<EventRecord>& out);
  void ReadDestroyed(std::vector<EventRecord>& out);

 private:
  struct Connection {
    std::uint64_t Sent = 0, Received = 0;
    std::uint32_t Pid = NO_PROCESS;
    std::uint64_t Seen = 0;  // poll generation
  };
  // Polls that a connection gone from the dump waits for its destroy notification.
  static constexpr std::uint64_t kDepartedPolls = 120;
  void Dump(std::uint8_t family, std::vector<TcpSample>& samples);
  void Account(const TcpSample& sample, Connection& connection, std::vector<EventRecord>& out);
  void ResolvePids(std::vector<TcpSample>& fresh);

  os::Fd dumpFd_;
  os::Fd destroyFd_;
  std::uint32_t sequence_ = 0;
  std::uint64_t generation_ = 0;
  std::optional<std::uint64_t> segments_;                    // TCP's segment count at the last dump
  std::map<std::uint64_t, Connection> connections_;          // by socket cookie
  std::unordered_map<std::uint64_t, std::uint32_t> owners_;  // socket inode -> pid
};

}  // namespace platform
