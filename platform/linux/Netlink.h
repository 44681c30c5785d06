// Walks the netlink messages of one received datagram, each checked against what was received.
#pragma once
#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>

namespace platform::os {

// fn(header, payload, payloadLength) returns false to stop the walk.
template <typename Fn>
void ForEachNetlinkMessage(const void* buffer, std::size_t length, Fn&& fn) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::size_t at = 0;
  while (at < length && length - at >= NLMSG_HDRLEN) {
    const auto* header = static_cast<const nlmsghdr*>(static_cast<const void*>(bytes + at));
    if (header->nlmsg_len < NLMSG_HDRLEN || header->nlmsg_len > length - at) return;
    if (!fn(*header, bytes + at + NLMSG_HDRLEN, header->nlmsg_len - NLMSG_HDRLEN)) return;
    at += NLMSG_ALIGN(header->nlmsg_len);
  }
}

}  // namespace platform::os
