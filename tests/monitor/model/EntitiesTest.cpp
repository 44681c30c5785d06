#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "monitor/model/FileNames.h"
#include "monitor/model/Info.h"
#include "monitor/model/Tables.h"
#include "monitor/network/PortNames.h"
#include "monitor/settings/Settings.h"
#include "platform/procstatus/ProcessStatus.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ScopedSettings.h"

namespace {

using namespace ombrix;
using ombrix::testing::FakeClock;

class Entities : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings.Smooth = false;  // one-sample averages: the mean is the last rate
  }

  ombrix::testing::ScopedSettings settings_;
  FakeClock clock{100000};
  TEntityTables tables;
};

TEST(CompareTextTest, IgnoresAsciiCaseAndPutsPrefixFirst) {
  EXPECT_EQ(CompareText("explorer.exe", "EXPLORER.EXE"), crEqual);
  EXPECT_EQ(CompareText("abc", "abd"), crLess);
  EXPECT_EQ(CompareText("b", "A"), crGreater);
  EXPECT_EQ(CompareText("ab", "abc"), crLess);
  EXPECT_EQ(CompareText("abc", "ab"), crGreater);
  // "_" lies between the upper and lower case letters: upper-casing decides the order.
  EXPECT_EQ(CompareText("_x", "a"), crGreater);
  // Bytes above 127 compare unsigned.
  EXPECT_EQ(CompareText("\xC3\xA9", "z"), crGreater);
}

// Each column of the process view orders by its own figure and no other.
TEST_F(Entities, ProcessComparesByEachColumn) {
  TProcessInfo low(&tables, 1), high(&tables, 2);
  TAverage TProcessInfo::*columns[] = {
      nullptr,
      &TProcessInfo::ProcessorAvg,
      &TProcessInfo::ContextSwitchRateAvg,
      &TProcessInfo::WorkingSetAvg,
      &TProcessInfo::PrivateBytesAvg,
      &TProcessInfo::IoRateAvg,
      &TProcessInfo::IoByteRateAvg,
      &TProcessInfo::PacketRateAvg,
      &TProcessInfo::IpByteRateAvg,
      &TProcessInfo::RegistryRateAvg,
  };
  for (int column = 1; column <= 9; ++column) {
    // Every other average is the other way round, so a wrong column shows.
    for (int other = 1; other <= 9; ++other) {
      (low.*columns[other]).Add(other == column ? 1 : 9);
      (high.*columns[other]).Add(other == column ? 5 : 2);
    }
    low.CompareColumn = column;
    high.CompareColumn = column;
    EXPECT_EQ(low.Compare(high), crLess) << "column " << column;
    EXPECT_EQ(high.Compare(low), crGreater) << "column " << column;
  }
  low.ThreadCount = -1;
  high.ThreadCount = 1;
  low.CompareColumn = 10;
  EXPECT_EQ(low.Compare(high), crLess);
  low.CompareColumn = 11;
  EXPECT_EQ(low.Compare(high), crEqual);
  low.SetName("zsh");
  high.SetName("Bash");
  low.CompareColumn = 0;
  EXPECT_EQ(low.Compare(high), crGreater);
}

TEST_F(Entities, DiskAndAdapterCompareByTheirColumns) {
  TDiskInfo c(&tables, "C:"), d(&tables, "D:");
  c.FreeSpaceAvg.Add(10);
  d.FreeSpaceAvg.Add(5);
  c.QueueDepthAvg.Add(1);
  d.QueueDepthAvg.Add(2);
  c.CompareColumn = 0;
  EXPECT_EQ(c.Compare(d), crLess);
  c.CompareColumn = 1;
  EXPECT_EQ(c.Compare(d), crGreater);
  c.CompareColumn = 5;
  EXPECT_EQ(c.Compare(d), crLess);

  TAdapterInfo a(&tables, "eth0"), b(&tables, "eth1");
  a.Bandwidth = 1000000000;
  b.Bandwidth = 100000000;
  a.ErrorRateAvg.Add(0);
  b.ErrorRateAvg.Add(3);
  a.CompareColumn = 1;
  EXPECT_EQ(a.Compare(b), crGreater);
  a.CompareColumn = 4;
  EXPECT_EQ(a.Compare(b), crLess);
}

