#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/network/NetworkInfo.h"

namespace {

using platform::ParseProcNetTcp;
using platform::TcpRow;
using platform::TcpSocket;

// A TCP connection over the loopback that this test process owns at both ends; with
// dualStack the server listens on "::" and the connection is IPv4-mapped on its side.
class LoopbackConnection {
 public:
  explicit LoopbackConnection(bool dualStack = false) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (dualStack) {
      listener_ = socket(AF_INET6, SOCK_STREAM, 0);
      int off = 0;
      setsockopt(listener_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
      sockaddr_in6 any{};
      any.sin6_family = AF_INET6;
      any.sin6_addr = in6addr_any;
      socklen_t len = sizeof any;
      if (bind(listener_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
          listen(listener_, 1) != 0 ||
          getsockname(listener_, reinterpret_cast<sockaddr*>(&any), &len) != 0) {
        return;
      }
      a.sin_port = any.sin6_port;
    } else {
      listener_ = socket(AF_INET, SOCK_STREAM, 0);
      socklen_t len = sizeof a;
      if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
          listen(listener_, 1) != 0 ||
          getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return;
      }
    }
    serverPort = ntohs(a.sin_port);
    client_ = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    server_ = accept(listener_, nullptr, nullptr);
    socklen_t len = sizeof a;
    getsockname(client_, reinterpret_cast<sockaddr*>(&a), &len);
    clientPort = ntohs(a.sin_port);
  }
  ~LoopbackConnection() {
    for (int fd : {server_, client_, listener_}) {
      if (fd >= 0) close(fd);
    }
  }
  LoopbackConnection(const LoopbackConnection&) = delete;
  LoopbackConnection& operator=(const LoopbackConnection&) = delete;
  bool ok() const { return server_ >= 0 && clientPort != 0; }

  // How many of the rows are an end of this connection, checking each such row.
  int EndsIn(const std::vector<TcpRow>& rows) const {
    int ends = 0;
    for (const TcpRow& r : rows) {
      const auto local = ntohs(static_cast<std::uint16_t>(r.LocalPort));
      const auto remote = ntohs(static_cast<std::uint16_t>(r.RemotePort));
      if (!((local == clientPort && remote == serverPort) ||
            (local == serverPort && remote == clientPort))) {
        continue;
      }
      ++ends;
      EXPECT_EQ(r.State, platform::TcpStateEstablished);
      EXPECT_EQ(r.LocalAddr, htonl(INADDR_LOOPBACK));
      EXPECT_EQ(r.RemoteAddr, htonl(INADDR_LOOPBACK));
      EXPECT_EQ(r.OwningPid, static_cast<std::uint32_t>(getpid()));
    }
    return ends;
  }

  std::uint16_t serverPort = 0;
  std::uint16_t clientPort = 0;

 private:
  int listener_ = -1;
  int client_ = -1;
  int server_ = -1;
};

// The rows as text, for the message of a failed expectation.
std::string Describe(const std::vector<TcpRow>& rows) {
  std::string text;
  for (const TcpRow& r : rows) {
    text += std::to_string(ntohs(static_cast<std::uint16_t>(r.LocalPort))) + "->" +
            std::to_string(ntohs(static_cast<std::uint16_t>(r.RemotePort))) + " pid " +
            std::to_string(r.OwningPid) + "\n";
  }
  return text;
}

TEST(TcpConnections, ProcFilesShowBothEndsOfOurConnection) {
  LoopbackConnection connection;
  ASSERT_TRUE(connection.ok());
  const std::vector<TcpRow> rows = platform::ProcTcpConnections();
  EXPECT_EQ(connection.EndsIn(rows), 2)
      << "ports " << connection.clientPort << "->" << connection.serverPort << "\n"
      << Describe(rows);
}

TEST(TcpConnections, NetlinkShowsBothEndsOfOurConnection) {
  LoopbackConnection connection;
  ASSERT_TRUE(connection.ok());
  bool ok = false;
  const std::vector<TcpRow> rows = platform::NetlinkTcpConnections(ok);
  if (!ok) GTEST_SKIP() << "no socket-diagnostics netlink here";
  EXPECT_EQ(connection.EndsIn(rows), 2);
}

// Owners are kept between calls: a connection made after the first call must still be owned at
// once, and the first one keep its owner, over more calls than the periodic rescan spans.
TEST(TcpConnections, ANewConnectionIsOwnedAtOnceAndKnownOnesKeepTheirOwner) {
  LoopbackConnection first;
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first.EndsIn(platform::EstablishedTcpConnections()), 2);
  for (int call = 0; call < 20; ++call) {
    LoopbackConnection next;
    ASSERT_TRUE(next.ok());
    const std::vector<TcpRow> rows = platform::EstablishedTcpConnections();
    EXPECT_EQ(next.EndsIn(rows), 2) << "call " << call;
    EXPECT_EQ(first.EndsIn(rows), 2) << "call " << call;
  }
}

