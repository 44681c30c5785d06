// The provider over a made-up /proc and /sys: kernel threads folded into "System" with an
// accumulator that never falls, a reused pid left out of one block, zombies skipped, the
// 15-byte comm rule, loopback skipped, and the machine-wide figures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "platform/perfdata/LinuxProvider.h"
#include "platform/perfdata/NameIndexes.h"
#include "tests/support/PerfBlockReader.h"
#include "tests/support/TempDir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

using ombrix::testing::Instance;
using ombrix::testing::Named;
using ombrix::testing::ReadPerfBlock;

class FakeProc : public ::testing::Test {
 protected:
  void Put(const std::string& path, const std::string& text) {
    const fs::path p = fs::path(dir.Path()) / path;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  static std::string Stat(int pid, const std::string& comm, char state, unsigned long flags,
                          int utime, int stime, int threads, int start) {
    return std::to_string(pid) + " (" + comm + ") " + state + " 1 1 1 0 -1 " +
           std::to_string(flags) + " 0 0 0 0 " + std::to_string(utime) + " " +
           std::to_string(stime) + " 0 0 20 0 " + std::to_string(threads) + " 0 " +
           std::to_string(start) + " 0 0\n";
  }
  void SetUp() override {
    Put("proc/stat",
        "cpu  100 0 50 800 10 0 5 0 0 0\ncpu0 100 0 50 800 10 0 5 0 0 0\nintr 1234 0\n"
        "softirq 77 0\nprocs_running 3\n");
    Put("proc/meminfo", "MemTotal: 1000 kB\nMemAvailable: 500 kB\n");
    Put("proc/vmstat", "pgmajfault 9\npswpout 4\n");
    Put("proc/interrupts", "           CPU0\n  0:         5   IO-APIC   2-edge      timer\n");
    Put("proc/softirqs", "                    CPU0\n          HI:          7\n");
    Put("proc/self/mountinfo", "");
    Put("proc/diskstats", "");
    Put("proc/net/dev",
        "Inter-| head\n face | head\n  eth9: 100 2 1 0 0 0 0 0 50 1 3 0 0 0 0 0\n"
        "    lo: 5 1 0 0 0 0 0 0 5 1 0 0 0 0 0 0\n");
    Put("sys/class/net/eth9/flags", "0x1003\n");
    Put("sys/class/net/eth9/speed", "1000\n");
    Put("sys/class/net/lo/flags", "0x9\n");
    Put("proc/2/stat", Stat(2, "kthreadd", 'S', 0x208040, 3, 4, 1, 5));
    Put("proc/2/schedstat", "0 0 4\n");
    Put("proc/50/stat", Stat(50, "kworker/0:1-events", 'I', 0x4208060, 10, 20, 1, 60));
    Put("proc/50/schedstat", "0 0 6\n");
    Put("proc/100/stat", Stat(100, "averyveryverylo", 'S', 0x400100, 40, 2, 2, 1000));
    fs::create_symlink("/opt/averyveryverylongname", fs::path(dir.Path()) / "proc/100/exe");
    Put("proc/100/statm", "500 200 50 1 0 100 0\n");
    Put("proc/100/io", "rchar: 10\nwchar: 5\nsyscr: 3\nsyscw: 1\n");
    Put("proc/100/task/100/schedstat", "1 2 30\n");
    Put("proc/100/task/101/schedstat", "1 2 12\n");
    Put("proc/200/stat", Stat(200, "gone", 'Z', 0x400100, 1, 1, 1, 70));
  }
  std::map<std::uint32_t, std::vector<Instance>> Build() {
    // The provider opens its roots when it is made: after the tree exists.
    if (!provider)
      provider = std::make_unique<LinuxPerfProvider>(
          dir.Path() + "/proc", dir.Path() + "/sys", [this](const std::string& name) {
            asked.push_back(name);
            return name == "wlan0" ? std::int64_t{866'700'000} : 0;
          });
    return ReadPerfBlock(provider->Build("Global "));
  }
  std::vector<std::string> asked;  // interfaces whose wireless rate the provider asked for
  const std::int64_t tick = 10'000'000 / sysconf(_SC_CLK_TCK);
  const std::int64_t page = sysconf(_SC_PAGESIZE);
  ombrix::testing::TempDir dir;
  std::unique_ptr<LinuxPerfProvider> provider;
};

TEST_F(FakeProc, MachineWideFigures) {
  auto b = Build();
  EXPECT_EQ(b[kObjSystem][0].Values[kProcessorQueueLength],
            2);  // procs_running 3 less one processor
  EXPECT_EQ(b[kObjMemory][0].Values[kAvailableBytes], 512000);
  EXPECT_EQ(b[kObjMemory][0].Values[kPageReads], 9);
  EXPECT_EQ(b[kObjMemory][0].Values[kPageWrites], 4);
  ASSERT_EQ(b[kObjProcessor].size(), 2u);
  Instance& total = b[kObjProcessor][1];
  EXPECT_EQ(total.Name, "_Total");
  EXPECT_EQ(total.Values[kProcessorTime], (100 + 50 + 5) * tick);  // busy: user, system, softirq
  EXPECT_EQ(total.Values[kProcessorIdleTime], (800 + 10) * tick);  // idle and iowait
  EXPECT_EQ(total.Values[kDpcTime], 5 * tick);
  EXPECT_EQ(total.Values[kInterrupts], 1234);
  EXPECT_EQ(b[kObjProcessor][0].Values[kInterrupts],
            5);  // per processor: the interrupt table's column
  EXPECT_EQ(b[kObjProcessor][0].Values[kDpcsQueued], 7);
  ASSERT_EQ(b[kObjLogicalDisk].size(), 1u);  // no block-device mounts: "_Total" alone, all zero
  EXPECT_EQ(b[kObjLogicalDisk][0].Name, "_Total");
  EXPECT_EQ(b[kObjLogicalDisk][0].Values[kFreeSpace], 1'000'000);
  ASSERT_EQ(b[kObjNetworkInterface].size(), 1u);  // loopback left out
  EXPECT_EQ(b[kObjNetworkInterface][0].Name, "eth9");
  EXPECT_EQ(b[kObjNetworkInterface][0].Values[kBytesTotal], 150);
  EXPECT_EQ(b[kObjNetworkInterface][0].Values[kPackets], 3);
  EXPECT_EQ(b[kObjNetworkInterface][0].Values[kCurrentBandwidth], 1'000'000'000);
  EXPECT_EQ(b[kObjNetworkInterface][0].Values[kPacketsReceivedErrors], 1);
  EXPECT_EQ(b[kObjNetworkInterface][0].Values[kPacketsOutboundErrors], 3);
}

TEST_F(FakeProc, ProcessesThreadsAndTheSystemProcess) {
  auto b = Build();
  ASSERT_EQ(b[kObjProcess].size(), 2u);  // the zombie is gone
  Instance& system = b[kObjProcess][0];
  EXPECT_EQ(system.Name, "System");
  EXPECT_EQ(system.Values[kIdProcess], 2);
  EXPECT_EQ(system.Values[kProcessorTime], (7 + 30) * tick);
  const Instance* p = Named(b[kObjProcess], "averyveryverylongname");  // comm was cut at 15 bytes
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Values.at(kIdProcess), 100);
  EXPECT_EQ(p->Values.at(kProcessorTime), 42 * tick);
  EXPECT_EQ(p->Values.at(kWorkingSet), 200 * page);
  EXPECT_EQ(p->Values.at(kPrivateBytes), 150 * page);
  EXPECT_EQ(p->Values.at(kIoDataOperations), 4);
  EXPECT_EQ(p->Values.at(kIoDataBytes), 15);
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> threads;
  for (const Instance& t : b[kObjThread])
    threads[t.Name] = {t.Values.at(kContextSwitches), t.Values.at(kIdProcess)};
  EXPECT_EQ(threads["System/2"], std::make_pair(std::int64_t{4}, std::int64_t{2}));
  EXPECT_EQ(threads["System/50"], std::make_pair(std::int64_t{6}, std::int64_t{2}));
  EXPECT_EQ(threads["averyveryverylongname/101"],
            std::make_pair(std::int64_t{12}, std::int64_t{100}));
  EXPECT_EQ(threads.size(), 4u);
}

TEST_F(FakeProc, KernelThreadTimeAccumulatesAndAReusedPidSkipsOneBlock) {
  Build();
  fs::remove_all(fs::path(dir.Path()) / "proc/50");  // a worker exits
  Put("proc/2/stat", Stat(2, "kthreadd", 'S', 0x208040, 5, 4, 1, 5));
  Put("proc/2/schedstat", "0 0 5\n");  // it ran
  Put("proc/100/stat", Stat(100, "averyveryverylo", 'S', 0x400100, 1, 0, 2, 2000));
  auto b = Build();
  EXPECT_EQ(b[kObjProcess][0].Values[kProcessorTime],
            (7 + 30 + 2) * tick);        // a plain sum would have fallen
  EXPECT_EQ(b[kObjProcess].size(), 1u);  // the new process behind pid 100 waits
  b = Build();
  ASSERT_EQ(b[kObjProcess].size(), 2u);
  EXPECT_EQ(b[kObjProcess][1].Values[kProcessorTime], 1 * tick);
  Put("proc/51/stat", Stat(51, "kworker/0:2", 'I', 0x4208060, 0, 3, 1, 3000));
  b = Build();
  EXPECT_EQ(b[kObjProcess][0].Values[kProcessorTime],
            (7 + 30 + 2 + 3) * tick);  // a new worker adds its time
}

// A single-threaded process whose schedstat did not move has not run: its other files are not
// read again until it runs, or until its periodic full read (memory can shrink while it sleeps).
TEST_F(FakeProc, AProcessAtRestIsReadAgainWhenItRunsOrAtItsPeriodicRead) {
  Put("proc/300/stat", Stat(300, "sleeper", 'S', 0x400100, 4, 1, 1, 900));
  Put("proc/300/statm", "100 40 10 1 0 30 0\n");
  Put("proc/300/schedstat", "5000 0 7\n");
  const auto workingSet = [this](const std::vector<Instance>& processes) {
    for (const Instance& p : processes)
      if (p.Name == "sleeper") return p.Values.at(kWorkingSet) / page;
    return std::int64_t{-1};
  };
  EXPECT_EQ(workingSet(Build()[kObjProcess]), 40);
  Put("proc/300/statm", "100 60 10 1 0 30 0\n");
  int restingReads = 0;
  std::map<std::uint32_t, std::vector<Instance>> b;
  while ((b = Build()), workingSet(b[kObjProcess]) == 40) ++restingReads;
  EXPECT_EQ(workingSet(b[kObjProcess]), 60);
  EXPECT_GE(restingReads, 1) << "a process at rest was read in full at once";
  EXPECT_LT(restingReads, 16) << "a process at rest was never read again";
  Put("proc/300/statm", "100 80 10 1 0 30 0\n");
  Put("proc/300/stat", Stat(300, "sleeper", 'S', 0x400100, 6, 1, 1, 900));
  Put("proc/300/schedstat", "9000 0 8\n");
  b = Build();
  EXPECT_EQ(workingSet(b[kObjProcess]), 80) << "a process that ran was not read again";
  for (const Instance& p : b[kObjProcess]) {
    if (p.Name == "sleeper") {
      EXPECT_EQ(p.Values.at(kProcessorTime), 7 * tick);
    }
  }
}

TEST_F(FakeProc, StolenTimeIsNeitherBusyNorIdle) {
  Put("proc/stat",
      "cpu  100 0 50 800 10 0 5 400 0 0\ncpu0 100 0 50 800 10 0 5 400 0 0\nprocs_running 1\n");
  auto b = Build();
  const Instance& total = b[kObjProcessor][1];
  EXPECT_EQ(total.Values.at(kProcessorTime), (100 + 50 + 5) * tick);
  EXPECT_EQ(total.Values.at(kProcessorIdleTime), (800 + 10) * tick);
  EXPECT_EQ(total.Bases.at(kProcessorTime), (155 + 810 + 400) * tick)
      << "the whole still holds the stolen time";
}

TEST_F(FakeProc, ProcessesNamedLikeTheBlocksOwnInstancesAreToldApart) {
  Put("proc/300/stat", Stat(300, "Idle", 'S', 0x400100, 1, 1, 1, 500));
  Put("proc/301/stat", Stat(301, "_Total", 'S', 0x400100, 1, 1, 1, 500));
  Put("proc/302/stat", Stat(302, "System", 'S', 0x400100, 1, 1, 1, 500));
  auto b = Build();
  std::set<std::string> names;
  for (const Instance& p : b[kObjProcess]) names.insert(p.Name);
  EXPECT_EQ(names, (std::set<std::string>{"System", "averyveryverylongname", "Idle#300",
                                          "_Total#301", "System#302"}));
}

// Mounts: each line names a mount point inside the test's folder, so that it can be asked
// for its free space, and a device that the made-up /sys lists.
class FakeDisks : public FakeProc {
 protected:
  void SetUp() override {
    FakeProc::SetUp();
    for (const char* d : {"sys/dev/block/254:16", "sys/dev/block/254:32", "mnt/a", "mnt/b"})
      fs::create_directories(fs::path(dir.Path()) / d);
    Put("sys/class/block/vdc1/dev", "254:33\n");
  }
  std::string Mount(int id, const char* device, const char* point, const char* source) {
    return std::to_string(id) + " 1 " + device + " / " + dir.Path() + "/mnt/" + point +
           " rw,relatime shared:1 - ext4 " + source + " rw\n";
  }
  // Reads, sectors read, writes, sectors written; io_ticks and the weighted time in ms.
  static std::string Stats(const char* device, int ioMs, int queueMs) {
    return std::string(device) + " fake 10 0 80 4 5 0 40 2 0 " + std::to_string(ioMs) + " " +
           std::to_string(queueMs) + "\n";
  }
  static std::int64_t Field(std::map<std::uint32_t, std::vector<Instance>>& b,
                            const std::string& name, std::uint32_t counter) {
    const Instance* i = Named(b[kObjLogicalDisk], name);
    return i != nullptr ? i->Values.at(counter) : -1;
  }
  static constexpr std::int64_t ms = 1'000'000;  // the block's times are in nanoseconds
};

TEST_F(FakeDisks, TheTotalMovesOnlyByTheActivityOfDisksPresentOnBothSides) {
  Put("proc/self/mountinfo", Mount(30, "254:16", "a", "/dev/vdb"));
  Put("proc/diskstats", Stats("254 16", 1000, 3000));
  auto first = Build();
  // A second disk appears with a long history; the first one was busy for 500 ms.
  Put("proc/self/mountinfo",
      Mount(30, "254:16", "a", "/dev/vdb") + Mount(31, "254:32", "b", "/dev/vdc"));
  Put("proc/diskstats", Stats("254 16", 1500, 3600) + Stats("254 32", 90000, 200000));
  auto mounted = Build();
  EXPECT_EQ(Field(mounted, "_Total", 1482) - Field(first, "_Total", 1482), 500 * ms);
  EXPECT_EQ(Field(mounted, "_Total", 198) - Field(first, "_Total", 198), 600 * ms);
  // Both busy for 100 ms: the total's busy time is their mean, its queue their sum.
  Put("proc/diskstats", Stats("254 16", 1600, 3700) + Stats("254 32", 90100, 200100));
  auto both = Build();
  EXPECT_EQ(Field(both, "_Total", 1482) - Field(mounted, "_Total", 1482), 100 * ms);
  EXPECT_EQ(Field(both, "_Total", 198) - Field(mounted, "_Total", 198), 200 * ms);
  // The first disk goes; the other was busy for 200 ms.
  Put("proc/self/mountinfo", Mount(31, "254:32", "b", "/dev/vdc"));
  Put("proc/diskstats", Stats("254 32", 90300, 200300));
  auto unmounted = Build();
  EXPECT_EQ(Field(unmounted, "_Total", 1482) - Field(both, "_Total", 1482), 200 * ms);
  EXPECT_EQ(Field(unmounted, "_Total", 198) - Field(both, "_Total", 198), 200 * ms);
  EXPECT_EQ(Field(unmounted, dir.Path() + "/mnt/b", 1482), 90300 * ms) << "disks keep their own";
}

TEST_F(FakeDisks, AnAnonymousDeviceCountsAsTheBlockDeviceItsSourceNames) {
  // btrfs: the mount reports 0:45; its source is a partition that /sys knows by name.
  Put("proc/self/mountinfo", Mount(40, "0:45", "a", "/dev/vdc1") + Mount(41, "0:46", "b", "tmp"));
  Put("proc/diskstats", Stats("254 33", 700, 900));
  auto b = Build();
  ASSERT_EQ(b[kObjLogicalDisk].size(), 2u) << "the disk and _Total";
  EXPECT_EQ(Field(b, dir.Path() + "/mnt/a", 1482), 700 * ms);
}

TEST_F(FakeProc, AdaptersWithoutASpeedAskForTheirWirelessRate) {
  Put("proc/net/dev",
      "Inter-| head\n face | head\n  eth9: 100 2 1 0 0 0 0 0 50 1 3 0 0 0 0 0\n"
      "  ens3: 7 1 0 0 0 0 0 0 7 1 0 0 0 0 0 0\n  wlan0: 9 1 0 0 0 0 0 0 9 1 0 0 0 0 0 0\n");
  Put("sys/class/net/ens3/flags", "0x1003\n");
  Put("sys/class/net/ens3/speed", "-1\n");  // virtio
  Put("sys/class/net/wlan0/flags", "0x1003\n");
  fs::create_directories(fs::path(dir.Path()) / "sys/class/net/wlan0/wireless");
  auto b = Build();
  EXPECT_EQ(Named(b[kObjNetworkInterface], "eth9")->Values.at(kCurrentBandwidth), 1'000'000'000);
  EXPECT_EQ(Named(b[kObjNetworkInterface], "ens3")->Values.at(kCurrentBandwidth), 0)
      << "unknown: the monitor assumes one";
  EXPECT_EQ(Named(b[kObjNetworkInterface], "wlan0")->Values.at(kCurrentBandwidth), 866'700'000);
  EXPECT_EQ(asked, std::vector<std::string>{"wlan0"}) << "only wireless links are asked";
}

}  // namespace
}  // namespace platform
