// The reader: construction, name tables, sampling with buffer growth, the walk and its
// positional matching, and blocks damaged on purpose.
#include <gtest/gtest.h>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/monitor/perfdata/PerfTestBlocks.h"
#include "tests/support/PerfBlockSource.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;
using namespace platform;

PerfBlockSpec TwoObjects(std::int64_t time, std::int64_t rawA, std::int64_t rawB) {
  PerfBlockSpec b;
  b.PerfTime = time;
  PerfObjectSpec system;
  system.Index = kObjSystem;
  system.Counters = {{kProcessorQueueLength, RAW}, {kContextSwitches, BULK}};
  system.Values = {rawA, rawB};
  PerfObjectSpec memory;
  memory.Index = kObjMemory;
  memory.Counters = {{kAvailableBytes, LRAW}};
  memory.Values = {rawB};
  b.Objects = {system, memory};
  return b;
}

TEST(StatisticsConstruction, LocalMachineNamesAndQueryText) {
  FakePerfSource source;
  TPerformanceData reader("LocalHost");
  EXPECT_EQ(reader.MachineName(), "localhost");
  EXPECT_EQ(source.LastMachine, "");  // the local key needs no connection
  EXPECT_EQ(reader.QueryText, "Global ");
  EXPECT_EQ(reader.LastError(), 0u);
  EXPECT_TRUE(reader.CounterNamesLoaded());
  EXPECT_TRUE(reader.HelpTextsLoaded());
  EXPECT_EQ(reader.NameOf(238), "Processor");
  EXPECT_EQ(reader.NameOf(6), "% Processor Time");
  EXPECT_EQ(reader.NameOf(23), "");  // a prefix of "238" is not a match
  EXPECT_EQ(reader.NameOf(999), "");
  EXPECT_EQ(reader.IntervalSeconds(), 0.0);
  EXPECT_EQ(reader.PerfTime(), 0);
  EXPECT_EQ(reader.SystemName(), "");
}

TEST(StatisticsConstruction, FailedConnectionOrNameTableStopsSampling) {
  {
    FakePerfSource source;
    source.ConnectError = 53;
    TPerformanceData reader("OtherBox");
    EXPECT_EQ(source.LastMachine, "otherbox");
    EXPECT_EQ(reader.LastError(), 53u);
    EXPECT_EQ(reader.NameOf(238), "[Name index 238]");
    source.Blocks.push_back(BuildPerfBlock(TwoObjects(1, 1, 1)));
    EXPECT_FALSE(reader.Sample());
    EXPECT_TRUE(source.Queries.empty());
  }
  {
    FakePerfSource source;
    source.NameTableError = 2;
    TPerformanceData reader;
    EXPECT_EQ(reader.LastError(), 2u);
    EXPECT_EQ(reader.NameOf(238), "[Name index 238]");
    EXPECT_FALSE(reader.Sample());
  }
  {
    FakePerfSource source;
    source.NamesQueryError = 5;  // a failed value read is no failure of the reader
    TPerformanceData reader;
    EXPECT_EQ(reader.LastError(), 0u);
    EXPECT_FALSE(reader.CounterNamesLoaded());
    EXPECT_EQ(reader.NameOf(238), "[Name index 238]");
  }
}

TEST(StatisticsConstruction, LargeNameTableIsReadAfterGrowing) {
  FakePerfSource source;
  std::string table;
  for (int i = 0; i < 9000; ++i)
    table += std::to_string(2 * i) + '\0' + "Counter name " + std::to_string(i) + '\0';
  table += '\0';
  ASSERT_GT(table.size(), 65536u * 2);
  source.CounterNames = table;
  TPerformanceData reader;
  EXPECT_EQ(reader.NameOf(17998), "Counter name 8999");
}

