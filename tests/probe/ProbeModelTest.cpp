// The whole event path through ombrix-probe, selected explicitly: the monitor's handlers fill
// the model from the records the probe's kernel programs make. Disk traffic is what reaches the
// disk, so the file case syncs its writes and drops its pages before reading. Needs root and a
// kernel that lets the programs load; skips saying why otherwise. Every wait is bounded.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "monitor/kerneltrace/EventHandlers.h"
#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/network/IpHelper.h"
#include "platform/kernelevents/EventBackend.h"
#include "platform/kernelevents/ProbeEventSource.h"
#include "platform/kernelevents/bpf/BpfEventSource.h"
#include "platform/paths/Paths.h"
#include "tests/support/LiveWorkload.h"

extern char** environ;

namespace {

using ombrix::ModelLock;

std::string WhyNoProbe() {
  if (geteuid() != 0) return "the probe model test needs root";
  platform::ProbeEventSource probe(platform::DefaultProbePath());
  if (!probe.Open(platform::EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened)
    return "the probe does not serve here: " + probe.Fault();
  return {};
}

// Whether received datagrams carry their own source on this kernel (see the BPF source).
bool DatagramSourcesHere() {
  static const bool sources = [] {
    platform::BpfEventSource source;
    return source.Open(platform::EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened && source.DatagramSources();
  }();
  return sources;
}

class ProbeModel : public ::testing::Test {
 protected:
  void SetUp() override {
    static const std::string why = WhyNoProbe();
    if (!why.empty()) GTEST_SKIP() << why;
    platform::SelectEventBackend(platform::EventBackend::Probe);
    handlers.Install(trace);
    ASSERT_TRUE(trace.Start()) << "status " << trace.LastStatus;
    EXPECT_EQ(platform::EventSourceStats().Backend, "probe");
  }
  void TearDown() override {
    trace.Stop();
    platform::SelectEventBackend(platform::EventBackend::Automatic);
  }

  bool WaitFor(const std::function<bool()>& done) {
    return ombrix::testing::WaitUntil([&] {
      std::lock_guard lock(ModelLock);
      return done();
    });
  }

  std::int64_t SocketBytes(std::uint16_t remotePort, std::uint32_t remoteAddress) {
    std::int64_t bytes = 0;
    for (const auto& s : tables.Sockets)
      if (s->ProcessId == self && s->RemotePort == remotePort && s->RemoteAddress == remoteAddress)
        bytes += s->ByteCount;
    return bytes;
  }

  const std::uint32_t self = static_cast<std::uint32_t>(getpid());
  ombrix::TEntityTables tables;
  ombrix::TIpHelper ip;
  ombrix::TEventHandlers handlers{tables, ip};
  ombrix::TKernelEventTrace trace;
};

TEST_F(ProbeModel, LoopbackTransferLandsExactlyOnThisProcessesSockets) {
  constexpr std::int64_t kBytes = 1 << 20;
  ombrix::testing::LoopbackTcp pair;
  ASSERT_TRUE(pair.Connected());
  ASSERT_TRUE(pair.Transfer(kBytes));
  std::int64_t bytes = 0;
  WaitFor([&] {
    bytes = 0;
    for (const auto& s : tables.Sockets)
      if (s->ProcessId == self && s->RemoteAddress == INADDR_LOOPBACK) bytes += s->ByteCount;
    return bytes >= 2 * kBytes;  // sent by one end, received by the other
  });
  EXPECT_EQ(bytes, 2 * kBytes);
}

TEST_F(ProbeModel, UdpExchangeIsCountedOnItsSockets) {
  const int server = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
  const std::uint16_t port = ntohs(address.sin_port);
  const int client = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  sockaddr_in own{};
  length = sizeof own;
  getsockname(client, reinterpret_cast<sockaddr*>(&own), &length);
  const std::uint16_t clientPort = ntohs(own.sin_port);
  constexpr std::int64_t kDatagrams = 40, kSize = 512;
  const std::vector<char> payload(kSize, 'u');
  std::vector<char> buffer(2 * kSize);
  for (int k = 0; k < kDatagrams; ++k) {
    ASSERT_EQ(send(client, payload.data(), kSize, 0), kSize);
    ASSERT_EQ(recv(server, buffer.data(), buffer.size(), 0), kSize);
  }
  close(client);
  close(server);
  // Both ends are here: the lower port names the remote end. The unconnected server's datagrams
  // carry the client as their source where the kernel shows it, and land on the same socket;
  // elsewhere they have no remote end ("Non-TCP Packets").
  const bool sources = DatagramSourcesHere();
  const std::int64_t pair = (sources ? 2 : 1) * kDatagrams * kSize;
  std::int64_t both = 0, unconnected = 0;
  WaitFor([&] {
    both = SocketBytes(std::min(port, clientPort), INADDR_LOOPBACK);
    unconnected = SocketBytes(0, 0);
    return both >= pair && (sources || unconnected >= kDatagrams * kSize);
  });
  EXPECT_EQ(both, pair);
  if (!sources) {
    EXPECT_GE(unconnected, kDatagrams * kSize) << "other unconnected sockets of ours may add";
  }
}

TEST_F(ProbeModel, FileReachingTheDiskLandsOnANamedFileWithResponseTimes) {
  std::string folder = platform::ProgramDir() + "bpf-model-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string path = folder + "/payload.bin";
  constexpr std::int64_t kBytes = 4 << 20;
  const std::vector<char> block(65536, 'd');
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  for (std::int64_t done = 0; done < kBytes; done += 65536)
    ASSERT_EQ(write(out, block.data(), 65536), 65536);
  ASSERT_EQ(fsync(out), 0);
  close(out);
  const int in = open(path.c_str(), O_RDONLY);
  ASSERT_GE(in, 0);
  ASSERT_EQ(posix_fadvise(in, 0, 0, POSIX_FADV_DONTNEED), 0);
  std::vector<char> buffer(65536);
  while (read(in, buffer.data(), buffer.size()) > 0) {
  }
  close(in);
  unlink(path.c_str());
  rmdir(folder.c_str());

  std::int64_t bytes = -1, responseSum = 0;
  WaitFor([&] {
    for (const auto& f : tables.Files)
      if (f->ProcessId == self && f->GetName() == "payload.bin" && f->Directory == folder + "/") {
        bytes = f->ByteCount;
        responseSum = f->ResponseSum;
      }
    return bytes >= 2 * kBytes;
  });
  EXPECT_EQ(bytes, 2 * kBytes) << "written once and read once from the disk";
  EXPECT_GT(responseSum, 0);
}

TEST_F(ProbeModel, ChildStartNamesItsProcessAndMarksItWhole) {
  pid_t child = 0;
  char program[] = "/bin/sleep";
  char argument[] = "1";
  char* argv[] = {program, argument, nullptr};
  ASSERT_EQ(posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
  std::string name;
  bool partial = true;
  const bool seen = WaitFor([&] {
    const ombrix::TProcessInfo* p = tables.FindProcess(static_cast<std::uint32_t>(child));
    if (p == nullptr) return false;
    name = p->Name;
    partial = p->Partial;
    return name == "sleep" && !partial;
  });
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(seen) << "child seen as \"" << name << "\", partial " << partial;
}

}  // namespace
