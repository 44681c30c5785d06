// The decoder turns the kernel programs' raw events into records; these cases use made-up
// events and a made-up system, so they need no privilege and no kernel support.
#include "platform/kernelevents/bpf/BpfDecoder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace platform;

constexpr std::uint32_t kRootDev = 8u << 20 | 1;   // sda1, mounted on "/"
constexpr std::uint32_t kDataDev = 8u << 20 | 17;  // sdb1, mounted on "/srv/my data"

BpfSystem FakeSystem(int* mountLookups = nullptr) {
  BpfSystem system;
  system.MountPoint = [mountLookups](std::uint32_t dev) -> std::string {
    if (mountLookups != nullptr) ++*mountLookups;
    if (dev == kRootDev) return "";
    if (dev == kDataDev) return "/srv/my data";
    return "";
  };
  system.DiskNumber = [](std::uint32_t dev) { return dev == (8u << 20 | 16) ? 1u : 0u; };
  system.ProcessName = [](std::uint32_t pid) { return pid == 100 ? std::string("bash") : ""; };
  return system;
}

constexpr std::uint32_t kAll = EVENT_TRACE_FLAG_PROCESS | EVENT_TRACE_FLAG_NETWORK_TCPIP |
                               EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_DISK_FILE_IO;

std::uint32_t U32(const EventRecord& r, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, r.Data.data() + at, 4);
  return v;
}

std::string Utf16Name(const EventRecord& r) {
  std::string name;
  for (std::size_t at = fileio::FileName; at + 1 < r.Data.size(); at += 2) {
    const unsigned unit = r.Data[at] | r.Data[at + 1] << 8;
    if (unit == 0) break;
    name.push_back(static_cast<char>(unit));
  }
  return name;
}

ombrix_name_event Name(std::uint32_t dev, std::uint64_t ino, std::vector<std::string> leafFirst,
                       bool complete) {
  ombrix_name_event e{};
  e.kind = OMBRIX_EV_NAME;
  e.pid = 7;
  e.file_dev = dev;
  e.ino = ino;
  e.complete = complete;
  e.depth = static_cast<std::uint32_t>(leafFirst.size());
  for (std::size_t k = 0; k < leafFirst.size(); ++k)
    std::strncpy(e.parts[k], leafFirst[k].c_str(), OMBRIX_NAME_PART - 1);
  return e;
}

ombrix_disk_event Disk(std::uint32_t dev, std::uint64_t ino, bool hasFile, std::uint32_t bytes) {
  ombrix_disk_event e{};
  e.kind = OMBRIX_EV_DISK;
  e.pid = 7;
  e.disk_dev = 8u << 20 | 16;
  e.bytes = bytes;
  e.response_us = 250;
  e.write = 1;
  e.offset = 4096 * 10;
  e.file_dev = dev;
  e.has_file = hasFile;
  e.ino = ino;
  return e;
}

template <typename Event>
std::vector<EventRecord> Feed(BpfDecoder& decoder, const Event& e) {
  std::vector<EventRecord> out;
  EXPECT_TRUE(decoder.Decode(&e, sizeof e, out));
  return out;
}

TEST(BpfDecoder, FileNameComesWithTheIdItsDiskRecordsUse) {
  BpfDecoder decoder(FakeSystem(), kAll);
  const auto named = Feed(decoder, Name(kDataDev, 42, {"file.bin", "b", "a"}, true));
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].Header.Guid, FileIoGuid);
  EXPECT_EQ(Utf16Name(named[0]), "/srv/my data/a/b/file.bin");
  const auto disk = Feed(decoder, Disk(kDataDev, 42, true, 8192));
  ASSERT_EQ(disk.size(), 1u);
  EXPECT_EQ(disk[0].Header.Guid, DiskIoGuid);
  EXPECT_EQ(disk[0].Header.Class.Type, EVENT_TYPE_DISK_WRITE);
  EXPECT_EQ(U32(disk[0], diskio::FileObject), U32(named[0], fileio::FileObject));
  EXPECT_EQ(U32(disk[0], diskio::TransferSize), 8192u);
  EXPECT_EQ(U32(disk[0], diskio::Response), 250u);
  EXPECT_EQ(U32(disk[0], diskio::DiskNumber), 1u);
  EXPECT_EQ(U32(disk[0], diskio::ByteOffset), 40960u);
}

