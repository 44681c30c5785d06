// The primary Linux backend on the running machine: a loopback TCP transfer, a file written and
// read, and a child process must all come out as records. Needs root (the process connector,
// and other processes' /proc entries); every wait is bounded.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>

#include "platform/kernelevents/KernelLogger.h"
#include "platform/kernelevents/LinuxEventSource.h"
#include "platform/paths/Paths.h"
#include "tests/support/EventRecordBuilder.h"
#include "tests/support/LiveWorkload.h"

namespace {

using namespace platform;
constexpr auto U32 = ombrix::testing::RecordU32;
constexpr auto Utf16Name = ombrix::testing::RecordName;

std::mutex g_mutex;
std::vector<EventRecord> g_records;

void Collect(EVENT_TRACE* event) {
  EventRecord copy;
  copy.Header = event->Header;
  const auto* data = static_cast<const std::uint8_t*>(event->MofData);
  copy.Data.assign(data, data + event->MofLength);
  std::lock_guard lock(g_mutex);
  g_records.push_back(std::move(copy));
}

// Waits up to ten seconds for the collected records to satisfy done.
bool WaitFor(const std::function<bool(const std::vector<EventRecord>&)>& done) {
  return ombrix::testing::WaitUntil([&] {
    std::lock_guard lock(g_mutex);
    return done(g_records);
  });
}

struct FileTotals {
  std::uint32_t Object = OTHER_FILE_OBJECT;
  bool NamedFirst = false;
  std::uint64_t Read = 0, Written = 0;
};

FileTotals TotalsFor(const std::vector<EventRecord>& records, const std::string& path) {
  FileTotals totals;
  for (const EventRecord& r : records) {
    if (r.Header.Guid == FileIoGuid && Utf16Name(r) == path) totals.Object = U32(r, 0);
    if (r.Header.Guid != DiskIoGuid || U32(r, 24) != totals.Object) continue;
    totals.NamedFirst = true;  // the name record came before this one
    (r.Header.Class.Type == EVENT_TYPE_DISK_WRITE ? totals.Written : totals.Read) += U32(r, 8);
  }
  return totals;
}

class LiveSource : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the live event source test needs root";
    g_records.clear();
    EVENT_TRACE_PROPERTIES properties{};
    properties.Guid = SystemTraceControlGuid;
    properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    properties.EnableFlags = EVENT_TRACE_FLAG_PROCESS | EVENT_TRACE_FLAG_NETWORK_TCPIP |
                             EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_DISK_FILE_IO;
    ASSERT_EQ(logger.StartTrace(&session, KERNEL_LOGGER_NAME, &properties), 0u);
    EXPECT_EQ(properties.SourceStatus, 0u) << "as root every source opens";
    EVENT_TRACE_LOGFILE logfile{};
    logfile.LoggerName = "NT Kernel Logger";
    logfile.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    logfile.EventCallback = Collect;
    consumer = logger.OpenTrace(&logfile);
    consumerThread = std::thread([this] { logger.ProcessTrace(&consumer, 1); });
  }
  void TearDown() override {
    if (!consumerThread.joinable()) return;
    logger.CloseTrace(consumer);
    consumerThread.join();
    EVENT_TRACE_PROPERTIES properties{};
    properties.Guid = SystemTraceControlGuid;
    logger.ControlTrace(session, KERNEL_LOGGER_NAME, &properties, EVENT_TRACE_CONTROL_STOP);
  }

  KernelLogger logger{[] { return std::make_unique<LinuxEventSource>(200); }};
  TRACEHANDLE session = INVALID_TRACE_HANDLE, consumer = INVALID_TRACE_HANDLE;
  std::thread consumerThread;
};

