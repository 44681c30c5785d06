// The core's start-up, tick, sweep, expiry, socket seeding and error handling against
// scripted performance data and a settable clock.
#include <gtest/gtest.h>
#include <optional>

#include <thread>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/history/HistoryRecorder.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/perfdata/Statistics.h"
#include "monitor/shell/CoreFigures.h"
#include "platform/kernelevents/EventBackend.h"
#include "platform/network/NetworkInfo.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/monitor/shell/CoreFixture.h"
#include "tests/support/FakeProbes.h"
#include "tests/support/LiveWorkload.h"
#include "tests/support/ScopedPlatform.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;
using namespace platform;

TEST_F(CoreFixture, StartUpBuildsTheModelAndTheWindowSteps) {
  Start();
  EXPECT_TRUE(frontEnd.Errors.empty());
  EXPECT_EQ(frontEnd.Calls, (std::vector<std::string>{"tray", "window"}));
  EXPECT_EQ(core->PerformanceData()->QueryText, "2 4 238 230 232 236 510 ");
  EXPECT_EQ(source.Queries.size(), 1u);  // one first block before the first tick
  ASSERT_EQ(core->Tables.Processes.size(), 3u);
  EXPECT_EQ(core->Tables.Processes[0]->Name, "_Idle");
  EXPECT_EQ(core->Tables.Processes[1]->Name, "_Interrupts");
  EXPECT_EQ(core->Tables.Processes[2]->Name, "_DPCs");
  EXPECT_EQ(core->IdleProcess, core->Tables.Processes[0].get());
  EXPECT_EQ(core->ProcessorCount, 1);
  EXPECT_EQ(core->Memory.TotalBytes,
            static_cast<std::int64_t>(core->PerformanceData()->PhysicalMemoryBytes()));
  EXPECT_NE(core->AddressTable(), nullptr);
  EXPECT_EQ(core->Tables.AddressTable, core->AddressTable());
}

TEST_F(CoreFixture, TickRunsItsStepsInOrder) {
  Start({10}, 2);
  frontEnd.Calls.clear();
  Tick({10}, 2);
  EXPECT_EQ(frontEnd.Calls, (std::vector<std::string>{"indicators", "figures", "icons", "grid"}));
  EXPECT_EQ(core->ProcessorCount, 2);  // from the Processor object's instances
  EXPECT_EQ(core->IntervalAverage()->SampleCount(), 1);
  ASSERT_NE(core->Tables.FindProcess(10), nullptr);
  EXPECT_DOUBLE_EQ(core->Tables.FindProcess(10)->ProcessorAvg.LastValue(), 2);
  EXPECT_TRUE(frontEnd.Errors.empty());
}

TEST_F(CoreFixture, FinishedProcessesLeaveWithTheirFilesAndSockets) {
  Start({10, 20});
  Tick({10, 20});
  {
    std::lock_guard lock(ModelLock);
    TEntityTables& t = core->Tables;
    t.FindOrCreateFile(10, 1);
    TFileInfo* gone = t.FindOrCreateFile(20, 2);
    t.FindOrCreateFile(20, 3);
    t.FindOrCreateSocket(10, 0x7F000001, 80);
    t.FindOrCreateSocket(20, 0x7F000001, 443);
    t.Rows = {gone, t.FindProcess(20)};
    t.SelectedEntity = gone;
    t.FilterProcess = t.FindProcess(20);
  }
  Tick({10});
  std::lock_guard lock(ModelLock);
  TEntityTables& t = core->Tables;
  EXPECT_EQ(t.FindProcess(20), nullptr);
  ASSERT_NE(t.FindProcess(10), nullptr);
  ASSERT_EQ(t.Files.size(), 1u);
  EXPECT_EQ(t.Files[0]->ProcessId, 10u);
  ASSERT_EQ(t.Sockets.size(), 1u);
  EXPECT_EQ(t.Sockets[0]->ProcessId, 10u);
  EXPECT_TRUE(t.Rows.empty());
  EXPECT_EQ(t.SelectedEntity, nullptr);
  EXPECT_EQ(t.FilterProcess, nullptr);
  EXPECT_EQ(t.Processes.size(), 4u);  // the pseudo processes stay
}

