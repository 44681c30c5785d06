#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include "platform/network/NetworkInfo.h"

namespace platform {

std::vector<std::uint32_t> LocalIPv4Addresses() {
  std::vector<std::uint32_t> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    addresses.push_back(ntohl(in->sin_addr.s_addr));
  }
  freeifaddrs(list);
  return addresses;
}

}  // namespace platform