TEST(BpfDecoder, FilesAreToldApartByDeviceAndInode) {
  BpfDecoder decoder(FakeSystem(), kAll);
  const auto id = [&](std::uint32_t dev, std::uint64_t ino) {
    return U32(Feed(decoder, Disk(dev, ino, true, 512)).at(0), diskio::FileObject);
  };
  const std::uint32_t first = id(kRootDev, 5);
  EXPECT_EQ(id(kRootDev, 5), first);
  EXPECT_NE(id(kDataDev, 5), first) << "same inode number on another file system";
  EXPECT_NE(id(kRootDev, 6), first);
  EXPECT_NE(first, OTHER_FILE_OBJECT);
  EXPECT_EQ(id(kRootDev, 5 + (1ull << 32)), id(kRootDev, 5 + (1ull << 32)));
  EXPECT_NE(id(kRootDev, 5 + (1ull << 32)), first) << "the whole 64-bit inode is the key";
  ombrix_disk_event reused = Disk(kRootDev, 5, true, 512);
  reused.gen = 77;
  EXPECT_NE(U32(Feed(decoder, reused).at(0), diskio::FileObject), first)
      << "a reused inode number with a new generation is another file";
  ombrix_name_event name = Name(kRootDev, 5, {"new.txt"}, true);
  name.gen = 77;
  EXPECT_EQ(U32(Feed(decoder, name).at(0), fileio::FileObject),
            U32(Feed(decoder, reused).at(0), diskio::FileObject));
}

TEST(BpfDecoder, IoWithoutAFileIsOther) {
  BpfDecoder decoder(FakeSystem(), kAll);
  EXPECT_EQ(U32(Feed(decoder, Disk(0, 0, false, 4096)).at(0), diskio::FileObject),
            OTHER_FILE_OBJECT);
}

TEST(BpfDecoder, PathsOnTheRootMountAndCutWalks) {
  BpfDecoder decoder(FakeSystem(), kAll);
  EXPECT_EQ(Utf16Name(Feed(decoder, Name(kRootDev, 1, {"passwd", "etc"}, true)).at(0)),
            "/etc/passwd");
  EXPECT_EQ(Utf16Name(Feed(decoder, Name(kRootDev, 2, {"x", "deep"}, false)).at(0)), "/.../deep/x")
      << "a walk that stopped short says so instead of posing as a full path";
  EXPECT_TRUE(Feed(decoder, Name(kRootDev, 3, {}, true)).empty()) << "no names, no record";
}

TEST(BpfDecoder, MountPointIsLookedUpOncePerDevice) {
  int lookups = 0;
  BpfDecoder decoder(FakeSystem(&lookups), kAll);
  Feed(decoder, Name(kDataDev, 1, {"a"}, true));
  Feed(decoder, Name(kDataDev, 2, {"b"}, true));
  EXPECT_EQ(lookups, 1);
}

TEST(BpfDecoder, UnterminatedNamesStayInsideTheirFields) {
  BpfDecoder decoder(FakeSystem(), kAll);
  ombrix_name_event e = Name(kRootDev, 9, {}, true);
  e.depth = 1000;  // more than the event holds
  std::memset(e.parts, 'z', sizeof e.parts);
  const auto out = Feed(decoder, e);
  ASSERT_EQ(out.size(), 1u);
  const std::string part(OMBRIX_NAME_PART, 'z');
  std::string expected;
  for (int k = 0; k < OMBRIX_NAME_DEPTH; ++k) expected += "/" + part;
  EXPECT_EQ(Utf16Name(out[0]), expected);

  ombrix_proc_event p{};
  p.kind = OMBRIX_EV_PROC;
  p.exec = 1;
  std::memset(p.comm, 'c', sizeof p.comm);
  std::memset(p.image, 'i', sizeof p.image);
  const auto started = Feed(decoder, p);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].Data.back(), 0) << "the image name is terminated in the record";
}

TEST(BpfDecoder, ShortAndUnknownEventsYieldNothing) {
  BpfDecoder decoder(FakeSystem(), kAll);
  std::vector<EventRecord> out;
  const ombrix_disk_event disk = Disk(kRootDev, 1, true, 512);
  EXPECT_FALSE(decoder.Decode(&disk, sizeof disk - 1, out));
  EXPECT_FALSE(decoder.Decode(&disk, 3, out));
  EXPECT_FALSE(decoder.Decode(nullptr, 0, out));
  std::uint32_t unknown[16] = {99};
  EXPECT_FALSE(decoder.Decode(unknown, sizeof unknown, out));
  EXPECT_TRUE(out.empty());
}