TEST_F(CoreFixture, FirstTickExpiresAndTheNextExpiryFollowsTheOldestEntry) {
  clock.Set(1000000);
  Start({10});
  {
    std::lock_guard lock(ModelLock);
    TEntityTables& t = core->Tables;
    t.FindOrCreateFile(10, 1)->LastActivity = 1000000 - 400000;  // idle too long
    t.FindOrCreateFile(10, 2)->LastActivity = 1000000 - 100000;
    t.FindOrCreateSocket(10, 1, 1)->LastActivity = 1000000 - 300000;  // exactly the limit
  }
  Tick({10});
  {
    std::lock_guard lock(ModelLock);
    TEntityTables& t = core->Tables;
    ASSERT_EQ(t.Files.size(), 1u);
    EXPECT_EQ(t.Files[0]->FileObject, 2u);
    EXPECT_TRUE(t.Sockets.empty());
    // The files' pass scheduled the kept file's expiry; the empty socket pass kept it.
    EXPECT_EQ(t.NextPruneTick, 1000000u + 200000u);
  }
  clock.Set(1000000 + 199999);
  Tick({10});
  EXPECT_EQ(core->Tables.Files.size(), 1u);  // not due yet
  clock.Set(1000000 + 200000);
  Tick({10});
  EXPECT_TRUE(core->Tables.Files.empty());
  EXPECT_EQ(core->Tables.NextPruneTick, 1000000u + 200000u + 300000u);  // nothing left
}

TEST_F(CoreFixture, AnErrorThatRepeatsEveryTickOpensOneBoxAtATime) {
  Start({10});
  source.QueryError = 2;  // every sample fails from now on
  int nested = 0;
  bool lockFree = false;
  frontEnd.WhileOpen = [&] {
    // The timer keeps firing while the box is open.
    if (nested++ == 0) {
      std::thread([&] {
        if (ModelLock.try_lock()) {
          lockFree = true;
          ModelLock.unlock();
        }
      }).join();
      core->RunTick();
      core->RunTick();
      core->RunTick();
    }
  };
  core->RunTick();
  EXPECT_EQ(frontEnd.Errors.size(), 1u);
  EXPECT_EQ(logged.size(), 3u);
  EXPECT_TRUE(lockFree) << "the box must not hold the model lock";
  EXPECT_EQ(frontEnd.Errors[0], "RegQueryValueEx call error = 2");
  // Once the box is closed, the next error opens a new one.
  core->RunTick();
  EXPECT_EQ(frontEnd.Errors.size(), 2u);
  // And a working sample afterwards ticks normally.
  source.QueryError = 0;
  frontEnd.Calls.clear();
  Tick({10});
  EXPECT_EQ(frontEnd.Calls.back(), "grid");
}

TEST_F(CoreFixture, AFailingFirstSampleIsReportedAndStartUpGoesOn) {
  source.QueryError = 5;
  core = std::make_unique<TMonitorCore>(frontEnd, nullptr, [] { return nullptr; });
  core->Start();
  ASSERT_EQ(frontEnd.Errors.size(), 1u);
  EXPECT_EQ(frontEnd.Errors[0], "RegQueryValueEx call error = 5");
  EXPECT_EQ(frontEnd.Calls, (std::vector<std::string>{"tray", "window"}));
  EXPECT_NE(core->DpcsProcess, nullptr);
  EXPECT_NE(core->IntervalAverage(), nullptr);
}