TEST(StatisticsSample, GrowsPastTheFirstBufferInFixedStepsAndKeepsTheSize) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec big = TwoObjects(1000, 1, 2);
  big.Padding = 100000;
  const auto bytes = BuildPerfBlock(big);
  source.Blocks = {bytes, bytes};
  ASSERT_TRUE(reader.Sample());
  EXPECT_EQ(source.QuerySizes.front(), 65536u);
  EXPECT_EQ(source.QuerySizes.back(), 65536u + 2 * 32768u);
  EXPECT_EQ(reader.FetchedBytes(), bytes.size());
  EXPECT_EQ(reader.Current().BufferSize(), 65536u + 2 * 32768u);
  ASSERT_TRUE(reader.Sample());
  // The partner block grows on its own first fetch; each block keeps its size afterwards.
  source.Blocks = {bytes};
  const std::size_t before = source.QuerySizes.size();
  ASSERT_TRUE(reader.Sample());
  EXPECT_EQ(source.QuerySizes.size(), before + 1);
  EXPECT_EQ(reader.SampleCount(), 3);
}

TEST(StatisticsSample, QueryErrorRaisesAndLeavesTheBlockInvalid) {
  FakePerfSource source;
  TPerformanceData reader;
  source.Blocks = {BuildPerfBlock(TwoObjects(1000, 1, 2))};
  ASSERT_TRUE(reader.Sample());
  source.QueryError = 5;
  try {
    reader.Sample();
    FAIL() << "no error raised";
  } catch (const EStatisticsError& e) {
    EXPECT_STREQ(e.what(), "RegQueryValueEx call error = 5");
  }
  EXPECT_FALSE(reader.Current().Valid());
  EXPECT_EQ(reader.FetchedBytes(), 0u);
  EXPECT_EQ(reader.LastError(), 0u);  // not updated by a raising fetch
  EXPECT_EQ(reader.Current().LastResult(), 5u);
  int visits = 0;
  reader.ForEachCounter([&](auto&, auto*, bool, auto&) { return ++visits, false; });
  EXPECT_EQ(visits, 0);
}

TEST(StatisticsSample, IntervalSecondsAndBlockTimes) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec a = TwoObjects(5'000'000'000, 1, 2), b = TwoObjects(7'500'000'000, 1, 2);
  b.PerfTime100nSec = 123;
  source.Blocks = {BuildPerfBlock(a), BuildPerfBlock(b)};
  ASSERT_TRUE(reader.Sample());
  EXPECT_EQ(reader.IntervalSeconds(), 0.0);
  ASSERT_TRUE(reader.Sample());
  EXPECT_DOUBLE_EQ(reader.IntervalSeconds(), 2.5);
  EXPECT_EQ(reader.PerfTime(), 7'500'000'000);
  EXPECT_EQ(reader.PerfFreq(), 1'000'000'000);
  EXPECT_EQ(reader.PerfTime100nSec(), 123);
  EXPECT_EQ(reader.SystemName(), "TESTHOST");
}

TEST(StatisticsSample, TraceRequestDumpsEachSampleUntilCleared) {
  TempDir dir;
  TraceFile.Close();
  TraceFile.SetFileName(dir.File("trace.txt"));
  FakePerfSource source;
  TPerformanceData reader;
  source.Blocks = {BuildPerfBlock(TwoObjects(1, 1, 2)), BuildPerfBlock(TwoObjects(2, 1, 2))};
  reader.TraceRequest = true;
  ASSERT_TRUE(reader.Sample());
  ASSERT_TRUE(reader.Sample());
  TraceFile.Close();
  const std::string text = dir.Read("trace.txt");
  const std::string start = "**** PerformanceData Trace ****\r\n";
  ASSERT_EQ(text.find(start), 0u);
  EXPECT_NE(text.find(start, 1), std::string::npos);  // the second dump was appended
  EXPECT_TRUE(reader.TraceRequest);                   // Sample does not clear it
}

TEST(StatisticsWalk, VisitsObjectsInstancesAndCountersWithFlagsAndBases) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec b;
  b.PerfTime = 10;
  PerfObjectSpec none = TwoObjects(0, 7, 8).Objects[0];  // no instances
  PerfObjectSpec empty;
  empty.Index = kObjLogicalDisk;
  empty.Counters = {{kDiskQueueLength, BULK}};
  empty.HasInstances = true;  // zero instances
  PerfObjectSpec procs = ProcessObject({Proc("a", 1, 10, 100), Proc("b", 2, 10, 200)});
  b.Objects = {none, empty, procs};
  source.Blocks = {BuildPerfBlock(b), BuildPerfBlock(b)};
  reader.Sample();
  reader.Sample();
  const auto v = Walk(reader);
  ASSERT_EQ(v.size(), 2u + 2 * 2);
  EXPECT_EQ(v[0].Instance, "-");
  EXPECT_FALSE(v[0].Last);
  EXPECT_TRUE(v[1].Last);
  EXPECT_EQ(v[1].Raw, 8);
  // The base definition is not visited on its own; it rides along with its counter.
  EXPECT_EQ(v[2].Counter, 6u);
  EXPECT_TRUE(v[2].HasBase);
  EXPECT_EQ(v[3].Counter, 784u);
  EXPECT_FALSE(v[3].HasBase);
  EXPECT_TRUE(v[3].Last);
  EXPECT_EQ(v[5].Instance, "b");
  EXPECT_EQ(v[5].Raw, 200);
  int lastFlags = 0;
  for (const Visit& x : v) lastFlags += x.Last;
  EXPECT_EQ(lastFlags, 3);
}

