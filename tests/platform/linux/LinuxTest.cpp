// The Linux room: handles that close on every path, the one reader of whole files and of
// /proc/PID/stat, the pid listing, mounts, and socket diagnostics on this machine.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/Files.h"
#include "platform/linux/Handle.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/ProcStat.h"
#include "platform/linux/ProcText.h"
#include "platform/linux/Processes.h"
#include "platform/linux/SockDiag.h"
#include "tests/support/LiveWorkload.h"
#include "tests/support/TempDir.h"

namespace platform::os {
namespace {

using ombrix::testing::TempDir;

bool IsOpen(int fd) {
  return fcntl(fd, F_GETFD) >= 0;
}

TEST(Fd, ClosesOnceWhereverItsOwnershipEnds) {
  int raw = -1;
  {
    Fd first(open("/dev/null", O_RDONLY | O_CLOEXEC));
    raw = first.Get();
    ASSERT_TRUE(first.Valid());
    Fd second = std::move(first);
    // NOLINTNEXTLINE(bugprone-use-after-move): the moved-from state is what is tested
    EXPECT_FALSE(first.Valid()) << "a moved-from handle owns nothing";
    EXPECT_EQ(second.Get(), raw);
    EXPECT_TRUE(IsOpen(raw));
  }
  EXPECT_FALSE(IsOpen(raw)) << "closed at the end of its last owner";

  Fd held(open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int released = held.Release();
  EXPECT_FALSE(held.Valid());
  EXPECT_TRUE(IsOpen(released)) << "released means handed over, not closed";
  Fd adopted(released);
  EXPECT_EQ(adopted.Close(), 0);
  EXPECT_FALSE(IsOpen(released));
  EXPECT_EQ(adopted.Close(), 0) << "closing twice closes nothing the second time";

  Fd replaced(open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int old = replaced.Get();
  replaced = Fd(open("/dev/zero", O_RDONLY | O_CLOEXEC));
  EXPECT_TRUE(replaced.Valid());
  EXPECT_FALSE(IsOpen(old)) << "the one replaced is closed";
}

TEST(Fd, PipeEndsAndCloseErrors) {
  Pipe pipe = OpenPipe(O_CLOEXEC);
  ASSERT_TRUE(pipe.Read && pipe.Write);
  ASSERT_EQ(write(pipe.Write.Get(), "x", 1), 1);
  EXPECT_EQ(pipe.Write.Close(), 0);
  char byte = 0;
  EXPECT_EQ(read(pipe.Read.Get(), &byte, 1), 1);
  EXPECT_EQ(read(pipe.Read.Get(), &byte, 1), 0) << "the writing end is gone";
  Fd bogus(1 << 20);  // no such descriptor: close reports it
  EXPECT_EQ(bogus.Close(), EBADF);
  EXPECT_FALSE(bogus.Valid());
}

TEST(DirStream, ListsEntriesButTheDotsAndClosesWithTheStream) {
  TempDir dir;
  dir.Write("a", "");
  dir.Write(".hidden", "");
  mkdir(dir.File("sub").c_str(), 0700);
  std::vector<std::string> names;
  int raw = -1;
  {
    DirStream stream(dir.Path());
    ASSERT_TRUE(stream.Valid());
    raw = stream.Descriptor();
    while (const dirent* entry = stream.Next()) names.emplace_back(entry->d_name);
    EXPECT_EQ(stream.Next(), nullptr) << "stays at its end";
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".hidden", "a", "sub"}));
  EXPECT_FALSE(IsOpen(raw));

  EXPECT_FALSE(DirStream(dir.File("missing")).Valid());
  EXPECT_EQ(DirStream(dir.File("missing")).Next(), nullptr);
  EXPECT_FALSE(DirStream::At(-1, "sub").Valid());
  EXPECT_TRUE(DirStream::At(Fd(open(dir.Path().c_str(), O_RDONLY)).Get(), "sub").Valid());
  // A file is no folder: the descriptor handed over is closed, not leaked.
  Fd file(open(dir.File("a").c_str(), O_RDONLY | O_CLOEXEC));
  const int fileFd = file.Get();
  EXPECT_FALSE(DirStream(std::move(file)).Valid());
  EXPECT_FALSE(IsOpen(fileFd));
}

TEST(WholeFile, ReadsAnyLengthAndSaysWhenItCannot) {
  TempDir dir;
  const std::string big(100000, 'b');
  dir.Write("big", big);
  dir.Write("empty", "");
  EXPECT_EQ(ReadWholeFile(dir.File("big")), big) << "past the first buffer";
  EXPECT_EQ(ReadWholeFile(dir.File("empty")), "");
  EXPECT_FALSE(ReadWholeFile(dir.File("missing")));
  EXPECT_FALSE(ReadWholeFile(dir.Path())) << "a folder opens but cannot be read";

  FileReader reader;
  EXPECT_EQ(reader.Read(dir.File("big").c_str()), big);
  EXPECT_TRUE(reader.Ok());
  EXPECT_EQ(reader.Read(dir.File("missing").c_str()), "");
  EXPECT_FALSE(reader.Ok());
  EXPECT_EQ(reader.Read(dir.File("empty").c_str()), "");
  EXPECT_TRUE(reader.Ok());
  const Fd folder(open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  EXPECT_EQ(reader.ReadAt(folder.Get(), "big").size(), big.size());
  EXPECT_FALSE(ReadWholeFile("/proc/self/stat")->empty()) << "files that report no size";
}

TEST(WholeFile, LinksReadTheirTargetOnly) {
  TempDir dir;
  ASSERT_EQ(symlink("somewhere/else", dir.File("link").c_str()), 0);
  dir.Write("plain", "x");
  EXPECT_EQ(ReadLink(dir.File("link")), "somewhere/else");
  EXPECT_EQ(ReadLink(dir.File("plain")), "");
  EXPECT_EQ(ReadLink(dir.File("missing")), "");
  const Fd folder(open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  EXPECT_EQ(ReadLinkAt(folder.Get(), "link"), "somewhere/else");
}

TEST(ProcStat, CommMayHoldParenthesesAndBlanks) {
  const auto st = ParseProcStat(
      "4242 (my (odd) prog) ) S 1 4242 4242 0 -1 4194560 10 0 0 0 70 30 0 0 20 0 3 0 "
      "123456 1000 50 18446744073709551615\n");
  ASSERT_TRUE(st);
  EXPECT_EQ(st->Comm, "my (odd) prog) ");
  EXPECT_EQ(st->State, 'S');
  EXPECT_EQ(st->Flags, 4194560u);
  EXPECT_EQ(st->UTime, 70u);
  EXPECT_EQ(st->STime, 30u);
  EXPECT_EQ(st->NumThreads, 3u);
  EXPECT_EQ(st->StartTime, 123456u);
  EXPECT_TRUE(st->Whole);

  const auto stat = ParseProcStat(
      "4242 (my (odd) name) S 17 4242 4242 0 -1 4194560 120 0 0 0 3 1 0 0 20 0 1 0 98765 "
      "1000 50 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n");
  ASSERT_TRUE(stat && stat->Whole);
  EXPECT_EQ(stat->Comm, "my (odd) name");
  EXPECT_EQ(stat->State, 'S');
  EXPECT_EQ(stat->ParentId, 17u);
  EXPECT_EQ(stat->Flags, 4194560u);
  EXPECT_EQ(stat->StartTime, 98765u);
}

TEST(ProcStat, KernelThreadFlagAndDamagedLines) {
  const auto k =
      ParseProcStat("2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 5 0 0 20 0 1 0 3 0 0\n");
  ASSERT_TRUE(k);
  EXPECT_TRUE(k->IsKernelThread());
  EXPECT_EQ(k->STime, 5u);
  const auto kthread = ParseProcStat(
      "35 (kworker/0:1) I 2 0 0 0 -1 69238880 0 0 0 0 0 0 0 0 "
      "20 0 1 0 12 0 0");
  ASSERT_TRUE(kthread && kthread->Whole);
  EXPECT_NE(kthread->Flags & ProcStat::kKernelThreadFlag, 0u);

  EXPECT_FALSE(ParseProcStat(""));
  EXPECT_FALSE(ParseProcStat("12 no parentheses S 1"));
  EXPECT_FALSE(ParseProcStat("12 (no close S 1"));
  EXPECT_FALSE(ParseProcStat("12 (x)"));
  EXPECT_FALSE(ParseProcStat(")( S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19"));
  // The figures read a cut line as zeros; it is not whole, so nothing acts on its parent.
  const auto cut = ParseProcStat("12 (x) R 1 2");
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->UTime, 0u);
  EXPECT_FALSE(cut->Whole);
  EXPECT_FALSE(ParseProcStat("12 (short) S 1 2 3")->Whole);
  EXPECT_FALSE(ParseProcStat("12 (bad) S x 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 12")->Whole);
  EXPECT_FALSE(ParseProcStat("12 (neg) S -7 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 12")->Whole)
      << "a parent id is never negative";
}

TEST(ProcStat, OwnProcessIsReadableAndAGoneOneIsNot) {
  const auto self = ReadProcStat(static_cast<std::uint32_t>(getpid()));
  ASSERT_TRUE(self);
  EXPECT_EQ(self->ParentId, static_cast<std::uint32_t>(getppid()));
  EXPECT_FALSE(self->IsKernelThread());
  EXPECT_GE(self->NumThreads, 1u);
  EXPECT_FALSE(ReadProcStat(0x7FFFFFFF));
  EXPECT_EQ(ProcessUid(static_cast<std::uint32_t>(getpid())), getuid());
  EXPECT_FALSE(ProcessUid(0x7FFFFFFF));
}

TEST(ProcStat, ACutCommandNameIsCompletedFromTheExecutable) {
  const std::string cut = "gnome-terminal-";  // 15 bytes: perhaps cut
  EXPECT_EQ(CompleteComm(cut, "/usr/libexec/gnome-terminal-server"), "gnome-terminal-server");
  EXPECT_EQ(CompleteComm(cut, "/usr/bin/python3"), "gnome-terminal-") << "renamed itself";
  EXPECT_EQ(CompleteComm(cut, ""), "gnome-terminal-") << "exe unreadable";
  EXPECT_EQ(CompleteComm(cut, "gnome-terminal-server"), "gnome-terminal-server") << "no folder";
  EXPECT_EQ(CompleteComm("bash", "/usr/bin/bash-static"), "bash") << "short comm is whole";
}

TEST(ProcText, KeyedValueFindsWholeKeysOnly) {
  const std::string meminfo =
      "MemTotal:       24683772 kB\nMemFree:  100 kB\nMemAvailable:   24100000 kB\n";
  EXPECT_EQ(KeyedValue(meminfo, "MemTotal"), 24683772u);
  EXPECT_EQ(KeyedValue(meminfo, "MemAvailable"), 24100000u);
  EXPECT_EQ(KeyedValue(meminfo, "Mem"), 0u);
  EXPECT_EQ(KeyedValue(meminfo, "SwapTotal"), 0u);
  EXPECT_EQ(KeyedValue("pgmajfault 17\npgmajfault_s 3\n", "pgmajfault"), 17u);
  EXPECT_EQ(KeyedValue("rchar: 6976\nwchar: 12\n", "wchar"), 12u);
}

TEST(ProcText, NextNumberSkipsBlanksAndStopsAtNonDigits) {
  std::string_view s = "  12 x 34";
  EXPECT_EQ(NextNumber(s), 12u);
  EXPECT_EQ(NextNumber(s), 0u);  // "x" is skipped, not read twice
  EXPECT_EQ(NextNumber(s), 34u);
  EXPECT_EQ(NextNumber(s), 0u);
  std::string_view lines = "one\ntwo";
  EXPECT_EQ(TakeLine(lines), "one");
  EXPECT_EQ(TakeLine(lines), "two");
  EXPECT_TRUE(lines.empty());
}

// The segment counters are found by their names in the header line, wherever they stand.
TEST(ProcText, TcpSegmentsAreReadByName) {
  const std::string snmp =
      "Ip: Forwarding DefaultTTL\nIp: 1 64\n"
      "Tcp: RtoAlgorithm CurrEstab InSegs OutSegs RetransSegs\nTcp: 1 3 2079701 2083080 2191\n"
      "Udp: InDatagrams\nUdp: 9\n";
  EXPECT_EQ(TcpSegments(snmp), std::optional<std::uint64_t>(2079701u + 2083080u));
  EXPECT_EQ(TcpSegments("Tcp: OutSegs InSegs\nTcp: 5 7\n"), std::optional<std::uint64_t>(12u));
  EXPECT_EQ(TcpSegments("Tcp: InSegs\nTcp: 5\n"), std::nullopt) << "one of the two missing";
  EXPECT_EQ(TcpSegments("Tcp: InSegs OutSegs\n"), std::nullopt) << "no values line";
  EXPECT_EQ(TcpSegments(""), std::nullopt);
}

TEST(Pids, OnlyWholeNumbersThatFitAreProcesses) {
  TempDir proc;
  for (const char* name : {"1", "4242", "0012", "self", "12a", "4294967295", "4294967296"})
    mkdir(proc.File(name).c_str(), 0700);
  std::vector<std::uint32_t> pids = ListPids(proc.Path());
  std::sort(pids.begin(), pids.end());
  EXPECT_EQ(pids, (std::vector<std::uint32_t>{1, 12, 4242, 4294967295u}));
  EXPECT_TRUE(ListPids(proc.File("missing")).empty());
  const auto live = ListPids();
  EXPECT_NE(std::find(live.begin(), live.end(), static_cast<std::uint32_t>(getpid())), live.end());
  const auto threads = NumberedEntries(AT_FDCWD, "/proc/self/task");
  EXPECT_NE(std::find(threads.begin(), threads.end(), static_cast<std::uint32_t>(gettid())),
            threads.end());
}

TEST(Mounts, OctalEscapesAreUndone) {
  EXPECT_EQ(UnescapeMountPath("/mnt/my\\040disk"), "/mnt/my disk");
  EXPECT_EQ(UnescapeMountPath("/a\\134b"), "/a\\b");
  EXPECT_EQ(UnescapeMountPath("/trailing\\04"), "/trailing\\04");
  EXPECT_EQ(UnescapeMountPath("/"), "/");
}

TEST(Mounts, MountInfoLinesAndTheOnesThatLackAField) {
  const auto mounts = ParseMountInfo(
      "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
      "40 22 0:35 /sub /mnt/my\\040disk rw - btrfs /dev/vdb1 rw\n"
      "41 22 0:36 / /no/separator rw btrfs /dev/vdb1 rw\n"
      "x 22 0:37 / /bad/id rw - tmpfs tmpfs rw\n");
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].MountId, 22u);
  EXPECT_EQ(mounts[0].Major, 8u);
  EXPECT_EQ(mounts[0].Minor, 2u);
  EXPECT_EQ(mounts[0].MountPoint, "/");
  EXPECT_EQ(mounts[0].Source, "/dev/sda2");
  EXPECT_EQ(mounts[1].Root, "/sub");
  EXPECT_EQ(mounts[1].MountPoint, "/mnt/my disk");
}

// A listening socket of this process and the connection to it: the dump shows them, and the
// owner scan names this process for both sockets.
TEST(SockDiag, DumpsThisProcessesConnectionAndNamesItsOwner) {
  ombrix::testing::LoopbackTcp pair;
  ASSERT_TRUE(pair.Connected());
  const Fd diag = OpenSockDiag(2);
  ASSERT_TRUE(diag.Valid());
  std::vector<std::uint64_t> inodes;
  SockDiagRequest request;
  request.Family = AF_INET;
  request.Protocol = IPPROTO_TCP;
  request.States = 1u << TCP_ESTABLISHED;
  request.Sequence = 7;
  const bool complete =
      DumpSockDiag(diag.Get(), request, [&](const std::uint8_t* payload, std::size_t length) {
        if (length < sizeof(inet_diag_msg)) return;
        inet_diag_msg message{};
        std::memcpy(&message, payload, sizeof message);
        if (ntohs(message.id.idiag_dport) == pair.ServerPort())
          inodes.push_back(message.idiag_inode);
      });
  if (!complete) GTEST_SKIP() << "no socket diagnostics here";
  ASSERT_EQ(inodes.size(), 1u) << "the client's end, connected to the server's port";
  const auto owners = SocketOwners();
  const auto found = owners.find(inodes[0]);
  ASSERT_NE(found, owners.end());
  EXPECT_EQ(found->second, static_cast<std::uint32_t>(getpid()));
  EXPECT_FALSE(DumpSockDiag(-1, request, [](const std::uint8_t*, std::size_t) {}));
  EXPECT_TRUE(SocketOwners("/nonexistent").empty());
}

}  // namespace
}  // namespace platform::os
