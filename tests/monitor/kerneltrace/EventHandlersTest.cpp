#include "monitor/kerneltrace/EventHandlers.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "monitor/model/FileNames.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/network/IpHelper.h"
#include "tests/support/EventRecordBuilder.h"

namespace {

using namespace ombrix::testing;
using ombrix::TEntityTables;
using platform::EventRecord;

class EventHandlers : public ::testing::Test {
 protected:
  EventHandlers() : handlers(tables, ip) { ip.LocalAddresses = {Ip(192, 0, 2, 2)}; }

  void Disk(const EventRecord& r) { Deliver(r, &ombrix::TEventHandlers::DiskIoEvent); }
  void File(const EventRecord& r) { Deliver(r, &ombrix::TEventHandlers::FileIoEvent); }
  void Start(const EventRecord& r) { Deliver(r, &ombrix::TEventHandlers::ProcessEvent); }
  void Net(const EventRecord& r) { Deliver(r, &ombrix::TEventHandlers::NetworkEvent); }
  void Reg(const EventRecord& r) { Deliver(r, &ombrix::TEventHandlers::RegistryEvent); }

  void Deliver(const EventRecord& r,
               void (ombrix::TEventHandlers::*handler)(const platform::EVENT_TRACE*)) {
    const platform::EVENT_TRACE e = r.View();
    (handlers.*handler)(&e);
    // Whatever the record held, the lock is free again for the other thread.
    auto other = std::async(std::launch::async, [] {
      const bool got = ombrix::ModelLock.try_lock();
      if (got) ombrix::ModelLock.unlock();
      return got;
    });
    EXPECT_TRUE(other.get());
  }

  ombrix::TSocketInfo* OnlySocket() {
    EXPECT_EQ(tables.Sockets.size(), 1u);
    return tables.Sockets.empty() ? nullptr : tables.Sockets[0].get();
  }

  TEntityTables tables;
  ombrix::TIpHelper ip;
  ombrix::TEventHandlers handlers;
  const std::uint32_t remote = Ip(198, 51, 100, 7), local = Ip(192, 0, 2, 2);
};

TEST_F(EventHandlers, DiskIoCountsOnTheFileAndNamesItOnceKnown) {
  Disk(DiskIo(4000, 0x1234, 4096, 250, 1));
  ASSERT_EQ(tables.Files.size(), 1u);
  ombrix::TFileInfo& f = *tables.Files[0];
  EXPECT_EQ(f.Name, "<unknown>");
  EXPECT_FALSE(f.Active);  // not listed until named
  ASSERT_NE(f.Process, nullptr);
  EXPECT_TRUE(f.Process->SawDiskIo);

  File(FileName(0x1234, "/home/u/Data/Report.TXT"));
  Disk(DiskIo(4000, 0x1234, 1000, 50, 1));
  EXPECT_EQ(f.Directory, "/home/u/Data/");
  EXPECT_EQ(f.Name, "report.txt");
  EXPECT_EQ(f.IoCount, 2);
  EXPECT_EQ(f.ByteCount, 5096);
  EXPECT_EQ(f.ResponseSum, 300);
  EXPECT_TRUE(f.Active);

  // A later name for the same file object does not rename a resolved file.
  File(FileName(0x1234, "/tmp/other"));
  EXPECT_EQ(*ombrix::FileNames.Find(0x1234), "/tmp/other");
  Disk(DiskIo(4000, 0x1234, 1));
  EXPECT_EQ(f.Name, "report.txt");
}

TEST_F(EventHandlers, MetadataNamesAreNeverStoredButOtherIoResolves) {
  File(FileName(0x77, "\\$Mft"));
  EXPECT_EQ(ombrix::FileNames.Find(0x77), nullptr);
  Disk(DiskIo(4001, 0x77, 512));
  Disk(DiskIo(4001, 0xFFFFFFFF, 512));
  ASSERT_EQ(tables.Files.size(), 2u);
  EXPECT_EQ(tables.Files[0]->GetName(), "<unknown>");
  EXPECT_EQ(tables.Files[1]->GetName(), "<other>");
  File(FileName(0x78, "x"));  // shorter than two characters: kept
  ASSERT_NE(ombrix::FileNames.Find(0x78), nullptr);
}

TEST_F(EventHandlers, FileNamesSurviveOddUtf16) {
  File(FileNameUnits(0x80, u"/d/\xD83D\xDE00.txt"));  // a pair: one character
  EXPECT_EQ(*ombrix::FileNames.Find(0x80), "/d/\xF0\x9F\x98\x80.txt");
  File(FileNameUnits(0x81, u"/d/\xDC00x"));  // a lone low surrogate
  EXPECT_EQ(*ombrix::FileNames.Find(0x81), "/d/\xEF\xBF\xBDx");
  File(FileNameUnits(0x82, u"/no/terminator", false));
  EXPECT_EQ(*ombrix::FileNames.Find(0x82), "/no/terminator");
}

TEST_F(EventHandlers, UnknownProcessAndShortRecordsAreDropped) {
  Disk(DiskIo(0xFFFFFFFF, 1, 10));
  Disk(Truncated(DiskIo(4002, 1, 10), 27));
  Net(Tcp(platform::EVENT_TYPE_NET_SEND, 0xFFFFFFFF, 10, remote, local, 80, 40000));
  Net(Truncated(Tcp(platform::EVENT_TYPE_NET_SEND, 4002, 10, remote, local, 80, 40000), 19));
  File(Truncated(FileName(0x90, "/a"), 3));
  Start(Truncated(ProcessStart(4003, "cat"), 27));
  Reg(Registry(0xFFFFFFFF));
  EXPECT_TRUE(tables.Files.empty());
  EXPECT_TRUE(tables.Sockets.empty());
  EXPECT_TRUE(tables.Processes.empty());
  EXPECT_EQ(ombrix::FileNames.Find(0x90), nullptr);
}

TEST_F(EventHandlers, SentAndReceivedPacketsLandOnTheRemoteEnd) {
  Net(Tcp(platform::EVENT_TYPE_NET_SEND, 5000, 1500, remote, local, 443, 40000));
  Net(Tcp(platform::EVENT_TYPE_NET_RECV, 5000, 500, local, remote, 40000, 443));
  ombrix::TSocketInfo* s = OnlySocket();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->RemoteAddress, remote);
  EXPECT_EQ(s->RemotePort, 443);
  EXPECT_EQ(s->PacketCount, 2u);
  EXPECT_EQ(s->ByteCount, 2000);
  ASSERT_NE(s->Process, nullptr);
  EXPECT_EQ(s->Process->IntervalPackets, 2);
  EXPECT_EQ(s->Process->IntervalIpBytes, 2000);
  EXPECT_TRUE(s->Process->SawNetwork);

