// The counter collection against synthetic blocks: which counters land in which averages,
// how instances map to entities, and the clamps, deltas and charges along the way.
#include <gtest/gtest.h>

#include <memory>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/model/Tables.h"
#include "monitor/perfdata/CollectCounter.h"
#include "monitor/settings/Settings.h"
#include "platform/checked/Checked.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/support/PerfBlockBuilder.h"
#include "tests/support/PerfBlockSource.h"
#include "tests/support/ScopedSettings.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;
using namespace platform;

constexpr std::uint32_t RAW = PERF_COUNTER_RAWCOUNT;         // value = raw
constexpr std::uint32_t LRAW = PERF_COUNTER_LARGE_RAWCOUNT;  // 64-bit raw

PerfInstanceSpec Inst(const std::string& name, std::vector<std::int64_t> values) {
  PerfInstanceSpec i;
  i.Name = name;
  i.Values = std::move(values);
  return i;
}

PerfObjectSpec Object(std::uint32_t index, std::vector<std::uint32_t> counters,
                      std::vector<PerfInstanceSpec> instances) {
  PerfObjectSpec o;
  o.Index = index;
  for (std::uint32_t c : counters)
    o.Counters.push_back({c, c == kWorkingSet || c == kPrivateBytes ? LRAW : RAW});
  o.HasInstances = true;
  o.Instances = std::move(instances);
  return o;
}

// Processor: % time, idle, interrupt %, interrupts/s, DPC %, DPC rate.
PerfObjectSpec Processor(std::vector<std::string> cpus, std::vector<std::int64_t> total) {
  std::vector<PerfInstanceSpec> instances;
  for (const auto& c : cpus) instances.push_back(Inst(c, {1, 2, 3, 4, 5, 6}));
  instances.push_back(Inst("_Total", std::move(total)));
  return Object(
      kObjProcessor,
      {kProcessorTime, kProcessorIdleTime, kInterruptTime, kInterrupts, kDpcTime, kDpcsQueued},
      instances);
}

// Process: % time, working set, private bytes, id, I/O ops, other ops, I/O bytes, other bytes.
PerfInstanceSpec Proc(const std::string& name, std::int64_t id, std::int64_t percent,
                      std::int64_t ws = 0) {
  return Inst(name, {percent, ws, ws / 2, id, 10, 1, 1000, 100});
}
PerfObjectSpec Processes(std::vector<PerfInstanceSpec> instances) {
  return Object(kObjProcess,
                {kProcessorTime, kWorkingSet, kPrivateBytes, kIdProcess, kIoDataOperations,
                 kIoOtherOperations, kIoDataBytes, kIoOtherBytes},
                std::move(instances));
}

// What the collection writes into; a base of the fixture so that it exists before the
// collection is given it.
struct CollectionTargets {
  TEntityTables tables;
  TMemoryInfo memory;
  TAverage cpuUsage, cpuQueue, diskBusy, diskQueue;
};

class Collection : public ::testing::Test, protected CollectionTargets, public TCounterCollection {
 protected:
  Collection() : TCounterCollection({tables, memory, cpuUsage, cpuQueue, diskBusy, diskQueue}) {}

  void SetUp() override {
    const auto pseudo = [this](const char* name) {
      auto p = std::make_unique<TProcessInfo>(&Tables, 0);
      p->SetName(name);
      return Tables.InsertProcess(std::move(p));
    };
    IdleProcess = pseudo("_Idle");
    InterruptsProcess = pseudo("_Interrupts");
    DpcsProcess = pseudo("_DPCs");
    reader = std::make_unique<TPerformanceData>();
  }

  // Walks cur with prev as the previous block.
  void Collect(const std::vector<PerfObjectSpec>& prev, const std::vector<PerfObjectSpec>& cur) {
    PerfBlockSpec a, b;
    a.PerfTime = 1000;
    b.PerfTime = 2000;
    a.Objects = prev;
    b.Objects = cur;
    reader->LoadBlocks(BuildPerfBlock(a), BuildPerfBlock(b));
    reader->ForEachCounter(Visitor());
  }
  void Collect(const std::vector<PerfObjectSpec>& objects) { Collect(objects, objects); }