// Rate columns of files and sockets follow the averages, or the overall values when asked.
TEST_F(Entities, FileAndSocketRateColumnsFollowCompareOverall) {
  TFileInfo busyNow(&tables, 1, 10), busyBefore(&tables, 1, 11);
  busyNow.IoRateAvg.Add(50);  // busy in the last interval
  busyBefore.IoRateAvg.Add(0);
  busyNow.IoCount = 10;  // but fewer I/Os since creation
  busyBefore.IoCount = 1000;
  clock.Advance(10000);
  busyNow.CompareColumn = 2;
  EXPECT_EQ(busyNow.Compare(busyBefore), crGreater);
  busyNow.CompareOverall = true;
  EXPECT_EQ(busyNow.Compare(busyBefore), crLess);

  TSocketInfo a(&tables, 1, 0x0A000001, 80), b(&tables, 1, 0x0A000002, 80);
  a.ByteRateAvg.Add(1);
  b.ByteRateAvg.Add(2);
  a.ByteCount = 5000;
  b.ByteCount = 10;
  a.CompareColumn = 4;
  EXPECT_EQ(a.Compare(b), crLess);
  a.CompareOverall = true;
  EXPECT_EQ(a.Compare(b), crGreater);
}

TEST_F(Entities, SocketsSortByPortNumberAndUnsignedAddress) {
  PortNames[80] = "zzz";
  PortNames[443] = "aaa";
  TSocketInfo web(&tables, 1, 0xC0A80001, 80), secure(&tables, 1, 0x0A000001, 443);
  web.CompareColumn = 0;
  EXPECT_EQ(web.Compare(secure), crLess);  // by number, though "zzz" > "aaa"
  web.CompareColumn = 1;
  EXPECT_EQ(web.Compare(secure), crGreater);  // 192.168.0.1 above 10.0.0.1, unsigned
  PortNames[80].clear();
  PortNames[443].clear();
}

TEST_F(Entities, FileAndSocketCompareProcessNamesAndIdleTime) {
  tables.FindOrCreateProcess(7, "zebra");
  tables.FindOrCreateProcess(8, "Apple");
  TFileInfo f7(&tables, 7, 1), f8(&tables, 8, 1);
  f7.CompareColumn = 1;
  EXPECT_EQ(f7.Compare(f8), crGreater);
  f7.Touch(true);
  clock.Advance(500);
  f8.Touch(true);
  f7.CompareColumn = 5;
  EXPECT_EQ(f7.Compare(f8), crGreater);  // idle longer
}

TEST_F(Entities, ProcessIntervalTurnsCountsIntoRatesOverTheMeasuredLength) {
  TProcessInfo p(&tables, 42);
  for (int i = 0; i < 10; ++i) p.AddPacket(500);
  p.AddRegistryAccess();
  p.IntervalContextSwitches = 30;
  clock.Advance(2000);
  p.CloseInterval();
  EXPECT_DOUBLE_EQ(p.PacketRateAvg.Mean(), 5.0);
  EXPECT_DOUBLE_EQ(p.IpByteRateAvg.Mean(), 2500.0);
  EXPECT_DOUBLE_EQ(p.ContextSwitchRateAvg.Mean(), 15.0);
  EXPECT_DOUBLE_EQ(p.RegistryRateAvg.Mean(), 0.5);
  EXPECT_EQ(p.IntervalPackets, 0);
  EXPECT_EQ(p.IntervalIpBytes, 0);

  // A second close at the same tick: zero length counts as one second.
  p.AddPacket(1);
  p.AddPacket(1);
  p.CloseInterval();
  EXPECT_DOUBLE_EQ(p.PacketRateAvg.Mean(), 2.0);
}

TEST_F(Entities, IntervalAcrossTheTickWrapUsesTheTrueLength) {
  clock.Set(0xFFFFFF00);
  TSocketInfo s(&tables, 1, 0x7F000001, 80);
  for (int i = 0; i < 512; ++i) s.AddPacket(2);
  clock.Advance(0x200);  // 512 ms, past the wrap
  ASSERT_LT(clock.Now(), 0x1000U);
  s.CloseInterval();
  EXPECT_DOUBLE_EQ(s.PacketRateAvg.Mean(), 1000.0);
  EXPECT_DOUBLE_EQ(s.ByteRateAvg.Mean(), 2000.0);
  EXPECT_DOUBLE_EQ(s.OverallPacketRate(), 1000.0);
}

