#include "platform/perfdata/WirelessBitrate.h"

#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/attr.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <netlink/socket.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace platform {

namespace {

constexpr std::int64_t kRateUnit = 100000;  // the kernel counts in 100 kbit/s

struct SocketFree {
  void operator()(nl_sock* s) const { nl_socket_free(s); }
};
struct MessageFree {
  void operator()(nl_msg* m) const { nlmsg_free(m); }
};

// One rate information block; the 32-bit field also holds rates the 16-bit one cannot.
std::int64_t RateOf(nlattr* rate) {
  nla_policy policy[NL80211_RATE_INFO_MAX + 1] = {};
  policy[NL80211_RATE_INFO_BITRATE].type = NLA_U16;
  policy[NL80211_RATE_INFO_BITRATE32].type = NLA_U32;
  nlattr* field[NL80211_RATE_INFO_MAX + 1] = {};
  if (rate == nullptr || nla_parse_nested(field, NL80211_RATE_INFO_MAX, rate, policy) < 0) return 0;
  if (field[NL80211_RATE_INFO_BITRATE32] != nullptr)
    return std::int64_t{nla_get_u32(field[NL80211_RATE_INFO_BITRATE32])} * kRateUnit;
  if (field[NL80211_RATE_INFO_BITRATE] != nullptr)
    return std::int64_t{nla_get_u16(field[NL80211_RATE_INFO_BITRATE])} * kRateUnit;
  return 0;
}

// One station of the dump: keeps the fastest rate seen in *fastest.
int OnStation(nl_msg* message, void* fastest) {
  const nlmsghdr* header = nlmsg_hdr(message);
  auto& best = *static_cast<std::int64_t*>(fastest);
  best = std::max(best, StationRate(header, header->nlmsg_len));
  return NL_SKIP;
}

// A generic netlink socket that gives up on a kernel that does not answer.
std::unique_ptr<nl_sock, SocketFree> Connect() {
  std::unique_ptr<nl_sock, SocketFree> sock(nl_socket_alloc());
  if (!sock || genl_connect(sock.get()) != 0) return nullptr;
  const timeval limit{1, 0};
  setsockopt(nl_socket_get_fd(sock.get()), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return sock;
}

}  // namespace

std::int64_t WirelessBitrate(const std::string& interfaceName) {
  const unsigned index = if_nametoindex(interfaceName.c_str());
  if (index == 0) return 0;
  const auto sock = Connect();
  if (!sock) return 0;
  const int family = genl_ctrl_resolve(sock.get(), "nl80211");  // none without wireless support
  if (family < 0) return 0;
  std::unique_ptr<nl_msg, MessageFree> request(nlmsg_alloc());
  if (!request ||
      genlmsg_put(request.get(), NL_AUTO_PORT, NL_AUTO_SEQ, family, 0, NLM_F_DUMP,
                  NL80211_CMD_GET_STATION, 0) == nullptr ||
      nla_put_u32(request.get(), NL80211_ATTR_IFINDEX, index) < 0)
    return 0;
  std::int64_t fastest = 0;
  if (nl_socket_modify_cb(sock.get(), NL_CB_VALID, NL_CB_CUSTOM, OnStation, &fastest) < 0 ||
      nl_send_auto(sock.get(), request.get()) < 0 || nl_recvmsgs_default(sock.get()) < 0)
    return 0;
  return fastest;
}

std::int64_t StationRate(const void* message, std::size_t length) {
  constexpr std::size_t kHeaders = NLMSG_HDRLEN + GENL_HDRLEN;
  nlmsghdr header{};
  if (length < kHeaders) return 0;
  std::memcpy(&header, message, sizeof header);
  if (header.nlmsg_len < kHeaders || header.nlmsg_len > length) return 0;
  // The parser takes a mutable pointer but only reads; it stops at the first attribute that
  // does not fit the length it is given.
  auto* first = reinterpret_cast<nlattr*>(
      const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(message) + kHeaders));
  nla_policy top[NL80211_ATTR_MAX + 1] = {};
  top[NL80211_ATTR_STA_INFO].type = NLA_NESTED;
  nlattr* attribute[NL80211_ATTR_MAX + 1] = {};
  if (nla_parse(attribute, NL80211_ATTR_MAX, first, static_cast<int>(header.nlmsg_len - kHeaders),
                top) < 0 ||
      attribute[NL80211_ATTR_STA_INFO] == nullptr)
    return 0;
  nla_policy station[NL80211_STA_INFO_MAX + 1] = {};
  station[NL80211_STA_INFO_TX_BITRATE].type = NLA_NESTED;
  station[NL80211_STA_INFO_RX_BITRATE].type = NLA_NESTED;
  nlattr* info[NL80211_STA_INFO_MAX + 1] = {};
  if (nla_parse_nested(info, NL80211_STA_INFO_MAX, attribute[NL80211_ATTR_STA_INFO], station) < 0)
    return 0;
  return std::max(RateOf(info[NL80211_STA_INFO_TX_BITRATE]),
                  RateOf(info[NL80211_STA_INFO_RX_BITRATE]));
}

}  // namespace platform
