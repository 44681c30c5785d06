#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <charconv>
#include <cstring>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/Files.h"
#include "platform/linux/ProcText.h"
#include "platform/linux/SockDiag.h"
#include "platform/network/NetworkInfo.h"

namespace platform {

namespace {

// An IPv6 address that carries an IPv4 one (::ffff:a.b.c.d); the IPv4 address in network
// order goes to v4.
bool MappedV4(const std::uint32_t words[4], std::uint32_t& v4) {
  if (words[0] != 0 || words[1] != 0 || words[2] != htonl(0x0000FFFF)) return false;
  v4 = words[3];
  return true;
}

void AddDiagRow(const inet_diag_msg& msg, std::vector<TcpSocket>& out) {
  TcpSocket s{};
  s.Row.State = TcpStateEstablished;
  if (msg.idiag_family == AF_INET) {
    s.Row.LocalAddr = msg.id.idiag_src[0];
    s.Row.RemoteAddr = msg.id.idiag_dst[0];
  } else if (!MappedV4(msg.id.idiag_src, s.Row.LocalAddr) ||
             !MappedV4(msg.id.idiag_dst, s.Row.RemoteAddr)) {
    return;  // real IPv6: the table holds IPv4 connections only
  }
  s.Row.LocalPort = msg.id.idiag_sport;
  s.Row.RemotePort = msg.id.idiag_dport;
  s.Inode = msg.idiag_inode;
  out.push_back(s);
}

// One family's dump; false when the kernel refused it. A kernel that takes the request but
// never answers must not hold the caller up.
bool DumpFamily(std::uint8_t family, std::vector<TcpSocket>& out) {
  const os::Fd diag = os::OpenSockDiag(2);
  os::SockDiagRequest request;
  request.Family = family;
  request.Protocol = IPPROTO_TCP;
  request.States = 1U << TCP_ESTABLISHED;
  return os::DumpSockDiag(diag.Get(), request,
                          [&](const std::uint8_t* payload, std::size_t length) {
                            if (length < sizeof(inet_diag_msg)) return;
                            inet_diag_msg msg;
                            std::memcpy(&msg, payload, sizeof msg);
                            AddDiagRow(msg, out);
                          });
}

// Which process holds a socket is found by scanning every process's descriptors: far dearer
// than the dump itself. Owners are kept by socket inode and the scan runs only for a socket not
// seen before, once more for one that had no owner yet (an accepted socket can be dumped
// before its descriptor is installed), and now and then in case a socket changed hands.
struct OwnerEntry {
  std::uint32_t Pid = 0;
  std::uint64_t FirstCall = 0;
};

constexpr std::uint64_t kOwnerScanEvery = 16;  // calls

class SocketOwnerCache {
 public:
  std::uint32_t Owner(std::uint64_t inode) const {
    const auto it = entries_.find(inode);
    return it == entries_.end() ? 0 : it->second.Pid;
  }
  void Update(const std::vector<TcpSocket>& sockets) {
    ++calls_;
    bool scan = calls_ % kOwnerScanEvery == 0;
    for (const TcpSocket& s : sockets) {
      const auto it = entries_.find(s.Inode);
      scan = scan || it == entries_.end() ||
             (it->second.Pid == 0 && calls_ - it->second.FirstCall == 1);
    }
    std::unordered_map<std::uint64_t, std::uint32_t> found;
    if (scan) found = os::SocketOwners();
    std::unordered_map<std::uint64_t, OwnerEntry> next;  // the sockets gone are forgotten
    for (const TcpSocket& s : sockets) {
      OwnerEntry entry{0, calls_};
      if (const auto it = entries_.find(s.Inode); it != entries_.end()) entry = it->second;
      if (scan) {
        const auto owner = found.find(s.Inode);
        entry.Pid = owner == found.end() ? 0 : owner->second;
      }
      next[s.Inode] = entry;
    }
    entries_ = std::move(next);
  }

