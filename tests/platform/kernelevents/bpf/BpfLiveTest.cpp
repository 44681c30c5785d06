// The kernel programs on the running machine, loaded in this process, at the level of records:
// UDP datagrams with their unconnected end, buffered file I/O under the file's full path, and
// direct I/O as "<other>" with response times (TCP and process starts are checked through the
// model through the probe in ProbeModelTest). Needs root and a kernel that lets the programs load;
// skips saying why otherwise. Every wait is bounded.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>

#include "platform/kernelevents/KernelLogger.h"
#include "platform/kernelevents/bpf/BpfEventSource.h"
#include "platform/paths/Paths.h"
#include "tests/support/EventRecordBuilder.h"
#include "tests/support/LiveWorkload.h"

namespace {

using namespace platform;
constexpr auto U32 = ombrix::testing::RecordU32;
constexpr auto Port = ombrix::testing::RecordPort;
constexpr auto Utf16Name = ombrix::testing::RecordName;

constexpr std::uint32_t kAll = EVENT_TRACE_FLAG_PROCESS | EVENT_TRACE_FLAG_NETWORK_TCPIP |
                               EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_DISK_FILE_IO;

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

bool WaitFor(const std::function<bool(const std::vector<EventRecord>&)>& done) {
  return ombrix::testing::WaitUntil([&] {
    std::lock_guard lock(g_mutex);
    return done(g_records);
  });
}

// Why the BPF backend cannot run here; empty when it can.
std::string WhyNoBpf() {
  if (geteuid() != 0) return "the BPF event source test needs root";
  BpfEventSource probe;
  const SourceOpenResult opened = probe.Open(kAll);
  if (!opened.Opened)
    return "BPF programs cannot load here: " + std::string(std::strerror(opened.FirstError));
  return {};
}

std::string DiskFolder() {
  // Beside the test program: the build tree is on a disk, while /tmp may be memory only.
  std::string folder = ProgramDir();
  if (!folder.ends_with('/')) folder += '/';
  folder += "bpf-live-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) return {};
  return folder;
}

// Whether received datagrams carry their own source here: that needs a program on a kernel
// function, which not every kernel allows.
bool DatagramSourcesHere() {
  static const bool sources = [] {
    BpfEventSource source;
    return source.Open(EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened && source.DatagramSources();
  }();
  return sources;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in own{};
  socklen_t length = sizeof own;
  getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length);
  return ntohs(own.sin_port);
}

// An unconnected UDP socket bound to a loopback port.
int BoundUdp() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

class BpfLive : public ::testing::Test {
 protected:
  void SetUp() override {
    static const std::string why = WhyNoBpf();
    if (!why.empty()) GTEST_SKIP() << why;
    g_records.clear();
    EVENT_TRACE_PROPERTIES properties{};
    properties.Guid = SystemTraceControlGuid;
    properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    properties.EnableFlags = kAll;
    ASSERT_EQ(logger.StartTrace(&session, KERNEL_LOGGER_NAME, &properties), 0u);
    EXPECT_EQ(properties.SourceStatus, 0u) << "every class attaches";
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

  KernelLogger logger{[] { return std::make_unique<BpfEventSource>(); }};
  TRACEHANDLE session = INVALID_TRACE_HANDLE, consumer = INVALID_TRACE_HANDLE;
  std::thread consumerThread;
};

TEST_F(BpfLive, UdpDatagramsAreCountedOnTheirSockets) {
  ombrix::testing::LoopbackUdp udp;
  ASSERT_TRUE(udp.Ready());
  const std::uint16_t port = udp.ServerPort(), clientPort = udp.ClientPort();
  constexpr int kDatagrams = 50;
  constexpr std::size_t kSize = 1000;
  const std::uint64_t delivered = kDatagrams * kSize;
  ASSERT_EQ(udp.Exchange(kDatagrams, kSize), static_cast<std::int64_t>(delivered));
  udp.Close();

  const auto self = static_cast<std::uint32_t>(getpid());
  std::uint64_t sent = 0, received = 0;
  WaitFor([&](const std::vector<EventRecord>& records) {
    sent = received = 0;
    for (const EventRecord& r : records) {
      if (r.Header.Guid != UdpIpGuid || U32(r, 0) != self) continue;
      if (r.Header.Class.Type == EVENT_TYPE_NET_SEND && Port(r, netio::DestPort) == port &&
          U32(r, netio::DestAddr) == htonl(INADDR_LOOPBACK))
        sent += U32(r, 4);
      // The receiving socket is unconnected: each datagram's own source is its remote end
      // where the kernel lets it be seen, else none at all.
      const bool fromClient = DatagramSourcesHere()
                                  ? U32(r, netio::DestAddr) == htonl(INADDR_LOOPBACK) &&
                                        Port(r, netio::DestPort) == clientPort
                                  : U32(r, netio::DestAddr) == 0 && Port(r, netio::DestPort) == 0;
      if (r.Header.Class.Type == EVENT_TYPE_NET_RECV && Port(r, netio::SourcePort) == port &&
          fromClient)
        received += U32(r, 4);
    }
    return sent >= delivered && received >= delivered;
  });
  EXPECT_EQ(sent, delivered);
  EXPECT_EQ(received, delivered);
}

// A dual-stack socket talking to an IPv4 peer holds v4-mapped addresses; they count as IPv4.
TEST_F(BpfLive, V4MappedSocketsCountAsIpv4) {
  const int server = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
  const std::uint16_t port = ntohs(address.sin_port);
  const int client = socket(AF_INET6, SOCK_DGRAM, 0);
  if (client < 0) GTEST_SKIP() << "no IPv6 sockets here";
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = htons(port);
  ASSERT_EQ(inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr), 1);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&mapped), sizeof mapped), 0);
  constexpr int kDatagrams = 20;
  constexpr std::size_t kSize = 300;
  const std::vector<char> payload(kSize, 'm');
  for (int k = 0; k < kDatagrams; ++k)
    ASSERT_EQ(send(client, payload.data(), kSize, 0), static_cast<ssize_t>(kSize));
  close(client);
  close(server);

  const auto self = static_cast<std::uint32_t>(getpid());
  std::uint64_t sent = 0;
  WaitFor([&](const std::vector<EventRecord>& records) {
    sent = 0;
    for (const EventRecord& r : records)
      if (r.Header.Guid == UdpIpGuid && U32(r, 0) == self &&
          r.Header.Class.Type == EVENT_TYPE_NET_SEND && Port(r, netio::DestPort) == port &&
          U32(r, netio::DestAddr) == htonl(INADDR_LOOPBACK) &&
          U32(r, netio::SourceAddr) == htonl(INADDR_LOOPBACK))
        sent += U32(r, 4);
    return sent >= kDatagrams * kSize;
  });
  EXPECT_EQ(sent, kDatagrams * kSize);
}

