// The periodic Linux sources, watching this test's own process (no privilege needed): the
// open-file scan's accounting of positions, the TCP counters of a connection to the end, and
// the /proc listing used when the process connector is refused.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/kernelevents/FileActivity.h"
#include "platform/kernelevents/LinuxEventSource.h"
#include "platform/kernelevents/ProcessStarts.h"
#include "platform/kernelevents/TcpTraffic.h"
#include "platform/paths/Paths.h"
#include "tests/support/LiveWorkload.h"

namespace {

using namespace platform;

std::uint32_t U32(const EventRecord& r, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, r.Data.data() + at, 4);
  return v;
}

// Records about one file of this process: its name records, and the bytes its disk records
// carry by type.
struct TFileRecords {
  int Names = 0;
  std::uint64_t Read = 0, Written = 0;
  std::vector<std::uint64_t> Offsets;
};

class FileActivityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = ProgramDir();
    if (!folder.ends_with('/')) folder += '/';
    folder += "ktrace-files-XXXXXX";
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    path = folder + "/f.bin";
    ASSERT_EQ(files.Open(), 0);
  }
  void TearDown() override {
    unlink(path.c_str());
    rmdir(folder.c_str());
  }

  // One poll, keeping what concerns our file: its name record fixes the file object.
  TFileRecords Poll() {
    std::vector<EventRecord> out;
    files.Poll(out);
    TFileRecords seen;
    const auto self = static_cast<std::uint32_t>(getpid());
    for (const EventRecord& r : out) {
      if (r.Header.ProcessId != self) continue;
      if (r.Header.Guid == FileIoGuid && NameOf(r) == path) {
        object = U32(r, 0);
        ++seen.Names;
      } else if (r.Header.Guid == DiskIoGuid && U32(r, 24) == object) {
        (r.Header.Class.Type == EVENT_TYPE_DISK_WRITE ? seen.Written : seen.Read) += U32(r, 8);
        seen.Offsets.push_back(U32(r, 16));
      }
    }
    return seen;
  }
  static std::string NameOf(const EventRecord& r) {
    std::string name;
    for (std::size_t at = 4; at + 1 < r.Data.size() && (r.Data[at] | r.Data[at + 1]); at += 2)
      name.push_back(static_cast<char>(r.Data[at]));
    return name;
  }
  void Write(int fd, std::size_t bytes) {
    const std::vector<char> block(bytes, 'w');
    ASSERT_EQ(write(fd, block.data(), bytes), static_cast<ssize_t>(bytes));
  }

  std::string folder, path;
  std::uint32_t object = OTHER_FILE_OBJECT;
  FileActivity files{true, true};
};

TEST_F(FileActivityTest, GrowthOfAnOpenFileIsNamedOnceThenCounted) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  Write(fd, 10000);
  TFileRecords first = Poll();
  EXPECT_EQ(first.Names, 1);
  EXPECT_EQ(first.Written, 10000u);
  Write(fd, 5000);
  TFileRecords second = Poll();
  EXPECT_EQ(second.Names, 0) << "named once per file";
  EXPECT_EQ(second.Written, 5000u);
  EXPECT_EQ(second.Offsets, std::vector<std::uint64_t>{10000});
  EXPECT_EQ(Poll().Written, 0u) << "no growth, no record";
  close(fd);
}

TEST_F(FileActivityTest, ASeekFarAheadIsNoTransfer) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  Write(fd, 100);
  EXPECT_EQ(Poll().Written, 100u);
  ASSERT_EQ(lseek(fd, off_t{1} << 40, SEEK_SET), off_t{1} << 40);  // a terabyte into a sparse file
  Write(fd, 100);
  EXPECT_EQ(Poll().Written, 0u) << "the jump is not counted as data";
  Write(fd, 50);
  EXPECT_EQ(Poll().Written, 50u) << "growth after the jump counts again";
  close(fd);
}

TEST_F(FileActivityTest, AFileMadeAnewOnTheDeletedOnesInodeIsNamedAgain) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  Write(fd, 1000);
  ASSERT_EQ(Poll().Names, 1);
  const std::uint32_t first = object;
  struct stat before {
  }, after{};
  fstat(fd, &before);
  close(fd);
  unlink(path.c_str());
  fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  fstat(fd, &after);
  if (after.st_ino != before.st_ino) {
    close(fd);
    GTEST_SKIP() << "this file system gave the new file another inode";
  }
  Write(fd, 500);
  const TFileRecords seen = Poll();
  close(fd);
  EXPECT_EQ(seen.Names, 1) << "same name and inode, but another file";
  EXPECT_NE(object, first);
  EXPECT_EQ(seen.Written, 500u);
}

