// Socket diagnostics: dumps of the kernel's sockets over netlink, and which process holds
// which socket.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "platform/linux/Handle.h"

namespace platform::os {

// A socket for diagnostics requests. Receiving gives up after timeoutSeconds, so that a kernel
// that takes a request but never ends its answer cannot hold the caller for good.
Fd OpenSockDiag(int timeoutSeconds);

struct SockDiagRequest {
  std::uint8_t Family = 0;      // AF_INET or AF_INET6
  std::uint8_t Protocol = 0;    // IPPROTO_TCP, ...
  std::uint32_t States = 0;     // bit 1 << TCP_* per state wanted
  std::uint8_t Extensions = 0;  // bit 1 << (INET_DIAG_* - 1) per attribute wanted
  std::uint32_t Sequence = 0;   // answers of an earlier dump on the socket are passed over
};

// Asks for a dump and hands each answer's payload (an inet_diag_msg and its attributes),
// checked against what was received, to visit. True when the dump ran to its end; false when
// the request could not be sent, the kernel refused it, or receiving failed or timed out.
bool DumpSockDiag(
    int fd, const SockDiagRequest& request,
    const std::function<void(const std::uint8_t* payload, std::size_t length)>& visit);

// Socket inode -> process id over the open files of every process in procRoot that we may
// look into. A socket several processes hold goes to the first one listed.
std::unordered_map<std::uint64_t, std::uint32_t> SocketOwners(
    const std::string& procRoot = "/proc");

}  // namespace platform::os