TEST(BpfDecoder, SocketEventsKeepNetworkOrderAndTheirClass) {
  BpfDecoder decoder(FakeSystem(), kAll);
  ombrix_net_event e{};
  e.kind = OMBRIX_EV_NET;
  e.pid = 321;
  e.size = 1400;
  e.daddr = htonl(0x0A000001);  // 10.0.0.1
  e.saddr = htonl(0x7F000001);
  e.dport = htons(53);
  e.sport = htons(40000);
  e.udp = 1;
  e.recv = 1;
  const auto out = Feed(decoder, e);
  ASSERT_EQ(out.size(), 1u);
  const EventRecord& r = out[0];
  EXPECT_EQ(r.Header.Guid, UdpIpGuid);
  EXPECT_EQ(r.Header.Class.Type, EVENT_TYPE_NET_RECV);
  EXPECT_EQ(r.Header.ProcessId, 321u);
  EXPECT_EQ(U32(r, netio::Size), 1400u);
  EXPECT_EQ(0, std::memcmp(r.Data.data() + netio::DestAddr, &e.daddr, 4));
  EXPECT_EQ(0, std::memcmp(r.Data.data() + netio::SourceAddr, &e.saddr, 4));
  EXPECT_EQ(0, std::memcmp(r.Data.data() + netio::DestPort, &e.dport, 2));
  EXPECT_EQ(0, std::memcmp(r.Data.data() + netio::SourcePort, &e.sport, 2));

  e.udp = 0;
  e.recv = 0;
  const auto tcp = Feed(decoder, e);
  EXPECT_EQ(tcp.at(0).Header.Guid, TcpIpGuid);
  EXPECT_EQ(tcp.at(0).Header.Class.Type, EVENT_TYPE_NET_SEND);
}

std::string ImageOf(const EventRecord& r) {
  const std::size_t at = process::Sid + process::SidHeader + 4u * r.Data.at(process::Sid + 1);
  return reinterpret_cast<const char*>(r.Data.data() + at);
}

TEST(BpfDecoder, ProcessStartsNameTheProcessByTheListsRule) {
  BpfDecoder decoder(FakeSystem(), kAll);
  ombrix_proc_event e{};
  e.kind = OMBRIX_EV_PROC;
  e.pid = 500;
  e.ppid = 100;
  e.uid = 1000;
  e.exec = 1;
  std::strcpy(e.comm, "averyveryverylo");  // comm is cut at 15 bytes
  std::strcpy(e.image, "/usr/bin/averyveryverylongname");
  auto out = Feed(decoder, e);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Header.Guid, ProcessGuid);
  EXPECT_EQ(U32(out[0], process::ProcessId), 500u);
  EXPECT_EQ(U32(out[0], process::ParentId), 100u);
  EXPECT_EQ(U32(out[0], process::Sid + process::SidHeader + 4), 1000u);
  EXPECT_EQ(ImageOf(out[0]), "averyveryverylongname");

  std::strcpy(e.comm, "sh");
  std::strcpy(e.image, "/usr/bin/dash");
  EXPECT_EQ(ImageOf(Feed(decoder, e).at(0)), "sh") << "a comm that was not cut is the name";

  e.exec = 0;  // a fork carries on the parent's program
  e.image[0] = 0;
  std::strcpy(e.comm, "bas");
  EXPECT_EQ(ImageOf(Feed(decoder, e).at(0)), "bash");
  e.ppid = 101;  // parent already gone
  EXPECT_EQ(ImageOf(Feed(decoder, e).at(0)), "bas");
}

TEST(BpfDecoder, OnlyTheClassesAskedForComeOut) {
  BpfDecoder decoder(FakeSystem(), EVENT_TRACE_FLAG_DISK_IO);
  EXPECT_TRUE(Feed(decoder, Name(kRootDev, 1, {"a"}, true)).empty());
  ombrix_net_event net{};
  net.kind = OMBRIX_EV_NET;
  EXPECT_TRUE(Feed(decoder, net).empty());
  const auto disk = Feed(decoder, Disk(kRootDev, 1, true, 512));
  ASSERT_EQ(disk.size(), 1u);
  EXPECT_NE(U32(disk[0], diskio::FileObject), OTHER_FILE_OBJECT);
}

