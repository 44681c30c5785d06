// The open-file scan over a made-up /proc and /sys: which mounts count, and when a file is
// named again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/kernelevents/FileActivity.h"
#include "tests/support/EventRecordBuilder.h"
#include "tests/support/TempDir.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;
constexpr auto U32 = ombrix::testing::RecordU32;
constexpr auto NameOf = ombrix::testing::RecordName;

struct TRecords {
  std::vector<std::pair<std::uint32_t, std::string>> Names;  // file object, name
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Io;   // file object, disk number
  std::uint64_t Bytes = 0;
};

class FileTree : public ::testing::Test {
 protected:
  void SetUp() override {
    // ext4 on a whole disk, btrfs on a partition of another one (an anonymous device).
    Put("proc/self/mountinfo",
        "40 1 254:16 / /data rw shared:1 - ext4 /dev/fakevdb rw\n"
        "41 1 0:45 / /srv rw shared:2 - btrfs /dev/fakevdc1 rw,subvol=/\n"
        "42 1 0:46 / /run rw - tmpfs tmpfs rw\n");
    Dir("sys/devices/virtual/block/fakevdb");
    Put("sys/devices/virtual/block/fakevdc/fakevdc1/partition", "1\n");
    Put("sys/class/block/fakevdc1/dev", "254:33\n");
    Dir("sys/block/fakevdb");
    Dir("sys/block/fakevdc");
    Link("sys/dev/block/254:16", "../../devices/virtual/block/fakevdb");
    Link("sys/dev/block/254:33", "../../devices/virtual/block/fakevdc/fakevdc1");
  }
  void Put(const std::string& path, const std::string& text) {
    const fs::path p = fs::path(dir.Path()) / path;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  void Dir(const std::string& path) { fs::create_directories(fs::path(dir.Path()) / path); }
  void Link(const std::string& path, const std::string& target) {
    const fs::path p = fs::path(dir.Path()) / path;
    fs::create_directories(p.parent_path());
    fs::remove(p);
    fs::create_symlink(target, p);
  }
  // Descriptor fd of process 500 open for writing on path, at pos.
  void Open(int fd, const std::string& path, int mount, int inode, std::uint64_t pos) {
    Link("proc/500/fd/" + std::to_string(fd), path);
    Put("proc/500/fdinfo/" + std::to_string(fd),
        "pos:\t" + std::to_string(pos) + "\nflags:\t0100001\nmnt_id:\t" + std::to_string(mount) +
            "\nino:\t" + std::to_string(inode) + "\n");
    // The scan looks at a process only when its own counters moved.
    Put("proc/500/io", "rchar: 0\nwchar: " + std::to_string(++writes) + "\n");
  }
  TRecords Poll() {
    if (!files) {
      files = std::make_unique<FileActivity>(true, true, dir.Path() + "/proc", dir.Path() + "/sys");
      EXPECT_EQ(files->Open(), 0);
    }
    std::vector<EventRecord> out;
    files->Poll(out);
    TRecords seen;
    for (const EventRecord& r : out) {
      if (r.Header.Guid == FileIoGuid) seen.Names.emplace_back(U32(r, 0), NameOf(r));
      if (r.Header.Guid != DiskIoGuid) continue;
      seen.Io.emplace_back(U32(r, 24), U32(r, 0));
      seen.Bytes += U32(r, 8);
    }
    return seen;
  }

  ombrix::testing::TempDir dir;
  std::unique_ptr<FileActivity> files;
  int writes = 0;
};

TEST_F(FileTree, AMountOnAnAnonymousDeviceCountsAsTheDiskItsSourceNames) {
  Open(3, "/srv/b.db", 41, 99, 0);
  Open(4, "/run/lock", 42, 5, 0);
  Poll();  // the baseline
  Open(3, "/srv/b.db", 41, 99, 4096);
  Open(4, "/run/lock", 42, 5, 10);
  const TRecords seen = Poll();
  ASSERT_EQ(seen.Names.size(), 1u) << "tmpfs holds no disk's data";
  EXPECT_EQ(seen.Names[0].second, "/srv/b.db");
  ASSERT_EQ(seen.Io.size(), 1u);
  EXPECT_EQ(seen.Io[0].first, seen.Names[0].first);
  EXPECT_EQ(seen.Io[0].second, 1u) << "fakevdc, the second disk in /sys/block";
  EXPECT_EQ(seen.Bytes, 4096u);
}

TEST_F(FileTree, ANewFileOnADeletedFilesInodeIsNamedAfresh) {
  Open(3, "/data/a.log", 40, 77, 0);
  Poll();
  Open(3, "/data/a.log", 40, 77, 300);
  const TRecords first = Poll();
  ASSERT_EQ(first.Names.size(), 1u);
  EXPECT_EQ(first.Io[0].second, 0u) << "fakevdb, the first disk";
  // a.log is deleted and b.log made in its place, on the same inode.
  Open(3, "/data/b.log", 40, 77, 50);
  const TRecords second = Poll();
  ASSERT_EQ(second.Names.size(), 1u);
  EXPECT_EQ(second.Names[0].second, "/data/b.log");
  EXPECT_NE(second.Names[0].first, first.Names[0].first) << "a file object of its own";
  ASSERT_EQ(second.Io.size(), 1u);
  EXPECT_EQ(second.Io[0].first, second.Names[0].first);
  EXPECT_EQ(second.Bytes, 50u);
}

// Another user's process is not asked every poll; one that becomes readable (it took our user
// id) is still found within a few seconds, with what it wrote.
TEST_F(FileTree, AProcessClosedToUsIsAskedAgainNowAndThen) {
  Open(3, "/data/a.log", 40, 77, 0);
  fs::remove(fs::path(dir.Path()) / "proc/500/io");
  EXPECT_TRUE(Poll().Io.empty());
  Open(3, "/data/a.log", 40, 77, 1000);
  int skipped = 0;
  TRecords seen;
  while ((seen = Poll()).Io.empty() && skipped < 100) ++skipped;
  EXPECT_GE(skipped, 1) << "asked at every poll";
  EXPECT_LT(skipped, 16) << "never asked again";
  EXPECT_EQ(seen.Bytes, 1000u);
}

}  // namespace
