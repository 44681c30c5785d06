// The whole event path on the running machine, once per backend: the kernel trace with the
// monitor's handlers fills the model's tables from the primary (procfs and netlink) backend and
// from the probe's kernel programs. What the two see differently is said by the backend's
// parameters, not by a second copy of the workload. Needs root (the process connector, other
// processes' /proc entries, loading the probe's programs); skips saying why otherwise. Every wait
// is bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "monitor/kerneltrace/EventHandlers.h"
#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/network/IpHelper.h"
#include "platform/kernelevents/EventBackend.h"
#include "platform/paths/Paths.h"
#include "tests/support/LiveWorkload.h"
#if OMBRIX_LIVE_PROBE
#include "platform/kernelevents/ProbeEventSource.h"
#include "platform/kernelevents/bpf/BpfEventSource.h"
#endif

namespace {

using ombrix::ModelLock;

struct Backend {
  platform::EventBackend Selected;
  const char* Name;  // as the session's statistics name it
  // The probe counts file traffic where it reaches the disk, with response times; the primary
  // backend counts the files' positions.
  bool DiskLevel;
  bool Datagrams;  // counts UDP traffic at all
  // Bytes a socket may show beyond its payload: the primary backend reads the sockets' own
  // counters, which count the connection's SYN and FIN.
  std::int64_t SocketSlack;
};

void PrintTo(const Backend& backend, std::ostream* out) {
  *out << backend.Name;
}

std::string WhyNot(const Backend& backend) {
  if (geteuid() != 0) return "the live model test needs root";
#if OMBRIX_LIVE_PROBE
  if (backend.Selected == platform::EventBackend::Probe) {
    platform::ProbeEventSource probe(platform::DefaultProbePath());
    if (!probe.Open(platform::EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened)
      return "the probe does not serve here: " + probe.Fault();
  }
#endif
  return {};
}

// Whether received datagrams carry their own source on this kernel (see the BPF source).
bool DatagramSourcesHere() {
#if OMBRIX_LIVE_PROBE
  static const bool sources = [] {
    platform::BpfEventSource source;
    return source.Open(platform::EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened && source.DatagramSources();
  }();
  return sources;
#else
  return false;
#endif
}

class LiveModel : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const std::string why = WhyNot(GetParam());
    if (!why.empty()) GTEST_SKIP() << why;
    platform::SelectEventBackend(GetParam().Selected);
    handlers.Install(trace);
    ASSERT_TRUE(trace.Start()) << "status " << trace.LastStatus;
    EXPECT_EQ(platform::EventSourceStats().Backend, GetParam().Name);
  }
  void TearDown() override {
    trace.Stop();
    platform::SelectEventBackend(platform::EventBackend::Automatic);
  }

  // Waits up to ten seconds for the model to satisfy done, asked under the model lock.
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

TEST_P(LiveModel, LoopbackTransferLandsOnASocketOfThisProcess) {
  constexpr std::int64_t kBytes = 1 << 20;
  ombrix::testing::LoopbackTcp pair;
  ASSERT_TRUE(pair.Connected());
  ASSERT_TRUE(pair.Transfer(kBytes));
  std::int64_t bytes = 0;
  const bool seen = WaitFor([&] {
    bytes = 0;
    for (const auto& s : tables.Sockets)
      if (s->ProcessId == self && s->RemoteAddress == INADDR_LOOPBACK) bytes += s->ByteCount;
    return bytes >= 2 * kBytes;  // sent by one end, received by the other
  });
  EXPECT_TRUE(seen) << "bytes on this process's loopback sockets: " << bytes;
  EXPECT_LE(bytes, 2 * kBytes + GetParam().SocketSlack);
  std::lock_guard lock(ModelLock);
  ASSERT_NE(tables.FindProcess(self), nullptr);
  EXPECT_TRUE(tables.FindProcess(self)->SawNetwork);
}

TEST_P(LiveModel, UdpExchangeIsCountedOnItsSockets) {
  if (!GetParam().Datagrams) GTEST_SKIP() << "this backend has no source of datagram traffic";
  ombrix::testing::LoopbackUdp udp;
  ASSERT_TRUE(udp.Ready());
  constexpr std::int64_t kDatagrams = 40, kSize = 512;
  ASSERT_EQ(udp.Exchange(kDatagrams, kSize), kDatagrams * kSize);
  udp.Close();
  // Both ends are here: the lower port names the remote end. The unconnected server's datagrams
  // carry the client as their source where the kernel shows it, and land on the same socket;
  // elsewhere they have no remote end ("Non-TCP Packets").
  const bool sources = DatagramSourcesHere();
  const std::int64_t pair = (sources ? 2 : 1) * kDatagrams * kSize;
  std::int64_t both = 0, unconnected = 0;
  WaitFor([&] {
    both = SocketBytes(std::min(udp.ServerPort(), udp.ClientPort()), INADDR_LOOPBACK);
    unconnected = SocketBytes(0, 0);
    return both >= pair && (sources || unconnected >= kDatagrams * kSize);
  });
  EXPECT_EQ(both, pair);
  if (!sources) {
    EXPECT_GE(unconnected, kDatagrams * kSize) << "other unconnected sockets of ours may add";
  }
}

// Written and synced, then read past the page cache: 4 MiB each way, at the file's positions
// and on the disk alike. Each handle stays open until its traffic is seen, as the primary
// backend finds files among the open ones.
TEST_P(LiveModel, FileWrittenAndReadLandsOnANamedFile) {
  std::string folder = platform::ProgramDir() + "live-model-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string path = folder + "/payload.bin";
  constexpr std::int64_t kBytes = 4 << 20;
  std::int64_t bytes = -1, responseSum = 0;
  auto fileBytes = [&] {
    for (const auto& f : tables.Files)
      if (f->ProcessId == self && f->GetName() == "payload.bin" && f->Directory == folder + "/") {
        responseSum = f->ResponseSum;
        return f->ByteCount;
      }
    return std::int64_t{-1};
  };
  const std::vector<char> block(65536, 'd');
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  for (std::int64_t done = 0; done < kBytes; done += 65536)
    ASSERT_EQ(write(out, block.data(), 65536), 65536);
  ASSERT_EQ(fsync(out), 0);
  EXPECT_TRUE(WaitFor([&] { return (bytes = fileBytes()) >= kBytes; })) << "written " << bytes;
  close(out);
  const int in = open(path.c_str(), O_RDONLY);
  ASSERT_GE(in, 0);
  ASSERT_TRUE(ombrix::testing::DropFromPageCache(in, kBytes)) << "the file stayed in the cache";
  std::vector<char> buffer(65536);
  while (read(in, buffer.data(), buffer.size()) > 0) {
  }
  EXPECT_TRUE(WaitFor([&] { return (bytes = fileBytes()) >= 2 * kBytes; })) << "moved " << bytes;
  close(in);
  unlink(path.c_str());
  rmdir(folder.c_str());
  EXPECT_EQ(bytes, 2 * kBytes) << "written once and read once";
  if (GetParam().DiskLevel) {
    EXPECT_GT(responseSum, 0) << "disk traffic comes with its response times";
  }
}

TEST_P(LiveModel, ChildStartNamesItsProcessAndMarksItWhole) {
  ombrix::testing::SleepingChild child;
  ASSERT_TRUE(child.Started());
  std::string name;
  bool partial = true;
  const bool seen = WaitFor([&] {
    const ombrix::TProcessInfo* p = tables.FindProcess(child.Id());
    if (p == nullptr) return false;
    name = p->Name;
    partial = p->Partial;
    return name == "sleep" && !partial;
  });
  EXPECT_TRUE(seen) << "child seen as \"" << name << "\", partial " << partial;
}

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param.Name;
}

INSTANTIATE_TEST_SUITE_P(Primary, LiveModel,
                         ::testing::Values(Backend{platform::EventBackend::Primary, "procfs", false,
                                                   false, 64}),
                         BackendName);
#if OMBRIX_LIVE_PROBE
INSTANTIATE_TEST_SUITE_P(Probe, LiveModel,
                         ::testing::Values(Backend{platform::EventBackend::Probe, "probe", true,
                                                   true, 0}),
                         BackendName);
#endif

}  // namespace