TEST(StatisticsWalk, VisitorStopsTheRestOfAnInstanceAndTagsStartAtMinusOne) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec b;
  b.Objects = {ProcessObject({Proc("a", 1, 10, 100), Proc("b", 2, 10, 200)})};
  source.Blocks = {BuildPerfBlock(b)};
  reader.Sample();
  std::vector<std::string> seen;
  reader.ForEachCounter([&](TObjectType&, TInstance* i, bool, TCounter& c) {
    EXPECT_EQ(i->Tag, -1);
    i->Tag = 7;
    seen.push_back(i->Name() + ":" + std::to_string(c.CounterNameTitleIndex()));
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"a:6", "b:6"}));
}

TEST(StatisticsMatch, ObjectAtAnotherPositionHasNoPrevious) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec before = TwoObjects(1'000'000'000, 5, 100),
                after = TwoObjects(2'000'000'000, 6, 150);
  std::swap(after.Objects[0], after.Objects[1]);
  source.Blocks = {BuildPerfBlock(before), BuildPerfBlock(after)};
  reader.Sample();
  reader.Sample();
  const auto v = Walk(reader);
  ASSERT_EQ(v.size(), 3u);
  for (const Visit& x : v) EXPECT_EQ(x.PreviousRaw, 0) << x.Object << "/" << x.Counter;
  EXPECT_EQ(Find(v, kObjSystem, "-", kContextSwitches)->Value,
            0.0);  // no delta without a previous counter
  EXPECT_EQ(Find(v, kObjSystem, "-", kProcessorQueueLength)->Value,
            6.0);  // a raw count needs no previous
}

TEST(StatisticsMatch, CountersMatchByPositionSoAnInsertedDefinitionShiftsThem) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec before = TwoObjects(1'000'000'000, 5, 100),
                after = TwoObjects(2'000'000'000, 6, 150);
  after.Objects[0].Counters.insert(after.Objects[0].Counters.begin(), {999, RAW});
  after.Objects[0].Values = {1, 6, 150};
  source.Blocks = {BuildPerfBlock(before), BuildPerfBlock(after)};
  reader.Sample();
  reader.Sample();
  const auto v = Walk(reader);
  EXPECT_EQ(Find(v, kObjSystem, "-", kProcessorQueueLength)->PreviousRaw, 0);
  EXPECT_EQ(Find(v, kObjSystem, "-", kContextSwitches)->PreviousRaw, 0);
  EXPECT_EQ(Find(v, kObjMemory, "-", kAvailableBytes)->PreviousRaw,
            150 - 50);  // other objects still match
  // Without the insertion the same counters match and the rate is formed.
  source.Blocks = {BuildPerfBlock(TwoObjects(3'000'000'000, 7, 250))};
  reader.Sample();
  const auto w = Walk(reader);
  EXPECT_EQ(Find(w, 2, "-", 146)->PreviousRaw, 0);  // previous had the inserted counter
  source.Blocks = {BuildPerfBlock(TwoObjects(4'000'000'000, 7, 400))};
  reader.Sample();
  const auto z = Walk(reader);
  EXPECT_EQ(Find(z, 2, "-", 146)->PreviousRaw, 250);
  EXPECT_DOUBLE_EQ(Find(z, 2, "-", 146)->Value, 150.0);
}

TEST(StatisticsMatch, ProcessesOfOneNameAreToldApartByTheirId) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec before, after;
  before.Objects = {ProcessObject({Proc("bash", 100, 1000, 10), Proc("bash", 300, 1000, 20)})};
  after.Objects = {ProcessObject({Proc("bash", 350, 2000, 20), Proc("bash", 150, 2000, 10)})};
  source.Blocks = {BuildPerfBlock(before), BuildPerfBlock(after)};
  reader.Sample();
  reader.Sample();
  const auto v = Walk(reader);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].PreviousRaw, 300);  // pid 20
  EXPECT_DOUBLE_EQ(v[0].Value, 5.0);
  EXPECT_EQ(v[2].PreviousRaw, 100);  // pid 10
  EXPECT_DOUBLE_EQ(v[2].Value, 5.0);
}

TEST(StatisticsMatch, OtherObjectsMatchTheFirstInstanceOfTheName) {
  FakePerfSource source;
  TPerformanceData reader;
  auto disks = [](std::int64_t first, std::int64_t second) {
    PerfBlockSpec b;
    PerfObjectSpec o;
    o.Index = kObjLogicalDisk;
    o.Counters = {{kDiskTransfers, RAW},
                  {kIdProcess, RAW}};  // 784 is an id only in Process and Thread
    o.HasInstances = true;
    o.Instances = {{"/", {first, 1}}, {"/", {second, 2}}};
    b.Objects = {o};
    return BuildPerfBlock(b);
  };
  source.Blocks = {disks(10, 20), disks(30, 40)};
  reader.Sample();
  reader.Sample();
  const auto v = Walk(reader);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].PreviousRaw, 10);
  EXPECT_EQ(v[2].PreviousRaw, 10);
  EXPECT_EQ(v[3].PreviousRaw, 1);
}

// Many instances: the same first-match rules hold with duplicates spread over the object.
TEST(StatisticsMatch, LargeObjectsKeepTheFirstMatchRules) {
  FakePerfSource source;
  TPerformanceData reader;
  auto block = [](std::int64_t time, std::int64_t add) {
    PerfBlockSpec b;
    b.PerfTime = time;
    std::vector<PerfInstanceSpec> procs;
    PerfObjectSpec disks;
    disks.Index = kObjLogicalDisk;
    disks.Counters = {{kDiskTransfers, RAW}};
    disks.HasInstances = true;
    for (int i = 0; i < 40; ++i) {
      // Forty processes of two names, pids in reverse order in the later block.
      const std::int64_t pid = add == 0 ? 1000 + i : 1039 - i;
      procs.push_back(Proc(pid % 2 ? "odd" : "even", pid * 10 + add, 100 + add, pid));
      disks.Instances.push_back({i % 3 ? "/" : "/home", {i + add}});
    }
    b.Objects = {ProcessObject(procs), disks};
    return BuildPerfBlock(b);
  };
  source.Blocks = {block(1, 0), block(2, 50)};
  reader.Sample();
  reader.Sample();
  const auto v = Walk(reader);
  int processes = 0, disks = 0;
  for (const Visit& x : v) {
    if (x.Object == kObjProcess && x.Counter == kProcessorTime) {
      const std::int64_t pid = (x.Raw - 50) / 10;
      EXPECT_EQ(x.PreviousRaw, pid * 10) << x.Instance;  // the same process, found by its id
      EXPECT_DOUBLE_EQ(x.Value, 100.0 * 50 / 50);
      ++processes;
    }
    if (x.Object == 236) {
      EXPECT_EQ(x.PreviousRaw, x.Instance == "/" ? 1 : 0);  // the first "/" and "/home"
      ++disks;
    }
  }
  EXPECT_EQ(processes, 40);
  EXPECT_EQ(disks, 40);
}

TEST(StatisticsMatch, AProcessWithoutPreviousInstanceHasNoPreviousValues) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec before, after;
  before.PerfTime = 1'000'000'000;
  after.PerfTime = 2'000'000'000;
  before.Objects = {ProcessObject({Proc("init", 100, 1000, 1)})};
  // A long-running program that just appeared (or was exec'd under a new name) must not
  // show its lifetime's processor time as one interval.
  after.Objects = {ProcessObject({Proc("init", 150, 2000, 1), Proc("new", 900, 2000, 77)})};
  source.Blocks = {BuildPerfBlock(before), BuildPerfBlock(after)};
  reader.Sample();
  reader.Sample();
  const auto v = Walk(reader);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_DOUBLE_EQ(v[0].Value, 5.0);
  EXPECT_EQ(v[2].Instance, "new");
  EXPECT_EQ(v[2].Raw, 900);
  EXPECT_EQ(v[2].PreviousRaw, 0);
  EXPECT_EQ(v[2].Value, 0.0);
  EXPECT_EQ(v[3].Value, 77.0);  // raw counts are still reported
}

TEST(StatisticsMatch, FirstWalkAfterOneSampleHasNoPreviousBlock) {
  FakePerfSource source;
  TPerformanceData reader;
  PerfBlockSpec b;
  b.Objects = {ProcessObject({Proc("a", 100, 1000, 1)})};
  source.Blocks = {BuildPerfBlock(b)};
  reader.Sample();
  const auto v = Walk(reader);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].Value, 0.0);
  EXPECT_EQ(v[1].Value, 1.0);
}

