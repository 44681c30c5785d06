// This machine's IPv4 addresses and its established TCP connections with their processes.
#pragma once
#include <bit>
#include <cstdint>
#include <string_view>
#include <vector>

namespace platform {

// Byte-order conversions between network and host order.
inline std::uint32_t NetworkToHost32(std::uint32_t v) {
  return std::endian::native == std::endian::big ? v : __builtin_bswap32(v);
}
inline std::uint16_t NetworkToHost16(std::uint16_t v) {
  return std::endian::native == std::endian::big ? v : __builtin_bswap16(v);
}
inline std::uint32_t HostToNetwork32(std::uint32_t v) {
  return NetworkToHost32(v);
}
inline std::uint16_t HostToNetwork16(std::uint16_t v) {
  return NetworkToHost16(v);
}

// The IPv4 addresses of every interface, loopback included, host byte order, in the order
// the system lists them.
std::vector<std::uint32_t> LocalIPv4Addresses();

// One connection in the layout of the published TCP table row with owning process:
// addresses and ports in network byte order, a port in the low 16 bits of its field.
struct TcpRow {
  std::uint32_t State;
  std::uint32_t LocalAddr;
  std::uint32_t LocalPort;
  std::uint32_t RemoteAddr;
  std::uint32_t RemotePort;
  std::uint32_t OwningPid;
};
static_assert(sizeof(TcpRow) == 24);

inline constexpr std::uint32_t TcpStateEstablished = 5;

// Established IPv4 connections (IPv4-mapped IPv6 ones included, real IPv6 left out), from
// the socket-diagnostics netlink interface, else from /proc/net/tcp and tcp6. A socket whose
// process cannot be seen has owning pid 0.
std::vector<TcpRow> EstablishedTcpConnections();

// The two sources on their own, for tests. The netlink one sets ok false when the kernel
// does not offer it.
std::vector<TcpRow> NetlinkTcpConnections(bool& ok);
std::vector<TcpRow> ProcTcpConnections();

// A connection with the inode of its socket, before the owners are known.
struct TcpSocket {
  TcpRow Row;
  std::uint64_t Inode;
};
// Established rows of a /proc/net/tcp (v6 false) or /proc/net/tcp6 text; bad lines skipped.
std::vector<TcpSocket> ParseProcNetTcp(std::string_view text, bool v6);
// Keeps the first of the rows that name the same socket (inode); rows without one all stay.
void DropRepeatedSockets(std::vector<TcpSocket>& sockets);

}  // namespace platform