  TProcessInfo* Process(std::uint32_t id) { return Tables.FindProcess(id); }

  ombrix::testing::ScopedSettings settings_{TSettings{}};
  FakePerfSource source;
  std::unique_ptr<TPerformanceData> reader;
};

TEST_F(Collection, ProcessorCountFollowsTheProcessorInstances) {
  Collect({Processor({"0", "1"}, {60, 40, 3, 7, 2, 9}), Processes({Proc("app", 42, 80)})});
  EXPECT_EQ(ProcessorCount, 2);
  EXPECT_DOUBLE_EQ(cpuUsage.LastValue(), 60);
  EXPECT_DOUBLE_EQ(Process(42)->ProcessorAvg.LastValue(), 40);  // halved on two processors

  Collect({Processor({"0"}, {60, 40, 3, 7, 2, 9})});
  EXPECT_EQ(ProcessorCount, 1);
  Collect({Processor({}, {60, 40, 3, 7, 2, 9})});
  EXPECT_EQ(ProcessorCount, 1);  // "_Total" alone still means one processor
}

TEST_F(Collection, ProcessFiguresGoToTheirAverages) {
  Collect({Processes({Proc("app", 42, 30, 4096)})});
  TProcessInfo* p = Process(42);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Name, "app");
  EXPECT_TRUE(p->Active);
  EXPECT_DOUBLE_EQ(p->ProcessorAvg.LastValue(), 30);
  EXPECT_DOUBLE_EQ(p->WorkingSetAvg.LastValue(), 4096);
  EXPECT_DOUBLE_EQ(p->PrivateBytesAvg.LastValue(), 2048);
  EXPECT_DOUBLE_EQ(p->IoRateAvg.LastValue(), 11);  // other I/O included by default
  EXPECT_DOUBLE_EQ(p->IoByteRateAvg.LastValue(), 1100);

  Settings.IncludeOtherIos = false;
  Collect({Processes({Proc("app", 42, 30, 4096)})});
  EXPECT_DOUBLE_EQ(p->IoRateAvg.LastValue(), 10);
  EXPECT_DOUBLE_EQ(p->IoByteRateAvg.LastValue(), 1000);
}

TEST_F(Collection, IdleAndTotalProcessesMakeNoEntity) {
  const std::size_t before = Tables.Processes.size();
  Collect({Processes({Proc("Idle", 0, 99), Proc("_Total", 0, 100), Proc("app", 7, 1)})});
  EXPECT_EQ(Tables.Processes.size(), before + 1);
  EXPECT_NE(Process(7), nullptr);
  // The pseudo processes (id 0) got nothing from "Idle".
  EXPECT_EQ(IdleProcess->ProcessorAvg.SampleCount(), 0);
}

TEST_F(Collection, HiddenPseudoProcessesAreChargedToSystem) {
  const auto objects = std::vector<PerfObjectSpec>{Processor({"0"}, {50, 40, 3, 7, 2, 9}),
                                                   Processes({Proc("System", 4, 10)})};
  Collect(objects);
  TProcessInfo* system = Process(4);
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(Tables.SystemProcess, system);
  EXPECT_DOUBLE_EQ(system->ProcessorAvg.LastValue(), 10 + 3 + 2);
  EXPECT_FALSE(IdleProcess->Active);
  EXPECT_FALSE(InterruptsProcess->Active);
  EXPECT_FALSE(DpcsProcess->Active);
  EXPECT_DOUBLE_EQ(IdleProcess->ProcessorAvg.LastValue(), 40);
  EXPECT_DOUBLE_EQ(InterruptsProcess->IoRateAvg.LastValue(), 7);
  EXPECT_DOUBLE_EQ(DpcsProcess->IoRateAvg.LastValue(), 9);

  Settings.ShowPseudoProcesses = true;
  Collect(objects);
  EXPECT_DOUBLE_EQ(system->ProcessorAvg.LastValue(), 10);
  EXPECT_TRUE(IdleProcess->Active);
  EXPECT_TRUE(InterruptsProcess->Active);
  EXPECT_TRUE(DpcsProcess->Active);
}