  Net(Udp(platform::EVENT_TYPE_NET_SEND, 5000, 0, remote, local, 443, 40000));  // size 0
  EXPECT_EQ(s->PacketCount, 3u);
  EXPECT_EQ(s->ByteCount, 2000);
}

TEST_F(EventHandlers, LoopbackCountsOnTheLowerPortAndTheSourceWhenEqual) {
  const std::uint32_t lo = Ip(127, 0, 0, 1);
  Net(Tcp(platform::EVENT_TYPE_NET_SEND, 6000, 10, lo, local, 8080, 50000));
  Net(Tcp(platform::EVENT_TYPE_NET_RECV, 6000, 10, local, lo, 50000, 8080));
  ombrix::TSocketInfo* s = OnlySocket();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->RemotePort, 8080);
  EXPECT_EQ(s->PacketCount, 2u);

  tables.Sockets.clear();
  Net(Tcp(platform::EVENT_TYPE_NET_SEND, 6000, 10, lo, local, 7000, 7000));
  s = OnlySocket();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->RemoteAddress, local);  // the source end
}

TEST_F(EventHandlers, ProcessStartNamesTheEntityAndClearsPartial) {
  tables.FindOrCreateProcess(7000, "sh");
  Start(ProcessStart(7000, "bash"));
  Start(ProcessStartWithSid(7001, "firefox", 5));
  Start(ProcessStartWithSid(7002, "init-less", 0, /*emptySidPointer=*/true));
  ASSERT_EQ(tables.Processes.size(), 3u);
  EXPECT_EQ(tables.FindProcess(7000)->Name, "bash");
  EXPECT_FALSE(tables.FindProcess(7000)->Partial);
  EXPECT_EQ(tables.FindProcess(7001)->Name, "firefox");
  EXPECT_EQ(tables.FindProcess(7002)->Name, "init-less");

  Start(ProcessStartWithSid(7003, "unterminated", 1, false, false));
  EXPECT_EQ(tables.FindProcess(7003)->Name, "unterminated");
  Start(ProcessEnd(7004));
  EXPECT_EQ(tables.FindProcess(7004), nullptr);
  Start(ProcessStart(2, "System"));
  EXPECT_EQ(tables.SystemProcess, tables.FindProcess(2));
}

TEST_F(EventHandlers, ImageOffsetFollowsTheSidLength) {
  std::uint8_t data[64] = {};
  std::uint32_t at = 0;
  data[20] = 1;  // a SID pointer
  data[29] = 5;  // five sub-authorities
  ASSERT_TRUE(ombrix::ImageNameOffset(data, 64, at));
  EXPECT_EQ(at, 56u);
  data[29] = 255;  // a SID longer than the record
  EXPECT_FALSE(ombrix::ImageNameOffset(data, 64, at));
  data[20] = 0;
  ASSERT_TRUE(ombrix::ImageNameOffset(data, 28, at));
  EXPECT_EQ(at, 28u);
  EXPECT_FALSE(ombrix::ImageNameOffset(data, 27, at));
}

TEST_F(EventHandlers, RegistryCountsOnlyKnownProcesses) {
  Reg(Registry(8000));
  EXPECT_TRUE(tables.Processes.empty());
  tables.FindOrCreateProcess(8000, "reg");
  Reg(Registry(8000));
  Reg(Registry(8000));
  EXPECT_EQ(tables.FindProcess(8000)->IntervalRegistry, 2);
}

}  // namespace
