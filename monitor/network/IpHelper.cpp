#include "monitor/network/IpHelper.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "platform/network/NetworkInfo.h"

namespace ombrix {

TIpHelper::TIpHelper() {
  Bind();
  LoadLocalAddresses();
}

TIpHelper::~TIpHelper() {
  Unbind();
}

// The platform's network service is part of the program, so binding cannot fail; the
// bound mark still lets Unbind leave every query empty as a missing service would.
void TIpHelper::Bind() {
  Unbind();
  bound_ = true;
}

void TIpHelper::Unbind() {
  bound_ = false;
}

void TIpHelper::LoadLocalAddresses() {
  LocalAddresses.clear();
  if (!bound_) return;
  LocalAddresses = platform::LocalIPv4Addresses();
}

bool TIpHelper::IsLocalAddress(std::uint32_t address) const {
  // The whole loopback network answers on this machine, not only the listed 127.0.0.1.
  if ((address >> 24) == 127) return true;
  return std::find(LocalAddresses.begin(), LocalAddresses.end(), address) != LocalAddresses.end();
}

std::uint32_t TIpHelper::TcpTable(void* buffer, std::uint32_t& size, bool sort,
                                  std::uint32_t family, std::uint32_t tableClass) const {
  if (!bound_) return Unavailable;
  if (family != AfInet || tableClass != TcpTableOwnerPidAll) return InvalidParameter;
  std::vector<platform::TcpRow> rows = platform::EstablishedTcpConnections();
  if (sort) {
    // By local end, then remote end, each as address and port in host byte order.
    const auto key = [](const platform::TcpRow& r) {
      using platform::NetworkToHost16;
      using platform::NetworkToHost32;
      return std::make_tuple(
          NetworkToHost32(r.LocalAddr), NetworkToHost16(static_cast<std::uint16_t>(r.LocalPort)),
          NetworkToHost32(r.RemoteAddr), NetworkToHost16(static_cast<std::uint16_t>(r.RemotePort)));
    };
    std::sort(rows.begin(), rows.end(),
              [&](const auto& a, const auto& b) { return key(a) < key(b); });
  }
  const std::uint64_t needed = sizeof(std::uint32_t) + rows.size() * sizeof(platform::TcpRow);
  if (buffer == nullptr || size < needed) {
    size = static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, UINT32_MAX));
    return InsufficientBuffer;
  }
  const auto count = static_cast<std::uint32_t>(rows.size());
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::memcpy(bytes, &count, sizeof count);
  if (!rows.empty()) std::memcpy(bytes + sizeof count, rows.data(), rows.size() * sizeof rows[0]);
  size = static_cast<std::uint32_t>(needed);
  return NoError;
}

}  // namespace ombrix
