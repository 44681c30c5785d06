#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstring>

#include "platform/network/NetworkInfo.h"

namespace platform {

std::vector<std::uint32_t> LocalIPv4Addresses() {
  std::vector<std::uint32_t> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in in;
    std::memcpy(&in, a->ifa_addr, sizeof in);
    addresses.push_back(ntohl(in.sin_addr.s_addr));
  }
  freeifaddrs(list);
  return addresses;
}

}  // namespace platform