TEST_F(Collection, InterruptTimeOfAnEarlierBlockWhenProcessesComeFirst) {
  Collect({Processes({Proc("System", 4, 10)}), Processor({"0"}, {50, 40, 3, 7, 2, 9})});
  EXPECT_DOUBLE_EQ(Process(4)->ProcessorAvg.LastValue(), 10);  // none seen yet
  Collect({Processes({Proc("System", 4, 10)}), Processor({"0"}, {50, 40, 1, 7, 1, 9})});
  EXPECT_DOUBLE_EQ(Process(4)->ProcessorAvg.LastValue(), 10 + 3 + 2);
}

TEST_F(Collection, MachineFigures) {
  PerfObjectSpec system;
  system.Index = kObjSystem;
  system.Counters = {{kProcessorQueueLength, RAW}, {kContextSwitches, RAW}};
  system.Values = {6, 1000};
  PerfObjectSpec mem;
  mem.Index = kObjMemory;
  mem.Counters = {{kAvailableBytes, LRAW}, {kPageReads, RAW}, {kPageWrites, RAW}};
  mem.Values = {512LL << 20, 12, 34};
  Collect({system, mem});
  EXPECT_DOUBLE_EQ(cpuQueue.LastValue(), 6);
  EXPECT_DOUBLE_EQ(memory.AvailableAvg.LastValue(), 512.0 * 1048576);
  EXPECT_DOUBLE_EQ(memory.PageReadRateAvg.LastValue(), 12);
  EXPECT_DOUBLE_EQ(memory.PageWriteRateAvg.LastValue(), 34);
}

PerfObjectSpec Disks(std::int64_t totalIdle, std::int64_t diskIdle) {
  // Free %, free MB, queue, transfers, bytes, idle %.
  return Object(
      kObjLogicalDisk,
      {kFreeSpace, kFreeMegabytes, kDiskQueueLength, kDiskTransfers, kDiskBytes, kDiskIdleTime},
      {Inst("sda1", {40, 900, 2, 30, 4000, diskIdle}),
       Inst("_Total", {40, 900, 3, 30, 4000, totalIdle})});
}

TEST_F(Collection, DisksAndTheTotalBusyClamp) {
  Collect({Disks(103, 30)});
  EXPECT_DOUBLE_EQ(diskBusy.LastValue(), 0);  // not -3
  EXPECT_DOUBLE_EQ(diskQueue.LastValue(), 3);
  ASSERT_EQ(Tables.Disks.size(), 1u);  // "_Total" is no disk
  TDiskInfo& d = *Tables.Disks[0];
  EXPECT_EQ(d.Name, "sda1");
  EXPECT_TRUE(d.Active);
  EXPECT_DOUBLE_EQ(d.BusyPercentAvg.LastValue(), 70);
  EXPECT_DOUBLE_EQ(d.FreeSpaceAvg.LastValue(), 40);
  EXPECT_DOUBLE_EQ(d.FreeMegabytesAvg.LastValue(), 900);
  EXPECT_DOUBLE_EQ(d.QueueDepthAvg.LastValue(), 2);
  EXPECT_DOUBLE_EQ(d.IoRateAvg.LastValue(), 30);
  EXPECT_DOUBLE_EQ(d.ByteRateAvg.LastValue(), 4000);

  Collect({Disks(25, 130)});
  EXPECT_DOUBLE_EQ(diskBusy.LastValue(), 75);
  EXPECT_DOUBLE_EQ(d.BusyPercentAvg.LastValue(), 0);
}

