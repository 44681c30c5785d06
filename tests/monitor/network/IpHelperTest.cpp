#include "monitor/network/IpHelper.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

using ombrix::TIpHelper;

// A TCP connection over the loopback that this test process owns at both ends.
class LoopbackConnection {
 public:
  LoopbackConnection() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      return;
    }
    serverPort = ntohs(a.sin_port);
    client_ = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    server_ = accept(listener_, nullptr, nullptr);
    len = sizeof a;
    getsockname(client_, reinterpret_cast<sockaddr*>(&a), &len);
    clientPort = ntohs(a.sin_port);
  }
  ~LoopbackConnection() {
    for (int fd : {server_, client_, listener_}) {
      if (fd >= 0) close(fd);
    }
  }
  bool ok() const { return server_ >= 0 && clientPort != 0; }

  std::uint16_t serverPort = 0;
  std::uint16_t clientPort = 0;

 private:
  int listener_ = -1;
  int client_ = -1;
  int server_ = -1;
};

struct Row {
  std::uint32_t state, localAddr, localPort, remoteAddr, remotePort, pid;
};

TEST(IpHelper, TcpTableHoldsOurOwnLoopbackConnection) {
  LoopbackConnection connection;
  ASSERT_TRUE(connection.ok());
  TIpHelper helper;

  std::uint32_t size = 0;
  ASSERT_EQ(helper.TcpTable(nullptr, size, true, 2, 5), TIpHelper::InsufficientBuffer);
  ASSERT_GE(size, 4U + 2 * 24U);  // both ends of our connection at least
  std::vector<unsigned char> buffer(size + 1024);
  size = static_cast<std::uint32_t>(buffer.size());
  ASSERT_EQ(helper.TcpTable(buffer.data(), size, true, 2, 5), TIpHelper::NoError);

  std::uint32_t count = 0;
  std::memcpy(&count, buffer.data(), 4);
  ASSERT_EQ(size, 4 + count * 24);
  std::vector<Row> rows(count);
  std::memcpy(rows.data(), buffer.data() + 4, count * 24);

  int seen = 0;
  for (const Row& r : rows) {
    EXPECT_EQ(r.state, 5U);  // established only
    const bool clientEnd =
        ntohs(static_cast<std::uint16_t>(r.localPort)) == connection.clientPort &&
        ntohs(static_cast<std::uint16_t>(r.remotePort)) == connection.serverPort;
    const bool serverEnd =
        ntohs(static_cast<std::uint16_t>(r.localPort)) == connection.serverPort &&
        ntohs(static_cast<std::uint16_t>(r.remotePort)) == connection.clientPort;
    if (!clientEnd && !serverEnd) continue;
    ++seen;
    EXPECT_EQ(r.remoteAddr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(r.localAddr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(r.pid, static_cast<std::uint32_t>(getpid()));
  }
  EXPECT_EQ(seen, 2);

  // Sorted by local address and port, in host order.
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto key = [](const Row& r) {
      return (std::uint64_t{ntohl(r.localAddr)} << 16) |
             ntohs(static_cast<std::uint16_t>(r.localPort));
    };
    EXPECT_LE(key(rows[i - 1]), key(rows[i]));
  }
}

TEST(IpHelper, TcpTableRefusesWhatItDoesNotServe) {
  TIpHelper helper;
  std::uint32_t size = 0;
  EXPECT_EQ(helper.TcpTable(nullptr, size, false, 23, 5), TIpHelper::InvalidParameter);
  EXPECT_EQ(helper.TcpTable(nullptr, size, false, 2, 1), TIpHelper::InvalidParameter);
  helper.Unbind();
  EXPECT_EQ(helper.TcpTable(nullptr, size, false, 2, 5), TIpHelper::Unavailable);
  helper.LoadLocalAddresses();
  EXPECT_TRUE(helper.LocalAddresses.empty());
}

TEST(IpHelper, LocalAddressesIncludeLoopbackAndEveryListedAddress) {
  TIpHelper helper;
  ASSERT_FALSE(helper.LocalAddresses.empty());
  EXPECT_NE(std::find(helper.LocalAddresses.begin(), helper.LocalAddresses.end(), 0x7F000001U),
            helper.LocalAddresses.end());
  helper.LocalAddresses = {0xC0000202, 0x0A000005};  // a machine with two addresses
  EXPECT_TRUE(helper.IsLocalAddress(0xC0000202));
  EXPECT_TRUE(helper.IsLocalAddress(0x0A000005));
  EXPECT_FALSE(helper.IsLocalAddress(0x08080808));
  EXPECT_TRUE(helper.IsLocalAddress(0x7F000002));  // the whole loopback network
}

}  // namespace