TEST_F(CoreFixture, ATraceRequestWritesTheSampleAndTheMemoryReportOnce) {
  TempDir dir;
  Start({10});
  TraceFile.Close();
  TraceFile.SetFileName(dir.File("trace.txt"));
  core->RequestTrace();
  EXPECT_EQ(frontEnd.Status, "Single sample trace has been enabled");
  Tick({10});
  EXPECT_EQ(frontEnd.Status, "Sample has been written to \"trace.txt\"");
  EXPECT_FALSE(core->PerformanceData()->TraceRequest);
  frontEnd.Status.clear();
  Tick({10});
  EXPECT_TRUE(frontEnd.Status.empty());
  TraceFile.Close();
  const std::string text = dir.Read("trace.txt");
  const auto report = text.find("**** Internal Memory Info ****");
  ASSERT_NE(report, std::string::npos);
  EXPECT_EQ(text.find("**** Internal Memory Info ****", report + 1), std::string::npos);
  EXPECT_NE(text.find("**** end Internal Memory Info ****"), std::string::npos);
  EXPECT_GT(report, 0u);  // after the sample's dump
}

// A table of rows in the 24-byte layout, addresses and ports in network byte order.
std::vector<std::uint8_t> TcpTable(const std::vector<platform::TcpRow>& rows, std::uint32_t count) {
  std::vector<std::uint8_t> b(4 + rows.size() * sizeof(platform::TcpRow));
  std::memcpy(b.data(), &count, 4);
  if (!rows.empty()) std::memcpy(b.data() + 4, rows.data(), rows.size() * sizeof rows[0]);
  return b;
}

platform::TcpRow Row(std::uint32_t state, std::uint32_t remote, std::uint16_t port,
                     std::uint32_t pid) {
  return {state, 0, 0, platform::HostToNetwork32(remote), platform::HostToNetwork16(port), pid};
}

TEST_F(CoreFixture, SocketsAreSeededFromEstablishedConnections) {
  Start({10});
  // Owner 0: another user's connection, whose process we may not see.
  const auto table = TcpTable({Row(5, 0x0A000001, 443, 10), Row(2, 0x0A000002, 80, 10),
                               Row(5, 0x0A000003, 22, 30), Row(5, 0x0A000004, 25, 0)},
                              4);
  core->SeedSocketsFrom(table.data(), static_cast<std::uint32_t>(table.size()));
  std::lock_guard lock(ModelLock);
  TEntityTables& t = core->Tables;
  ASSERT_EQ(t.Sockets.size(), 2u);  // the listening row and the unknown owner are left out
  EXPECT_FALSE(core->InterruptsProcess->SawNetwork) << "no pseudo process takes it in";
  TSocketInfo& s = *t.Sockets[0];
  EXPECT_EQ(s.ProcessId, 10u);
  EXPECT_EQ(s.RemoteAddress, 0x0A000001u);
  EXPECT_EQ(s.RemotePort, 443);
  EXPECT_TRUE(s.Active);
  ASSERT_NE(s.Process, nullptr);
  EXPECT_TRUE(s.Process->SawNetwork);
  ASSERT_NE(t.FindProcess(30), nullptr);
  EXPECT_TRUE(t.FindProcess(30)->SawNetwork);
}

// Processor, Process and Thread objects with one process of one thread.
std::vector<std::uint8_t> ThreadBlock(std::int64_t time, std::uint32_t pid, std::int64_t switches) {
  PerfBlockSpec b;
  b.PerfTime = time;
  const auto object = [](std::uint32_t index, std::vector<std::uint32_t> counters,
                         PerfInstanceSpec instance) {
    PerfObjectSpec o;
    o.Index = index;
    for (std::uint32_t c : counters) o.Counters.push_back({c, kRaw});
    o.HasInstances = true;
    o.Instances = {std::move(instance)};
    return o;
  };
  b.Objects = {
      object(kObjProcessor, {kProcessorTime}, {"_Total", {10}}),
      object(kObjProcess, {kProcessorTime, kIdProcess}, {"app", {4, pid}}),
      object(kObjThread, {kContextSwitches, kIdProcess, kIdThread}, {"app/1", {switches, pid, 1}})};
  return BuildPerfBlock(b);
}