TEST_F(Collection, DiskInuseTraceEndsEachSampleWithABlankLine) {
  TempDir dir;
  TraceFile.Rewrite(dir.File("trace.txt"));
  Settings.DiskInuseTrace = true;
  Collect({Disks(20, 30)});
  Collect({Disks(20, 30)});
  Settings.DiskInuseTrace = false;
  Collect({Disks(20, 30)});  // writes nothing
  TraceFile.Close();
  const std::string text = dir.Read("trace.txt");
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  // Per sample: the lines of counters 198 and 1482, then one blank.
  ASSERT_EQ(lines.size(), 6u) << text;
  EXPECT_EQ(lines[2], " ");
  EXPECT_EQ(lines[5], " ");
  EXPECT_NE(lines[0], " ");
  EXPECT_NE(lines[3], " ");
}

PerfObjectSpec Threads(std::vector<PerfInstanceSpec> instances) {
  return Object(kObjThread, {kContextSwitches, kIdProcess, kIdThread}, std::move(instances));
}

TEST_F(Collection, ContextSwitchesAreThreadDeltas) {
  Collect({Threads({Inst("app/0", {100, 42, 501}), Inst("app/1", {500, 42, 502}),
                    Inst("_Totally", {7, 42, 503}), Inst("Idle/0", {9, 0, 0}),
                    Inst("_Total", {0, 0, 0})})},
          {Threads({Inst("app/0", {150, 42, 501}), Inst("app/1", {400, 42, 502}),
                    Inst("_Totally", {7, 42, 503}), Inst("Idle/0", {90, 0, 0}),
                    Inst("_Total", {5, 42, 9})})});
  TProcessInfo* p = Process(42);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->IntervalContextSwitches, 50);  // the thread whose count fell adds nothing
  EXPECT_EQ(p->ThreadCount, 3);               // "_Totally" is a thread; "_Total" is none
  // The idle thread (id 0) counts for no process.
  EXPECT_EQ(IdleProcess->ThreadCount, 0);
}

TEST_F(Collection, AProcessThatLeftBetweenWalksIsFoundAfresh) {
  const auto threads = std::vector<PerfObjectSpec>{Threads({Inst("app/0", {1, 42, 501})})};
  Collect(threads);
  Process(42)->Touch(false);
  Tables.SweepProcesses();
  ASSERT_EQ(Process(42), nullptr);
  BeginCollection();
  Collect(threads);
  ASSERT_NE(Process(42), nullptr);
  EXPECT_EQ(Process(42)->ThreadCount, 1);
}

PerfObjectSpec Adapter(std::int64_t bytes, std::int64_t rxErrors, std::int64_t txErrors) {
  PerfObjectSpec o = Object(
      kObjNetworkInterface,
      {kBytesTotal, kPackets, kCurrentBandwidth, kPacketsReceivedErrors, kPacketsOutboundErrors},
      {Inst("eth0", {bytes, 80, 1000000000, rxErrors, txErrors})});
  for (auto& c : o.Counters) c.Type = LRAW;
  return o;
}

TEST_F(Collection, AdapterErrorsAreIntervalDeltas) {
  Collect({Adapter(1000, 5, 1)}, {Adapter(6000, 8, 3)});
  ASSERT_EQ(Tables.Adapters.size(), 1u);
  TAdapterInfo& a = *Tables.Adapters[0];
  EXPECT_TRUE(a.Active);
  EXPECT_EQ(a.IntervalBytes, 5000);
  EXPECT_EQ(a.Bandwidth, 1000000000);
  EXPECT_DOUBLE_EQ(a.PacketRateAvg.LastValue(), 80);
  EXPECT_DOUBLE_EQ(a.ErrorRateAvg.LastValue(), 5);  // 3 + 2, a count not a rate

  // An error count that moved by more than 32 bits hold is refused, not wrapped.
  EXPECT_THROW(Collect({Adapter(0, 0, 0)}, {Adapter(0, 1LL << 33, 0)}), platform::ERangeError);
}

