// The Linux sources read text from /proc and messages from netlink; malformed input must give
// nothing rather than a wrong record.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/kernelevents/FileActivity.h"
#include "platform/kernelevents/TcpTraffic.h"
#include "platform/perfdata/LinuxProvider.h"

namespace {

using namespace platform;

TEST(ProcStat, OwnProcessHasAnInstanceName) {
  EXPECT_FALSE(ProcessInstanceName(static_cast<std::uint32_t>(getpid())).empty());
}

TEST(FdInfo, FieldsAndRejects) {
  const auto info = ParseFdInfo("pos:\t4194304\nflags:\t0102001\nmnt_id:\t25\nino:\t131\n");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Pos, 4194304u);
  EXPECT_EQ(info->Flags, 0102001u);
  EXPECT_EQ(info->MountId, 25u);
  EXPECT_EQ(info->Inode, 131u);
  EXPECT_FALSE(ParseFdInfo("pos:\t1\nflags:\t02\nmnt_id:\t25\n")) << "no inode";
  EXPECT_FALSE(ParseFdInfo("pos:\tx\nflags:\t02\nmnt_id:\t25\nino:\t1\n"));
  EXPECT_FALSE(ParseFdInfo("pos:\t1\nflags:\t09\nmnt_id:\t25\nino:\t1\n")) << "not octal";
  EXPECT_FALSE(ParseFdInfo("position:\t1\nflags:\t02\nmnt_id:\t25\nino:\t1\n"));
  EXPECT_TRUE(IsTrackedPath("/var/log/syslog"));
  EXPECT_FALSE(IsTrackedPath("/tmp/x (deleted)"));
  EXPECT_FALSE(IsTrackedPath("socket:[1234]"));
  EXPECT_FALSE(IsTrackedPath("anon_inode:[eventfd]"));
}

// A SOCK_DIAG answer: inet_diag_msg and, optionally, an INET_DIAG_INFO attribute of infoSize.
std::vector<std::uint8_t> DiagMessage(std::uint8_t family, const std::uint32_t (&src)[4],
                                      const std::uint32_t (&dst)[4], std::size_t infoSize) {
  inet_diag_msg message{};
  message.idiag_family = family;
  std::memcpy(message.id.idiag_src, src, 16);
  std::memcpy(message.id.idiag_dst, dst, 16);
  message.id.idiag_sport = htons(40000);
  message.id.idiag_dport = htons(80);
  message.id.idiag_cookie[0] = 0x11;
  message.id.idiag_cookie[1] = 0x22;
  message.idiag_inode = 777;
  std::vector<std::uint8_t> bytes(NLMSG_ALIGN(sizeof message));
  std::memcpy(bytes.data(), &message, sizeof message);
  if (infoSize == 0) return bytes;
  tcp_info info{};
  info.tcpi_bytes_acked = 3002;  // 3000 bytes, the SYN and the FIN
  info.tcpi_bytes_received = 123456;
  rtattr attribute{};
  attribute.rta_type = INET_DIAG_INFO;
  attribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(infoSize));
  const std::size_t at = bytes.size();
  bytes.resize(at + RTA_SPACE(infoSize));
  std::memcpy(bytes.data() + at, &attribute, sizeof attribute);
  std::memcpy(bytes.data() + at + RTA_LENGTH(0), &info, std::min(infoSize, sizeof info));
  return bytes;
}

TEST(TcpDiag, DecodesIpv4AndMappedIpv6) {
  const std::uint32_t local[4] = {htonl(0x0A000005)}, remote[4] = {htonl(0xC0A80114)};
  const auto v4 = DiagMessage(AF_INET, local, remote, sizeof(tcp_info));
  const auto sample = DecodeTcpDiag(v4.data(), v4.size());
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->LocalAddr, 0x0A000005u);
  EXPECT_EQ(sample->RemoteAddr, 0xC0A80114u);
  EXPECT_EQ(sample->LocalPort, 40000);
  EXPECT_EQ(sample->RemotePort, 80);
  EXPECT_EQ(sample->Cookie, 0x22'0000'0011ull);
  EXPECT_EQ(sample->Inode, 777u);
  EXPECT_EQ(sample->BytesSent, 3002u);
  EXPECT_EQ(sample->BytesReceived, 123456u);

  const std::uint32_t mappedLocal[4] = {0, 0, htonl(0xFFFF), htonl(0x7F000001)};
  const std::uint32_t mappedRemote[4] = {0, 0, htonl(0xFFFF), htonl(0x7F000002)};
  const auto v6 = DiagMessage(AF_INET6, mappedLocal, mappedRemote, sizeof(tcp_info));
  const auto mapped = DecodeTcpDiag(v6.data(), v6.size());
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->LocalAddr, 0x7F000001u);
  EXPECT_EQ(mapped->RemoteAddr, 0x7F000002u);
}

TEST(TcpDiag, RejectsWhatHasNoPlaceOrNoCounters) {
  const std::uint32_t a[4] = {htonl(0x20010DB8), 0, 0, htonl(1)};
  const auto pureV6 = DiagMessage(AF_INET6, a, a, sizeof(tcp_info));
  EXPECT_FALSE(DecodeTcpDiag(pureV6.data(), pureV6.size()));
  const std::uint32_t v4[4] = {htonl(0x0A000001)};
  const auto noInfo = DiagMessage(AF_INET, v4, v4, 0);
  EXPECT_FALSE(DecodeTcpDiag(noInfo.data(), noInfo.size()));
  const auto oldKernel = DiagMessage(AF_INET, v4, v4, offsetof(tcp_info, tcpi_bytes_received));
  EXPECT_FALSE(DecodeTcpDiag(oldKernel.data(), oldKernel.size())) << "tcp_info without bytes";
  auto cut = DiagMessage(AF_INET, v4, v4, sizeof(tcp_info));
  cut.resize(cut.size() - 8);  // attribute claims more than the message holds
  EXPECT_FALSE(DecodeTcpDiag(cut.data(), cut.size()));
  EXPECT_FALSE(DecodeTcpDiag(cut.data(), sizeof(inet_diag_msg) - 1));
}

}  // namespace
