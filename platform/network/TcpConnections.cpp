#include <arpa/inet.h>
#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

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

class TNetlinkSocket {
 public:
  TNetlinkSocket() : fd_(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {
    // A kernel that takes the request but never answers must not hold the caller up.
    const timeval limit{2, 0};
    if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~TNetlinkSocket() {
    if (fd_ >= 0) close(fd_);
  }
  TNetlinkSocket(const TNetlinkSocket&) = delete;
  TNetlinkSocket& operator=(const TNetlinkSocket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool SendDumpRequest(int fd, std::uint8_t family) {
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.request.sdiag_family = family;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = 1U << TCP_ESTABLISHED;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  return sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                sizeof kernel) == static_cast<ssize_t>(sizeof message);
}

void AddDiagRow(const inet_diag_msg& msg, std::vector<TTcpSocket>& out) {
  TTcpSocket s{};
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

// One family's dump; false when the kernel refused it.
bool DumpFamily(std::uint8_t family, std::vector<TTcpSocket>& out) {
  TNetlinkSocket nl;
  if (nl.fd() < 0 || !SendDumpRequest(nl.fd(), family)) return false;
  char buffer[32768];
  for (;;) {
    const ssize_t got = recv(nl.fd(), buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    // Messages are copied out of the buffer rather than cast in place.
    const auto length = static_cast<std::size_t>(got);
    std::size_t offset = 0;
    while (offset + sizeof(nlmsghdr) <= length) {
      nlmsghdr header;
      std::memcpy(&header, buffer + offset, sizeof header);
      if (header.nlmsg_len < sizeof header || header.nlmsg_len > length - offset) break;
      if (header.nlmsg_type == NLMSG_DONE) return true;
      if (header.nlmsg_type == NLMSG_ERROR) return false;
      if (header.nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        inet_diag_msg msg;
        std::memcpy(&msg, buffer + offset + NLMSG_HDRLEN, sizeof msg);
        AddDiagRow(msg, out);
      }
      offset += NLMSG_ALIGN(header.nlmsg_len);
    }
  }
}

std::vector<TTcpRow> WithOwners(const std::vector<TTcpSocket>& sockets) {
  const auto owners = SocketOwners();
  std::vector<TTcpRow> rows;
  rows.reserve(sockets.size());
  for (const TTcpSocket& s : sockets) {
    TTcpRow row = s.Row;
    const auto it = owners.find(s.Inode);
    row.OwningPid = it == owners.end() ? 0 : it->second;
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

std::string ReadWhole(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::vector<TTcpSocket> ParseProcNetTcp(std::string_view text, bool v6) {
  std::vector<TTcpSocket> out;
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
    TTcpSocket s{};
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

std::unordered_map<std::uint64_t, std::uint32_t> SocketOwners() {
  std::unordered_map<std::uint64_t, std::uint32_t> owners;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return owners;
  while (const dirent* entry = readdir(proc)) {
    std::uint32_t pid = 0;
    const std::string_view name(entry->d_name);
    if (std::from_chars(name.data(), name.data() + name.size(), pid).ptr !=
        name.data() + name.size()) {
      continue;
    }
    const std::string fdDir = "/proc/" + std::string(name) + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) continue;  // gone, or not ours to look at
    while (const dirent* fd = readdir(fds)) {
      char target[64];
      const std::string link = fdDir + "/" + fd->d_name;
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      const std::string_view t(target, static_cast<std::size_t>(n));
      constexpr std::string_view prefix = "socket:[";
      if (!t.starts_with(prefix) || !t.ends_with("]")) continue;
      std::uint64_t inode = 0;
      const std::string_view digits = t.substr(prefix.size(), t.size() - prefix.size() - 1);
      if (std::from_chars(digits.data(), digits.data() + digits.size(), inode).ec == std::errc()) {
        owners.try_emplace(inode, pid);  // a socket shared by several processes: the first
      }
    }
    closedir(fds);
  }
  closedir(proc);
  return owners;
}

std::vector<TTcpRow> NetlinkTcpConnections(bool& ok) {
  std::vector<TTcpSocket> sockets;
  ok = DumpFamily(AF_INET, sockets);
  if (!ok) return {};
  // Connections accepted by dual-stack listeners show up here only; a kernel without IPv6
  // has none of them.
  DumpFamily(AF_INET6, sockets);
  return WithOwners(sockets);
}

std::vector<TTcpRow> ProcTcpConnections() {
  std::vector<TTcpSocket> sockets = ParseProcNetTcp(ReadWhole("/proc/net/tcp"), false);
  const std::vector<TTcpSocket> v6 = ParseProcNetTcp(ReadWhole("/proc/net/tcp6"), true);
  sockets.insert(sockets.end(), v6.begin(), v6.end());
  return WithOwners(sockets);
}

std::vector<TTcpRow> EstablishedTcpConnections() {
  bool ok = false;
  std::vector<TTcpRow> rows = NetlinkTcpConnections(ok);
  return ok ? rows : ProcTcpConnections();
}

}  // namespace platform
