// Any bytes as one message of the kernel's nl80211 station dump: reading its rates never
// crashes and never reads past the message, and a rate is never negative.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/perfdata/WirelessBitrate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Copied so that the message lies alone in a buffer of exactly its size, aligned as the
  // netlink socket's buffer is.
  const std::vector<std::uint8_t> message(data, data + size);
  if (platform::StationRate(message.data(), message.size()) < 0) std::abort();
  return 0;
}