TEST_F(CoreFixture, ContextSwitchesAreRatesOverTheIntervalTheyWereCountedIn) {
  constexpr std::uint32_t pid = 4100000;
  source.Blocks.push_back(ThreadBlock(1000, pid, 1000));
  core = std::make_unique<TMonitorCore>(frontEnd, nullptr, [] { return nullptr; });
  core->Start();
  // The first tick makes the entity, two seconds after the first block.
  clock.Advance(2000);
  source.Blocks.push_back(ThreadBlock(3000, pid, 2780));
  core->RunTick();
  std::lock_guard lock(ModelLock);
  TProcessInfo* p = core->Tables.FindProcess(pid);
  ASSERT_NE(p, nullptr);
  EXPECT_DOUBLE_EQ(p->ContextSwitchRateAvg.LastValue(), 890) << "1780 switches in 2 seconds";
  clock.Advance(1000);
  source.Blocks.push_back(ThreadBlock(4000, pid, 3780));
  core->RunTick();
  EXPECT_DOUBLE_EQ(p->ContextSwitchRateAvg.LastValue(), 1000);
  EXPECT_TRUE(frontEnd.Errors.empty());
}

TEST_F(CoreFixture, ATcpTableClaimingMoreRowsThanItHoldsIsCut) {
  Start();
  auto table = TcpTable({Row(5, 1, 1, 10), Row(5, 2, 2, 10)}, 1000000);
  core->SeedSocketsFrom(table.data(), static_cast<std::uint32_t>(table.size()) - 1);
  EXPECT_EQ(core->Tables.Sockets.size(), 1u);  // the second row is one byte short
  core->SeedSocketsFrom(table.data(), 3);      // not even a count
  EXPECT_EQ(core->Tables.Sockets.size(), 1u);
}

// Each tick leaves its figures and its busiest processes in the history, stamped by the
// recorder's clock; a tick that fails leaves nothing.
TEST_F(CoreFixture, EachTickIsRecordedInTheHistory) {
  TempDir dir;
  Start({10, 20});
  std::int64_t wall = 1713999960000;
  core->StartHistory(dir.File("Ombrix.history"), [&wall] { return wall; });
  Tick({10, 20});
  wall += 1000;
  Tick({10, 20});
  wall += 1000;
  source.Blocks.push_back({1, 2, 3});  // a block too short to read: the tick fails
  core->RunTick();
  const_cast<THistoryRecorder*>(core->History())->Flush();
  ASSERT_EQ(frontEnd.Errors.size(), 1u);
  const std::vector<THistorySample> recorded =
      THistoryStore(core->HistoryPath(), THistoryStore::TAccess::Read).Samples(0, INT64_MAX, true);
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[1].Time, 1713999961000);
  std::lock_guard lock(ModelLock);
  EXPECT_DOUBLE_EQ(recorded[1].Mean.Processor, CoreFigures(*core).CpuInuse);
  ASSERT_GE(recorded[1].Consumers.size(), 2u);
  EXPECT_EQ(recorded[1].Consumers[0].Kind, TConsumerKind::Processor);
  EXPECT_EQ(recorded[1].Consumers[0].Name, "p20");  // the later of two equals, as the view
  EXPECT_EQ(recorded[1].Consumers[0].ProcessId, 20u);
  EXPECT_DOUBLE_EQ(recorded[1].Consumers[0].Value,
                   core->Tables.FindProcess(20)->ProcessorAvg.Mean());
}

// A probe that stops mid-session: the source falls back to polling by itself, and the next tick
// tells the user once, not at every tick after.
TEST_F(CoreFixture, AProbeThatStopsServingIsReportedOnceAtTheNextTick) {
  Start({10});
  FakeProbes probes;
  std::optional<ScopedProbe> probe(std::in_place, probes.Path("exits"));
  platform::PreferredEventSource events;
  ASSERT_TRUE(events.Open(platform::EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened);
  std::vector<platform::EventRecord> records;
  ASSERT_TRUE(WaitUntil([&] {
    events.Poll(records);
    return platform::EventSourceStats().Faults == 1;
  }));
  probe.reset();
  Tick({10});
  Tick({10});
  ASSERT_EQ(frontEnd.Errors.size(), 1u);
  EXPECT_EQ(frontEnd.Errors[0],
            "Kernel events: probe: stopped (exit status 7); watching by polling from now on");
}

}  // namespace
}  // namespace ombrix