TEST_F(FileActivityTest, RewindReopenAndDuplicates) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  Write(fd, 8192);
  const int copy = dup(fd);  // one open file, two descriptors
  // Read and write share a descriptor opened for both; which one moved it is a guess from the
  // process's counters (and this process reads /proc), so only the sum is certain.
  TFileRecords seen = Poll();
  EXPECT_EQ(seen.Read + seen.Written, 8192u) << "a duplicated descriptor is counted once";
  lseek(fd, 0, SEEK_SET);
  std::vector<char> buffer(4096);
  ASSERT_EQ(read(fd, buffer.data(), buffer.size()), 4096);
  seen = Poll();
  EXPECT_EQ(seen.Read + seen.Written, 4096u) << "a rewound position counts from the start";
  close(copy);
  close(fd);

  // The same descriptor number on the same file, opened again for reading.
  fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  while (read(fd, buffer.data(), buffer.size()) > 0) {
  }
  EXPECT_EQ(Poll().Read, 8192u);
  close(fd);

  // Opening for append starts at the end, which we never saw: the file's size must not count.
  fd = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  Write(fd, 100);
  EXPECT_EQ(Poll().Written, 0u);
  Write(fd, 100);
  EXPECT_EQ(Poll().Written, 100u);
  close(fd);
}

// Bytes of the send records of this process from one local port.
std::uint64_t SentFrom(const std::vector<EventRecord>& records, std::uint16_t port) {
  std::uint64_t bytes = 0;
  for (const EventRecord& r : records) {
    std::uint16_t sport = 0;
    std::memcpy(&sport, r.Data.data() + 18, 2);
    if (r.Header.Guid == TcpIpGuid && r.Header.Class.Type == EVENT_TYPE_NET_SEND &&
        U32(r, 0) == static_cast<std::uint32_t>(getpid()) && ntohs(sport) == port)
      bytes += U32(r, 4);
  }
  return bytes;
}

TEST(TcpTraffic, AConnectionGoneFromTheDumpGetsItsLastBytesWhenItsSocketGoes) {
  TcpTraffic traffic;
  ASSERT_EQ(traffic.Open(), 0);
  if (traffic.DestroyFd() < 0) GTEST_SKIP() << "this kernel sends no destroy notifications";
  ombrix::testing::LoopbackTcp tcp;
  sockaddr_in local{};
  socklen_t length = sizeof local;
  ASSERT_EQ(getsockname(tcp.ClientFd(), reinterpret_cast<sockaddr*>(&local), &length), 0);
  const std::uint16_t port = ntohs(local.sin_port);
  ASSERT_TRUE(tcp.Transfer(100000));
  std::vector<EventRecord> out;
  traffic.Poll(out);
  // More data, then the connection ends while the client still holds its socket: the
  // connection leaves the dump and the socket's counters wait for its destruction.
  ASSERT_TRUE(tcp.Transfer(400000));
  ASSERT_TRUE(tcp.EndKeepingTheClientSocket());
  ASSERT_TRUE(ombrix::testing::WaitUntil([&] {
    tcp_info info{};
    socklen_t size = sizeof info;
    return getsockopt(tcp.ClientFd(), IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
           info.tcpi_state == TCP_CLOSE;
  }));
  traffic.Poll(out);
  tcp.CloseClientSocket();
  ombrix::testing::WaitUntil([&] {
    traffic.ReadDestroyed(out);
    return SentFrom(out, port) >= 500000;
  });
  EXPECT_GE(SentFrom(out, port), 500000u);
  EXPECT_LE(SentFrom(out, port), 500001u) << "its FIN counts as one byte at most";
}

TEST(ProcessScan, NewProcessShowsWithItsName) {
  ProcessScan scan;
  scan.Open();
  ombrix::testing::SleepingChild child("2");
  ASSERT_TRUE(child.Started());
  // posix_spawn returns once the child runs the new program, so its name is settled.
  std::vector<EventRecord> out;
  scan.Poll(out);
  std::string image;
  for (const EventRecord& r : out)
    if (U32(r, 4) == child.Id()) image = reinterpret_cast<const char*>(r.Data.data() + 44);
  std::vector<EventRecord> again;
  scan.Poll(again);
  child.Stop();
  EXPECT_EQ(image, "sleep");
  for (const EventRecord& r : again) EXPECT_NE(U32(r, 4), child.Id()) << "reported once";
}

}  // namespace

namespace {

// In a process without privileges: the process connector is refused, Open still succeeds with
// that errno, and process starts come from the /proc listing. Returns the failing step, 0 when
// all went as expected.
int UnprivilegedProcessStarts() {
  LinuxEventSource source(50);
  const SourceOpenResult opened =
      source.Open(EVENT_TRACE_FLAG_PROCESS | EVENT_TRACE_FLAG_NETWORK_TCPIP);
  if (!opened.Opened) return 1;
  if (opened.FirstError != EPERM) return 2;
  ombrix::testing::SleepingChild child;
  if (!child.Started()) return 3;
  bool seen = false;
  for (int poll = 0; poll < 100 && !seen; ++poll) {
    std::vector<EventRecord> out;
    source.Poll(out);
    for (const EventRecord& r : out)
      seen = seen || (r.Header.Guid == ProcessGuid && U32(r, 4) == child.Id());
  }
  return seen ? 0 : 4;
}

TEST(Unprivileged, SourcesThatNeedPrivilegeAreReportedAndReplaced) {
  if (geteuid() != 0) {
    EXPECT_EQ(UnprivilegedProcessStarts(), 0);
    return;
  }
  // As root, check it in a child that gives up root first.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    _exit(UnprivilegedProcessStarts());
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failed step (see UnprivilegedProcessStarts)";
}

}  // namespace