 private:
  std::unordered_map<std::uint64_t, OwnerEntry> entries_;
  std::uint64_t calls_ = 0;
};

std::vector<TcpRow> WithOwners(std::vector<TcpSocket> sockets) {
  DropRepeatedSockets(sockets);
  static std::mutex lock;
  static SocketOwnerCache cache;
  const std::lock_guard hold(lock);
  cache.Update(sockets);
  std::vector<TcpRow> rows;
  rows.reserve(sockets.size());
  for (const TcpSocket& s : sockets) {
    TcpRow row = s.Row;
    row.OwningPid = cache.Owner(s.Inode);
    rows.push_back(row);
  }
  return rows;
}

template <typename T>
bool ParseHex(std::string_view text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size();
}

// "0100007F:1F90" (v4) or 32 hex digits and a port (v6): the words are printed as the
// host-order view of network-order memory, so each parses straight back into its word.
bool ParseEndpoint(std::string_view text, bool v6, std::uint32_t& address, std::uint32_t& port) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view hex = text.substr(0, colon);
  std::uint16_t hostPort = 0;
  if (!ParseHex(text.substr(colon + 1), hostPort)) return false;
  port = htons(hostPort);
  if (!v6) return hex.size() == 8 && ParseHex(hex, address);
  if (hex.size() != 32) return false;
  std::uint32_t words[4];
  for (int i = 0; i < 4; ++i) {
    if (!ParseHex(hex.substr(static_cast<std::size_t>(i) * 8, 8), words[i])) return false;
  }
  return MappedV4(words, address);
}

}  // namespace

std::vector<TcpSocket> ParseProcNetTcp(std::string_view text, bool v6) {
  std::vector<TcpSocket> out;
  std::istringstream lines{std::string(text)};
  std::string line;
  std::getline(lines, line);  // column titles
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode)) {
      continue;
    }
    TcpSocket s{};
    if (state != "01") continue;  // established
    if (!ParseEndpoint(local, v6, s.Row.LocalAddr, s.Row.LocalPort) ||
        !ParseEndpoint(remote, v6, s.Row.RemoteAddr, s.Row.RemotePort) ||
        std::from_chars(inode.data(), inode.data() + inode.size(), s.Inode).ec != std::errc()) {
      continue;
    }
    s.Row.State = TcpStateEstablished;
    out.push_back(s);
  }
  return out;
}

// Both sources are read a piece at a time while connections come and go, so one connection
// can be read twice: once is enough. A socket not yet accepted has no inode, and stays.
void DropRepeatedSockets(std::vector<TcpSocket>& sockets) {
  std::unordered_set<std::uint64_t> seen;
  std::erase_if(sockets,
                [&](const TcpSocket& s) { return s.Inode != 0 && !seen.insert(s.Inode).second; });
}

std::vector<TcpRow> NetlinkTcpConnections(bool& ok) {
  std::vector<TcpSocket> sockets;
  ok = DumpFamily(AF_INET, sockets);
  if (!ok) return {};
  // Connections accepted by dual-stack listeners show up here only; a kernel without IPv6
  // has none of them.
  DumpFamily(AF_INET6, sockets);
  return WithOwners(std::move(sockets));
}

std::vector<TcpRow> ProcTcpConnections() {
  std::vector<TcpSocket> sockets =
      ParseProcNetTcp(os::ReadWholeFile("/proc/net/tcp").value_or(""), false);
  const std::vector<TcpSocket> v6 =
      ParseProcNetTcp(os::ReadWholeFile("/proc/net/tcp6").value_or(""), true);
  sockets.insert(sockets.end(), v6.begin(), v6.end());
  return WithOwners(std::move(sockets));
}

// The connections of the last call while no TCP segment moved since: no connection can have
// opened or closed. Read again every few calls all the same, for owners that changed hands.
std::vector<TcpRow> EstablishedTcpConnections() {
  static std::mutex lock;
  static std::optional<std::uint64_t> lastSegments;
  static std::vector<TcpRow> lastRows;
  static std::uint64_t calls = 0;
  const auto segments = os::TcpSegments(os::ReadWholeFile("/proc/net/snmp").value_or(""));
  {
    const std::lock_guard hold(lock);
    if (segments && segments == lastSegments && ++calls % kOwnerScanEvery != 0) return lastRows;
  }
  bool ok = false;
  std::vector<TcpRow> rows = NetlinkTcpConnections(ok);
  if (!ok) rows = ProcTcpConnections();
  const std::lock_guard hold(lock);
  lastSegments = segments;
  lastRows = rows;
  return rows;
}

}  // namespace platform