struct DiskTotals {
  std::uint32_t Object = OTHER_FILE_OBJECT;
  std::uint64_t Read = 0, Written = 0;
  std::uint32_t LongestResponse = 0;
};

DiskTotals TotalsFor(const std::vector<EventRecord>& records, const std::string& path) {
  DiskTotals totals;
  for (const EventRecord& r : records) {
    if (r.Header.Guid == FileIoGuid && Utf16Name(r) == path) totals.Object = U32(r, 0);
    if (r.Header.Guid != DiskIoGuid || totals.Object == OTHER_FILE_OBJECT ||
        U32(r, diskio::FileObject) != totals.Object)
      continue;  // only records after the name count, so the name must come first
    (r.Header.Class.Type == EVENT_TYPE_DISK_WRITE ? totals.Written : totals.Read) +=
        U32(r, diskio::TransferSize);
    totals.LongestResponse = std::max(totals.LongestResponse, U32(r, diskio::Response));
  }
  return totals;
}

TEST_F(BpfLive, FileWrittenAndReadReachesTheDiskUnderItsName) {
  const std::string folder = DiskFolder();
  ASSERT_FALSE(folder.empty());
  const std::string path = folder + "/data.bin";
  constexpr std::size_t kBytes = 4 << 20;
  const std::vector<char> block(65536, 'd');
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  for (std::size_t done = 0; done < kBytes; done += block.size())
    ASSERT_EQ(write(out, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  ASSERT_EQ(fsync(out), 0);
  close(out);
  DiskTotals totals;
  EXPECT_TRUE(WaitFor([&](const auto& records) {
    totals = TotalsFor(records, path);
    return totals.Written >= kBytes;
  })) << "written "
      << totals.Written;

  // Out of the page cache, so that reading it goes to the disk again.
  const int in = open(path.c_str(), O_RDONLY);
  ASSERT_GE(in, 0);
  ASSERT_TRUE(ombrix::testing::DropFromPageCache(in, kBytes)) << "the file stayed in the cache";
  std::vector<char> buffer(65536);
  while (read(in, buffer.data(), buffer.size()) > 0) {
  }
  close(in);
  EXPECT_TRUE(WaitFor([&](const auto& records) {
    totals = TotalsFor(records, path);
    return totals.Read >= kBytes;
  })) << "read "
      << totals.Read;
  unlink(path.c_str());
  rmdir(folder.c_str());
  EXPECT_NE(totals.Object, OTHER_FILE_OBJECT) << "the name came with the folder's full path";
  EXPECT_EQ(totals.Written, kBytes);
  EXPECT_EQ(totals.Read, kBytes);
  EXPECT_GT(totals.LongestResponse, 0u);
}

TEST_F(BpfLive, DirectWriteIsDiskIoWithResponseTimes) {
  const std::string folder = DiskFolder();
  ASSERT_FALSE(folder.empty());
  const std::string path = folder + "/direct.bin";
  constexpr std::size_t kBytes = 4 << 20, kBlock = 1 << 20;
  void* aligned = nullptr;
  ASSERT_EQ(posix_memalign(&aligned, 4096, kBlock), 0);
  std::memset(aligned, 'o', kBlock);
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_DIRECT, 0600);
  if (out < 0) {
    std::free(aligned);
    rmdir(folder.c_str());
    GTEST_SKIP() << "this file system refuses direct I/O: " << std::strerror(errno);
  }
  for (std::size_t done = 0; done < kBytes; done += kBlock)
    ASSERT_EQ(write(out, aligned, kBlock), static_cast<ssize_t>(kBlock));
  close(out);
  std::free(aligned);
  unlink(path.c_str());
  rmdir(folder.c_str());

  const auto self = static_cast<std::uint32_t>(getpid());
  std::uint64_t written = 0;
  std::uint32_t longest = 0;
  WaitFor([&](const std::vector<EventRecord>& records) {
    written = 0;
    for (const EventRecord& r : records) {
      if (r.Header.Guid != DiskIoGuid || r.Header.ProcessId != self ||
          r.Header.Class.Type != EVENT_TYPE_DISK_WRITE ||
          U32(r, diskio::FileObject) != OTHER_FILE_OBJECT)
        continue;
      written += U32(r, diskio::TransferSize);
      longest = std::max(longest, U32(r, diskio::Response));
    }
    return written >= kBytes;
  });
  // Direct I/O pages belong to no file; the bytes are the submitter's own.
  EXPECT_GE(written, kBytes);
  EXPECT_GT(longest, 0u) << "issue to completion takes some microseconds";
}

// One unconnected socket talks to two others: every datagram is recorded with its own remote end,
// not the socket's none, so the two conversations stay apart.
TEST_F(BpfLive, UnconnectedDatagramsCarryEachOnesOwnRemoteEnd) {
  const int client = BoundUdp(), first = BoundUdp(), second = BoundUdp();
  const std::uint16_t clientPort = LocalPort(client);
  constexpr int kDatagrams = 30;
  constexpr std::size_t kFirst = 200, kSecond = 700;
  const std::vector<char> payload(kSecond, 'v');
  std::vector<char> buffer(1024);
  for (int k = 0; k < kDatagrams; ++k) {
    for (const auto& [server, size] : {std::pair{first, kFirst}, std::pair{second, kSecond}}) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      to.sin_port = htons(LocalPort(server));
      ASSERT_EQ(
          sendto(client, payload.data(), size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
          static_cast<ssize_t>(size));
      ASSERT_EQ(recv(server, buffer.data(), buffer.size(), 0), static_cast<ssize_t>(size));
    }
  }
  const std::uint16_t firstPort = LocalPort(first), secondPort = LocalPort(second);
  for (int fd : {client, first, second}) close(fd);

  const auto self = static_cast<std::uint32_t>(getpid());
  const auto bytes = [&](const std::vector<EventRecord>& records, std::uint8_t type,
                         std::uint16_t local, std::uint16_t remote) {
    std::uint64_t total = 0;
    for (const EventRecord& r : records)
      if (r.Header.Guid == UdpIpGuid && U32(r, 0) == self && r.Header.Class.Type == type &&
          Port(r, netio::SourcePort) == local && Port(r, netio::DestPort) == remote &&
          U32(r, netio::DestAddr) == htonl(INADDR_LOOPBACK))
        total += U32(r, netio::Size);
    return total;
  };
  std::uint64_t toFirst = 0, toSecond = 0, fromClient = 0;
  WaitFor([&](const std::vector<EventRecord>& records) {
    toFirst = bytes(records, EVENT_TYPE_NET_SEND, clientPort, firstPort);
    toSecond = bytes(records, EVENT_TYPE_NET_SEND, clientPort, secondPort);
    fromClient = bytes(records, EVENT_TYPE_NET_RECV, secondPort, clientPort);
    return toFirst >= kDatagrams * kFirst && toSecond >= kDatagrams * kSecond &&
           (!DatagramSourcesHere() || fromClient >= kDatagrams * kSecond);
  });
  EXPECT_EQ(toFirst, kDatagrams * kFirst);
  EXPECT_EQ(toSecond, kDatagrams * kSecond);
  if (DatagramSourcesHere()) {
    EXPECT_EQ(fromClient, kDatagrams * kSecond);
  } else {
    std::printf(
        "received datagrams keep their socket's remote end: this kernel lets no program "
        "hook the function that hands them over\n");
  }
}

// Written, then synced together: small files whose blocks follow each other on the disk go out in
// merged requests, and each file is charged exactly its own bytes.
TEST_F(BpfLive, FilesSyncedTogetherAreEachChargedTheirOwnBytes) {
  const std::string folder = DiskFolder();
  ASSERT_FALSE(folder.empty());
  struct File {
    std::string Path;
    std::size_t Bytes;
  };
  std::vector<File> files;
  for (int k = 0; k < 8; ++k) files.push_back({folder + "/small" + std::to_string(k), 16384});
  for (int k = 0; k < 3; ++k) files.push_back({folder + "/large" + std::to_string(k), 1 << 20});
  for (const File& f : files) {
    const int out = open(f.Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(out, 0);
    const std::vector<char> block(f.Bytes, 's');
    ASSERT_EQ(write(out, block.data(), block.size()), static_cast<ssize_t>(block.size()));
    close(out);
  }
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(syncfs(dir), 0);
  close(dir);
  std::vector<std::uint64_t> written(files.size());
  WaitFor([&](const std::vector<EventRecord>& records) {
    bool all = true;
    for (std::size_t k = 0; k < files.size(); ++k) {
      written[k] = TotalsFor(records, files[k].Path).Written;
      all = all && written[k] >= files[k].Bytes;
    }
    return all;
  });
  for (std::size_t k = 0; k < files.size(); ++k) {
    EXPECT_EQ(written[k], files[k].Bytes) << files[k].Path;
    unlink(files[k].Path.c_str());
  }
  rmdir(folder.c_str());
}

// A new file that gets a deleted file's inode number is another file: it comes with its own name,
// and its bytes are not charged to the old one.
TEST_F(BpfLive, AReusedInodeComesWithItsNewName) {
  const std::string folder = DiskFolder();
  ASSERT_FALSE(folder.empty());
  const auto writeSynced = [](const std::string& path, std::size_t bytes) {
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::vector<char> block(bytes, 'r');
    const bool ok = out >= 0 && write(out, block.data(), bytes) == static_cast<ssize_t>(bytes) &&
                    fsync(out) == 0;
    struct stat info {};
    fstat(out, &info);
    close(out);
    return ok ? info.st_ino : 0;
  };
  const std::string oldPath = folder + "/old.bin", newPath = folder + "/new.bin";
  const ino_t oldInode = writeSynced(oldPath, 8192);
  ASSERT_NE(oldInode, 0u);
  ASSERT_TRUE(
      WaitFor([&](const auto& records) { return TotalsFor(records, oldPath).Written >= 8192; }));
  unlink(oldPath.c_str());
  ino_t newInode = 0;
  for (int tries = 0; tries < 20 && newInode != oldInode; ++tries) {
    if (newInode != 0) unlink(newPath.c_str());
    const int fd = open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    struct stat info {};
    fstat(fd, &info);
    close(fd);
    newInode = info.st_ino;
  }
  if (newInode != oldInode) {
    unlink(newPath.c_str());
    rmdir(folder.c_str());
    GTEST_SKIP() << "this file system gave the new file no freed inode number";
  }
  ASSERT_EQ(writeSynced(newPath, 12288), oldInode);
  DiskTotals fresh, old;
  WaitFor([&](const auto& records) {
    fresh = TotalsFor(records, newPath);
    return fresh.Written >= 12288;
  });
  {
    std::lock_guard lock(g_mutex);
    old = TotalsFor(g_records, oldPath);
  }
  unlink(newPath.c_str());
  rmdir(folder.c_str());
  EXPECT_EQ(fresh.Written, 12288u) << "the new file's bytes under its own name";
  EXPECT_NE(fresh.Object, old.Object);
  EXPECT_EQ(old.Written, 8192u) << "and none of them under the old name";
}

}  // namespace