TEST_F(LiveSource, LoopbackTransferShowsAsSocketBytes) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 1), 0);
  getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
  const std::uint16_t port = ntohs(address.sin_port);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const int accepted = accept(server, nullptr, nullptr);
  ASSERT_GE(accepted, 0);

  constexpr std::size_t kBytes = 1 << 20;
  std::thread reader([&] {
    std::vector<char> buffer(65536);
    std::size_t got = 0;
    while (got < kBytes) {
      const ssize_t n = read(accepted, buffer.data(), buffer.size());
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  });
  const std::vector<char> payload(kBytes, 'x');
  for (std::size_t sent = 0; sent < kBytes;) {
    const ssize_t n = write(client, payload.data() + sent, kBytes - sent);
    ASSERT_GT(n, 0);
    sent += static_cast<std::size_t>(n);
  }
  reader.join();

  const auto self = static_cast<std::uint32_t>(getpid());
  std::uint64_t sent = 0, received = 0;
  std::uint32_t largest = 0;
  const bool seen = WaitFor([&](const std::vector<EventRecord>& records) {
    sent = received = 0;
    largest = 0;
    for (const EventRecord& r : records) {
      if (r.Header.Guid != TcpIpGuid || U32(r, 0) != self) continue;
      const std::uint16_t dport = ntohs(static_cast<std::uint16_t>(r.Data[16] | r.Data[17] << 8));
      const std::uint16_t sport = ntohs(static_cast<std::uint16_t>(r.Data[18] | r.Data[19] << 8));
      if (r.Header.Class.Type == EVENT_TYPE_NET_SEND && dport == port) {
        sent += U32(r, 4);
        largest = std::max(largest, U32(r, 4));
      }
      if (r.Header.Class.Type == EVENT_TYPE_NET_RECV && sport != port && dport == port)
        received += U32(r, 4);
    }
    return sent >= kBytes && received >= kBytes;
  });
  close(client);
  close(accepted);
  close(server);
  EXPECT_TRUE(seen) << "sent " << sent << ", received " << received;
  EXPECT_LE(sent, kBytes + 16) << "no more than the payload and the connection's SYN/FIN";
  EXPECT_LE(largest, 65536u) << "a poll's growth comes as records of at most 64 KiB";
}

TEST_F(LiveSource, FileWrittenAndReadShowsWithItsName) {
  // Beside the test program: the build tree is on a disk, while /tmp may be memory only.
  std::string folder = ProgramDir();
  if (!folder.ends_with('/')) folder += '/';
  folder += "ktrace-live-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string path = folder + "/data.bin";
  constexpr std::size_t kBytes = 4 << 20;
  const std::vector<char> block(65536, 'd');

  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  for (std::size_t done = 0; done < kBytes; done += block.size())
    ASSERT_EQ(write(out, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  // Open files are what the backend sees: keep it open until a poll has found the writes.
  FileTotals totals;
  EXPECT_TRUE(WaitFor([&](const auto& records) {
    totals = TotalsFor(records, path);
    return totals.Written >= kBytes;
  })) << "written "
      << totals.Written;
  close(out);

  const int in = open(path.c_str(), O_RDONLY);
  ASSERT_GE(in, 0);
  std::vector<char> buffer(65536);
  while (read(in, buffer.data(), buffer.size()) > 0) {
  }
  EXPECT_TRUE(WaitFor([&](const auto& records) {
    totals = TotalsFor(records, path);
    return totals.Read >= kBytes;
  })) << "read "
      << totals.Read;
  close(in);
  unlink(path.c_str());
  rmdir(folder.c_str());

  EXPECT_NE(totals.Object, OTHER_FILE_OBJECT) << "the name record came first";
  EXPECT_EQ(totals.Written, kBytes);
  EXPECT_EQ(totals.Read, kBytes);
}

TEST_F(LiveSource, ChildProcessStartCarriesItsImageName) {
  ombrix::testing::SleepingChild child;
  ASSERT_TRUE(child.Started());
  std::string image;
  const bool seen = WaitFor([&](const std::vector<EventRecord>& records) {
    for (const EventRecord& r : records) {
      if (r.Header.Guid != ProcessGuid || U32(r, 4) != child.Id()) continue;
      const std::size_t nameAt = 28 + 8 + 4u * r.Data.at(29);
      image = reinterpret_cast<const char*>(r.Data.data() + nameAt);
      if (image == "sleep") return true;
    }
    return false;
  });
  EXPECT_TRUE(seen) << "last image seen for the child: \"" << image << "\"";
}

}  // namespace