TEST(BpfDecoder, ForkNamesComeFromTheExecutableTheKernelSent) {
  BpfDecoder decoder(FakeSystem(), kAll);
  ombrix_proc_event e{};
  e.kind = OMBRIX_EV_PROC;
  e.pid = 501;
  e.ppid = 101;  // gone: only the event can tell
  std::strcpy(e.comm, "averyveryverylo");
  std::strcpy(e.image, "averyveryverylongname");
  EXPECT_EQ(ImageOf(Feed(decoder, e).at(0)), "averyveryverylongname");
}

// A viewer of uid 1000: its own processes' events only, never the kernel's own I/O, and a file's
// name (which the kernel sends once, with whoever touched the file first) only with its own I/O.
TEST(BpfDecoder, AViewerOfOneUserSeesThatUsersProcessesOnly) {
  BpfViewer viewer;
  viewer.Everything = false;
  viewer.Uid = 1000;
  BpfDecoder decoder(FakeSystem(), kAll, viewer);
  ombrix_net_event net{};
  net.kind = OMBRIX_EV_NET;
  net.pid = 300;
  net.uid = 0;
  EXPECT_TRUE(Feed(decoder, net).empty()) << "root's socket";
  net.uid = 1000;
  EXPECT_EQ(Feed(decoder, net).size(), 1u);
  ombrix_proc_event proc{};
  proc.kind = OMBRIX_EV_PROC;
  proc.uid = 33;
  EXPECT_TRUE(Feed(decoder, proc).empty()) << "another user's process start";

  ombrix_name_event name = Name(kRootDev, 77, {"secret.txt", "root"}, true);
  name.uid = 0;
  EXPECT_TRUE(Feed(decoder, name).empty()) << "root touched it first";
  ombrix_disk_event rootIo = Disk(kRootDev, 77, true, 4096);
  rootIo.uid = 0;
  EXPECT_TRUE(Feed(decoder, rootIo).empty());
  ombrix_disk_event writeback = Disk(kRootDev, 77, true, 4096);
  writeback.pid = SYSTEM_PROCESS;
  writeback.uid = 1000;
  EXPECT_TRUE(Feed(decoder, writeback).empty()) << "the kernel's writeback is nobody's own";
  ombrix_disk_event own = Disk(kRootDev, 77, true, 4096);
  own.uid = 1000;
  const auto first = Feed(decoder, own);
  ASSERT_EQ(first.size(), 2u) << "the name comes with the viewer's own first I/O of the file";
  EXPECT_EQ(Utf16Name(first[0]), "/root/secret.txt");
  EXPECT_EQ(first[0].Header.ProcessId, 7u);
  EXPECT_EQ(U32(first[1], diskio::FileObject), U32(first[0], fileio::FileObject));
  EXPECT_EQ(Feed(decoder, own).size(), 1u) << "and only once";
}

TEST(BpfDecoder, AViewerOfEverythingSeesEveryone) {
  BpfDecoder decoder(FakeSystem(), kAll);
  ombrix_disk_event writeback = Disk(kRootDev, 5, false, 4096);
  writeback.pid = SYSTEM_PROCESS;
  EXPECT_EQ(Feed(decoder, writeback).size(), 1u);
  ombrix_name_event name = Name(kRootDev, 5, {"x"}, true);
  name.uid = 4242;
  EXPECT_EQ(Feed(decoder, name).size(), 1u);
}

TEST(MountPoints, RootMountsWinOverBindMountsAndEscapesAreDecoded) {
  const std::string text =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "30 22 8:17 /sub /bind rw - ext4 /dev/sdb1 rw\n"
      "31 22 8:17 / /srv/my\\040data rw - ext4 /dev/sdb1 rw\n"
      "32 22 8:17 / /second rw - ext4 /dev/sdb1 rw\n"
      "33 22 8:33 /only /binds rw - ext4 /dev/sdc1 rw\n"
      "garbage\n"
      "34 22 x:1 / /bad rw - ext4 /dev/x rw\n"
      "35 22 259:99999999 / /toolarge rw - ext4 /dev/y rw\n";
  const auto points = ParseMountPoints(text);
  EXPECT_EQ(points.at(kRootDev), "");
  EXPECT_EQ(points.at(kDataDev), "/srv/my data");
  EXPECT_EQ(points.at(8u << 20 | 33), "/binds") << "a bind mount is better than nothing";
  EXPECT_EQ(points.size(), 3u);
}

}  // namespace