TEST_F(Entities, FileIntervalCountsOnlyWhatIsNewAndAveragesResponse) {
  TFileInfo f(&tables, 5, 77);
  f.AddDiskIo(0, 4096, 1000);
  f.AddDiskIo(0, 4096, 2000);
  f.AddDiskIo(1, 8192, 6000);
  clock.Advance(1000);
  f.CloseInterval();
  EXPECT_DOUBLE_EQ(f.IoRateAvg.Mean(), 3.0);
  EXPECT_DOUBLE_EQ(f.ByteRateAvg.Mean(), 16384.0);
  EXPECT_DOUBLE_EQ(f.ResponseAvg.Mean(), 3.0);  // 9000 / 1000 / 3
  EXPECT_EQ(f.DiskNumber, 1U);

  clock.Advance(4000);
  f.AddDiskIo(1, 1000, 500);
  f.CloseInterval();
  EXPECT_DOUBLE_EQ(f.IoRateAvg.Mean(), 0.25);
  EXPECT_DOUBLE_EQ(f.ByteRateAvg.Mean(), 250.0);
  EXPECT_DOUBLE_EQ(f.ResponseAvg.Mean(), 0.5);

  clock.Advance(1000);
  f.CloseInterval();  // no I/O: the response sample is 0
  EXPECT_DOUBLE_EQ(f.ResponseAvg.Mean(), 0.0);
  EXPECT_EQ(f.IoCount, 4);
  EXPECT_EQ(f.ByteCount, 17384);
}

TEST_F(Entities, OverallRatesSinceCreation) {
  TFileInfo f(&tables, 5, 1);
  f.AddDiskIo(0, 1000, 3000);
  f.AddDiskIo(0, 1000, 1000);
  // No time has passed: one second stands in for it.
  EXPECT_DOUBLE_EQ(f.OverallIoRate(), 2.0);
  clock.Advance(4000);
  EXPECT_DOUBLE_EQ(f.OverallIoRate(), 0.5);
  EXPECT_DOUBLE_EQ(f.OverallByteRate(), 500.0);
  EXPECT_DOUBLE_EQ(f.OverallResponse(), 2.0);
  TFileInfo idle(&tables, 5, 2);
  EXPECT_DOUBLE_EQ(idle.OverallResponse(), 0.0);
}

TEST_F(Entities, IdleTimeRestartsWhenTheTickCountWraps) {
  TFileInfo f(&tables, 1, 1);
  EXPECT_EQ(f.IdleTime(), 100000U);  // never active: counted from tick 0
  clock.Set(0xFFFFFFF0);
  f.Touch(true);
  clock.Advance(0x20);  // wrapped to 0x10
  EXPECT_EQ(f.IdleTime(), 0U);
  EXPECT_EQ(f.LastActivity, 0x10U);
  clock.Advance(50);
  EXPECT_EQ(f.IdleTime(), 50U);
  f.Touch(false);
  EXPECT_FALSE(f.Active);
  EXPECT_EQ(f.LastActivity, 0x10U);
}

TEST_F(Entities, FileNameKeepsDirectoryCaseAndLowersTheFilePart) {
  struct Case {
    const char* path;
    const char* directory;
    const char* name;
  } cases[] = {
      {"/home/Ann/Report.ODT", "/home/Ann/", "report.odt"},
      {R"(C:\Windows\System32\NTDLL.DLL)", R"(C:\Windows\System32\)", "ntdll.dll"},
      {"D:PAGEFILE.SYS", "D:", "pagefile.sys"},
      {"Swap", "", "swap"},
      {"/var/log/", "/var/log/", ""},
  };
  for (const Case& c : cases) {
    TFileInfo f(&tables, 1, 1);
    f.SetName(c.path);
    EXPECT_TRUE(f.NameResolved);
    EXPECT_EQ(f.Directory, c.directory) << c.path;
    EXPECT_EQ(f.Name, c.name) << c.path;
  }
}

TEST_F(Entities, UnnamedFileIsCountedButListedOnlyOnceNamed) {
  const std::uint32_t object = 0x5A5A0001;
  TFileInfo* f = tables.FindOrCreateFile(9, object);
  f->AddDiskIo(0, 512, 10);
  EXPECT_EQ(f->Name, "<unknown>");
  EXPECT_FALSE(f->Active);
  EXPECT_EQ(f->IoCount, 1);

  FileNames.Store(object, "/srv/Data/Big.BIN");
  EXPECT_EQ(f->Name, "<unknown>");  // resolved only by its next disk I/O (or GetName)
  f->AddDiskIo(0, 512, 10);
  EXPECT_TRUE(f->Active);
  EXPECT_EQ(f->Directory, "/srv/Data/");
  EXPECT_EQ(f->Name, "big.bin");

  // A resolved file keeps its name when its object is named again.
  FileNames.Store(object, "/elsewhere/other");
  f->AddDiskIo(0, 512, 10);
  EXPECT_EQ(f->GetName(), "big.bin");

  TFileInfo other(&tables, 9, TFileNameTable::OtherObject);
  EXPECT_EQ(other.GetName(), "<other>");
}