// Blocks damaged in every field the walk follows: each must raise, none may crash.
class StatisticsDamage : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> Good() {
    PerfBlockSpec b;
    b.Objects = {TwoObjects(0, 1, 2).Objects[0],
                 ProcessObject({Proc("a", 1, 10, 100), Proc("b", 2, 10, 200)})};
    return BuildPerfBlock(b);
  }
  void ExpectRaises(const std::vector<std::uint8_t>& bad, bool asPrevious = false) {
    FakePerfSource source;
    TPerformanceData reader;
    EXPECT_THROW(
        {
          reader.LoadBlocks(asPrevious ? bad : Good(), asPrevious ? Good() : bad);
          Walk(reader);
        },
        EStatisticsError);
  }
  std::size_t header = 0, system = 0, process = 0, firstInstance = 0;
  void SetUp() override {
    const auto g = Good();
    header = GetU32(g, 24);
    system = header;
    process = system + GetU32(g, system);
    firstInstance = process + GetU32(g, process + 4);
  }
};

TEST_F(StatisticsDamage, GoodBlockWalks) {
  FakePerfSource source;
  TPerformanceData reader;
  reader.LoadBlocks(Good(), Good());
  EXPECT_EQ(Walk(reader).size(), 2u + 4u);
}

TEST_F(StatisticsDamage, ShortHeaderObjectCountsAndLengths) {
  auto b = Good();
  b.resize(60);
  ExpectRaises(b);
  b = Good();
  PutU32(b, 28, 50);  // more objects than the block holds
  ExpectRaises(b);
  b = Good();
  PutU32(b, 24, 0xFFFFFFF0);  // header length beyond the block
  ExpectRaises(b);
  b = Good();
  PutU32(b, system, 0);  // an object that would never advance
  ExpectRaises(b);
  b = Good();
  PutU32(b, process, 0x7FFFFFFF);
  ExpectRaises(b, true);  // the previous block is checked as well
}