TEST(TcpConnections, DualStackListenerConnectionIsSeenAsIpv4) {
  LoopbackConnection connection(true);
  if (!connection.ok()) GTEST_SKIP() << "no IPv6 here";
  EXPECT_EQ(connection.EndsIn(platform::EstablishedTcpConnections()), 2);
  EXPECT_EQ(connection.EndsIn(platform::ProcTcpConnections()), 2);
}

TEST(TcpConnections, ParsesProcNetTcpLines) {
  const char* v4 =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
      "inode\n"
      "   0: 0100007F:1F90 0100007F:C350 01 00000000:00000000 00:00000000 00000000  1000        0 "
      "4242 1 0 20 4 30 10 -1\n"
      "   1: 00000000:0016 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 "
      "99 1\n"
      "   2: 0202000A:0050 zz:0050 01 00000000:00000000 00:00000000 00000000     0        0 7 1\n"
      "   3: short line\n";
  const auto rows = ParseProcNetTcp(v4, false);
  ASSERT_EQ(rows.size(), 1U);  // listening and malformed rows are left out
  EXPECT_EQ(rows[0].Row.LocalAddr, htonl(0x7F000001));
  EXPECT_EQ(rows[0].Row.LocalPort, htons(8080));
  EXPECT_EQ(rows[0].Row.RemotePort, htons(50000));
  EXPECT_EQ(rows[0].Inode, 4242U);

  const char* v6 =
      "  sl  local_address                         remote_address                        st\n"
      "   0: 0000000000000000FFFF00000100007F:0050 0000000000000000FFFF00000200000A:D431 01 "
      "00000000:00000000 00:00000000 00000000  0 0 555 1\n"
      "   1: 00000000000000000000000001000000:0050 00000000000000000000000001000000:D432 01 "
      "00000000:00000000 00:00000000 00000000  0 0 556 1\n";
  const auto mapped = ParseProcNetTcp(v6, true);
  ASSERT_EQ(mapped.size(), 1U);  // real IPv6 (::1) is left out
  EXPECT_EQ(mapped[0].Row.LocalAddr, htonl(0x7F000001));
  EXPECT_EQ(mapped[0].Row.RemoteAddr, htonl(0x0A000002));
  EXPECT_EQ(mapped[0].Row.RemotePort, htons(0xD431));
  EXPECT_EQ(mapped[0].Inode, 555U);
}

// A connection read twice while the table changed counts once; sockets not yet accepted (no
// inode) are each their own.
TEST(TcpConnections, ARowReadTwiceCountsOnce) {
  std::vector<TcpSocket> sockets = {{{}, 7}, {{}, 0}, {{}, 9}, {{}, 7}, {{}, 0}, {{}, 9}};
  sockets[3].Row.LocalPort = 1;  // the second read of 7 is dropped, not the first
  platform::DropRepeatedSockets(sockets);
  ASSERT_EQ(sockets.size(), 4U);
  EXPECT_EQ(sockets[0].Inode, 7U);
  EXPECT_EQ(sockets[0].Row.LocalPort, 0U);
  EXPECT_EQ(sockets[1].Inode, 0U);
  EXPECT_EQ(sockets[2].Inode, 9U);
  EXPECT_EQ(sockets[3].Inode, 0U);
}

TEST(LocalAddresses, IncludeLoopbackInHostOrder) {
  const auto addresses = platform::LocalIPv4Addresses();
  EXPECT_NE(std::find(addresses.begin(), addresses.end(), 0x7F000001U), addresses.end());
}

}  // namespace