TEST(FileNameTable, StartsWithOtherAndReplacesNamesInPlace) {
  TFileNameTable names;
  ASSERT_EQ(names.Count(), 1U);
  EXPECT_EQ(names.Entry(0).first, "<other>");
  EXPECT_EQ(names.Entry(0).second, 0xFFFFFFFFU);
  EXPECT_EQ(names.Find(3), nullptr);
  names.Store(3, "/a");
  names.Store(4, "/b");
  names.Store(3, "/c");
  ASSERT_EQ(names.Count(), 3U);
  EXPECT_EQ(*names.Find(3), "/c");
  EXPECT_EQ(names.Entry(1).first, "/c");
  EXPECT_EQ(names.Entry(2).first, "/b");
}

TEST_F(Entities, SocketNameFollowsThePortNameRules) {
  PortNames[0] = "Non-TCP Packets";
  PortNames[80] = "http";
  TSocketInfo web(&tables, 1, 1, 80), unnamed(&tables, 1, 1, 8123), raw(&tables, 1, 1, 0);
  EXPECT_EQ(web.GetName(), "http - 80");
  EXPECT_EQ(unnamed.GetName(), "8123");
  EXPECT_EQ(raw.GetName(), "Non-TCP Packets");
  PortNames[80].clear();
  // Without an address table the host is the dotted address.
  TSocketInfo s(&tables, 1, 0xC0A80102, 22);
  EXPECT_EQ(s.RemoteHostName(), "192.168.1.2");
}

TEST_F(Entities, ProcessNameComesFromTheProcessOrItsHexId) {
  TFileInfo orphan(nullptr, 0x1A2B, 1);
  EXPECT_EQ(orphan.ProcessName(), "00001A2B");
  TFileInfo owned(&tables, 0x1A2B, 1);
  ASSERT_NE(owned.Process, nullptr);
  owned.Process->SetName("editor");
  EXPECT_EQ(owned.ProcessName(), "editor");
  owned.Process = nullptr;
  EXPECT_EQ(owned.ProcessName(), "editor");  // found in the table by id
  EXPECT_EQ(tables.ProcessNameOf(0xBEEF), "0000BEEF");
}

TEST_F(Entities, NewProcessAndFirstActivityMarks) {
  TProcessInfo p(&tables, 321);
  EXPECT_EQ(p.Name, "321");
  EXPECT_TRUE(p.Partial);
  EXPECT_TRUE(p.Active);
  EXPECT_EQ(p.LastActivity, clock.Now());
  EXPECT_FALSE(p.Permanent);
  EXPECT_TRUE(TProcessInfo(&tables, 0).Permanent);

  tables.ProcessListChanged = false;
  p.AddPacket(10);
  EXPECT_TRUE(tables.ProcessListChanged);
  tables.ProcessListChanged = false;
  p.AddPacket(10);
  EXPECT_FALSE(tables.ProcessListChanged);  // only the first packet changes the list
  p.NoteDiskIo();
  EXPECT_TRUE(p.SawDiskIo);
  EXPECT_TRUE(tables.ProcessListChanged);
}

TEST_F(Entities, ImagePathFromTheSystemOrTheName) {
  TProcessInfo self(&tables, static_cast<std::uint32_t>(getpid()));
  EXPECT_EQ(self.GetImagePath(), platform::ProcessImagePath(static_cast<std::uint32_t>(getpid())));
  EXPECT_FALSE(self.ImagePath.empty());

  TProcessInfo gone(&tables, 0x7FFFFFF0);
  gone.SetName("ghost");
  EXPECT_EQ(gone.GetImagePath(), "ghost");
  gone.SetProcessId(NoProcess);  // a new id forgets the path
  EXPECT_EQ(gone.GetImagePath(), "");
}

TEST_F(Entities, MemoryReportCountsTextsAndAverages) {
  TDiskInfo shortName(&tables, "C:"), longName(&tables, "C:0123456789");
  EXPECT_EQ(longName.MemoryUsed() - shortName.MemoryUsed(), 10);
  EXPECT_EQ(shortName.MemoryUsed(),
            static_cast<std::int64_t>(sizeof(TDiskInfo)) + 2 + 6 * TAverage::MemoryUsed());
}

TEST_F(Entities, MemoryInUsePercent) {
  TMemoryInfo m;
  m.AvailableAvg.Add(250);
  EXPECT_EQ(m.InusePercent(), 0);  // no total known
  m.TotalBytes = 1000;
  EXPECT_DOUBLE_EQ(m.InusePercent(), 75.0);
  m.AvailableAvg.Add(2000);
  EXPECT_EQ(m.InusePercent(), 0);  // more available than installed: not negative
}

}  // namespace