TEST_F(StatisticsDamage, DefinitionsInstancesNamesAndValues) {
  auto b = Good();
  PutU32(b, process + 32, 1000);  // NumCounters beyond the definitions
  ExpectRaises(b);
  b = Good();
  PutU32(b, process + 64, 3);  // a definition of 3 bytes
  ExpectRaises(b);
  b = Good();
  PutU32(b, process + 64 + 36, 0xFFFFFFFC);  // counter offset outside its counter block
  ExpectRaises(b);
  b = Good();
  PutU32(b, process + 40, 0xFFFFFFFB);  // NumInstances -5
  ExpectRaises(b);
  b = Good();
  PutU32(b, process + 40, 40);  // more instances than the object holds
  ExpectRaises(b);
  b = Good();
  PutU32(b, firstInstance + 20, 0x10000);  // name longer than the object
  ExpectRaises(b);
  b = Good();
  PutU32(b, firstInstance, 2);  // instance shorter than its header
  ExpectRaises(b);
  b = Good();
  PutU32(b, firstInstance + GetU32(b, firstInstance), 0x7FFFFFFF);  // counter block length
  ExpectRaises(b);
  b = Good();
  PutU32(b, system + 4, 0xFFFF);  // definition length beyond the object
  ExpectRaises(b);
}