TEST_F(Collection, DisksAndAdaptersNewInTheBlockBringNoHistory) {
  const auto disks = [](std::vector<PerfInstanceSpec> volumes) {
    volumes.push_back(Inst("_Total", {40, 900, 3, 30, 4000, 70}));
    return Object(
        kObjLogicalDisk,
        {kFreeSpace, kFreeMegabytes, kDiskQueueLength, kDiskTransfers, kDiskBytes, kDiskIdleTime},
        std::move(volumes));
  };
  const auto adapters = [](std::vector<PerfInstanceSpec> links) {
    PerfObjectSpec o = Object(
        kObjNetworkInterface,
        {kBytesTotal, kPackets, kCurrentBandwidth, kPacketsReceivedErrors, kPacketsOutboundErrors},
        std::move(links));
    for (auto& c : o.Counters) c.Type = LRAW;
    return o;
  };
  const auto sda = Inst("sda1", {40, 900, 2, 30, 4000, 30});
  const auto eth = Inst("eth0", {1000, 80, 1000000000, 0, 0});
  // sdb1 was mounted and wlan0 came up since the previous block, each with a long history.
  Collect({disks({sda}), adapters({eth})},
          {disks({sda, Inst("sdb1", {40, 900, 0, 0, 0, 0})}),
           adapters({eth, Inst("wlan0", {5000000000, 9, 1000000000, 1LL << 40, 0})})});
  ASSERT_EQ(Tables.Disks.size(), 2u);
  EXPECT_EQ(Tables.Disks[1]->Name, "sdb1");
  EXPECT_EQ(Tables.Disks[1]->BusyPercentAvg.SampleCount(), 0) << "not 100 % busy";
  EXPECT_DOUBLE_EQ(Tables.Disks[0]->BusyPercentAvg.LastValue(), 70);
  ASSERT_EQ(Tables.Adapters.size(), 2u);
  TAdapterInfo& wlan = *Tables.Adapters[1];
  EXPECT_EQ(wlan.Name, "wlan0");
  EXPECT_EQ(wlan.IntervalBytes, 0) << "its total is no traffic of this interval";
  EXPECT_DOUBLE_EQ(wlan.ErrorRateAvg.LastValue(), 0);
}

TEST_F(Collection, AnAdapterWithoutASpeedHasTheAssumedBandwidth) {
  const auto adapter = [](std::int64_t bandwidth) {
    PerfObjectSpec o = Object(
        kObjNetworkInterface,
        {kBytesTotal, kPackets, kCurrentBandwidth, kPacketsReceivedErrors, kPacketsOutboundErrors},
        {Inst("ens3", {1000, 80, bandwidth, 0, 0})});
    for (auto& c : o.Counters) c.Type = LRAW;
    return o;
  };
  Collect({adapter(0)});
  TAdapterInfo& a = *Tables.Adapters[0];
  EXPECT_EQ(a.Bandwidth, 1000000000) << "1 Gbit/s unless the settings say otherwise";
  Settings.AssumedBandwidth = 54000000;
  Collect({adapter(0)});
  EXPECT_EQ(a.Bandwidth, 54000000);
  Collect({adapter(866700000)});
  EXPECT_EQ(a.Bandwidth, 866700000) << "a reported speed stands";
}

TEST_F(Collection, OtherObjectsAreSkipped) {
  PerfObjectSpec other = Object(999, {1, 2, 3}, {Inst("x", {1, 2, 3}), Inst("y", {4, 5, 6})});
  const CounterVisitor visit = Visitor();
  int visits = 0;
  PerfBlockSpec b;
  b.Objects = {other};
  reader->LoadBlocks(BuildPerfBlock(b), BuildPerfBlock(b));
  reader->ForEachCounter([&](TObjectType& o, TInstance* i, bool last, TCounter& c) {
    ++visits;
    return visit(o, i, last, c);
  });
  EXPECT_EQ(visits, 2);  // the first counter of each instance only
  EXPECT_EQ(Tables.Processes.size(), 3u);
}

TEST(CollectQuery, NamesTheSevenObjects) {
  EXPECT_STREQ(CollectQueryText, "2 4 238 230 232 236 510 ");
}

}  // namespace
}  // namespace ombrix
