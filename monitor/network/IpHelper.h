// This machine's IPv4 addresses and the TCP table with owning processes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ombrix {

class TIpHelper {
 public:
  // Status results of TcpTable.
  static constexpr std::uint32_t NoError = 0;
  static constexpr std::uint32_t Unavailable = 1;
  static constexpr std::uint32_t InvalidParameter = 87;
  static constexpr std::uint32_t InsufficientBuffer = 122;
  static constexpr std::uint32_t AfInet = 2;
  static constexpr std::uint32_t TcpTableOwnerPidAll = 5;

  TIpHelper();  // Bind, then LoadLocalAddresses
  ~TIpHelper();
  TIpHelper(const TIpHelper&) = delete;
  TIpHelper& operator=(const TIpHelper&) = delete;

  void Bind();
  void Unbind();
  // Reads the address list once; addresses added later are seen after a restart.
  void LoadLocalAddresses();
  // Host byte order. Read by the trace thread; the list does not change after start-up.
  bool IsLocalAddress(std::uint32_t address) const;

  // The established TCP connections as a 32-bit row count followed by 24-byte rows (state,
  // local address, local port, remote address, remote port, owning pid). With no buffer or
  // too small a size, size receives the size needed and InsufficientBuffer is returned.
  std::uint32_t TcpTable(void* buffer, std::uint32_t& size, bool sort, std::uint32_t family,
                         std::uint32_t tableClass) const;

  bool Bound() const { return bound_; }
  std::vector<std::uint32_t> LocalAddresses;

 private:
  bool bound_ = false;
};

}  // namespace ombrix