TEST(StatisticsMemory, PhysicalMemoryFromTheResourceMapAndFootprint) {
  FakePerfSource source;
  std::string map(20 + 3 * 16, '\0');
  auto put = [&](std::size_t at, std::uint32_t v) { std::memcpy(&map[at], &v, 4); };
  put(16, 3);
  put(32, 0xFFFFF000);
  put(48, 0xFFFFF000);
  put(64, 0x1000);
  source.ResourceMap = map;
  TPerformanceData reader;
  EXPECT_EQ(reader.PhysicalMemoryBytes(), 2ull * 0xFFFFF000 + 0x1000);
  put(16, 1000);  // a count that claims more than the value holds
  source.ResourceMap = map;
  EXPECT_EQ(reader.PhysicalMemoryBytes(), 2ull * 0xFFFFF000 + 0x1000);
  const std::uint64_t small = reader.MemoryFootprint();
  EXPECT_GE(small, 2u * 65536 + 2 * 65536);
  PerfBlockSpec big = TwoObjects(1, 1, 1);
  big.Padding = 70000;
  source.Blocks = {BuildPerfBlock(big)};
  reader.Sample();
  EXPECT_EQ(reader.MemoryFootprint(), small + 32768);
  source.ResourceMapError = 2;
  EXPECT_EQ(reader.PhysicalMemoryBytes(), 0u);
  EXPECT_EQ(reader.LastError(), 2u);
  EXPECT_FALSE(reader.Sample());
}

TEST(StatisticsMemory, ProcessImageThroughTheProcessStatusCalls) {
  std::uint32_t module = 0;
  ASSERT_TRUE(EnumProcessModules(static_cast<std::uint32_t>(getpid()), &module));
  std::string path;
  EXPECT_GT(GetModuleFileNameExA(static_cast<std::uint32_t>(getpid()), module, path), 0u);
  EXPECT_NE(path.find("perfdata_tests"), std::string::npos);
  EXPECT_FALSE(EnumProcessModules(0x7FFFFFF0, &module));
}

}  // namespace
}  // namespace ombrix
