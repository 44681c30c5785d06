// Blocks captured from the Linux provider on a real machine (trimmed to a dozen
// processes): the walk sees the expected objects, instances and counters, and the values
// from consecutive captures match hand-computed ones and the recorded ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/monitor/perfdata/PerfTestBlocks.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;
using namespace platform;

std::vector<std::uint8_t> Fixture(const std::string& name) {
  std::ifstream in(std::string(OMBRIX_PERFDATA_FIXTURES) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FixtureText(const std::string& name) {
  const auto bytes = Fixture(name);
  return {bytes.begin(), bytes.end()};
}

TEST(PerfDataGolden, CaptureHoldsTheSevenObjectsInOrder) {
  TPerformanceData reader;
  reader.LoadBlocks(Fixture("block-000.bin"), Fixture("block-001.bin"));
  EXPECT_EQ(reader.SystemName(), "vm");
  std::vector<std::uint32_t> objects;
  std::map<std::uint32_t, std::vector<std::string>> instances;
  std::vector<std::string> processByIndex;
  std::vector<std::int64_t> pidByIndex;
  bool threadsConsistent = true;
  reader.ForEachCounter([&](TObjectType& o, TInstance* i, bool last, TCounter& c) {
    const std::uint32_t index = o.ObjectNameTitleIndex();
    if (objects.empty() || objects.back() != index) objects.push_back(index);
    if (i && c.CounterNameTitleIndex() == o.Counter().CounterNameTitleIndex() && last)
      instances[index].push_back(i->Name());
    if (index == kObjProcess && c.CounterNameTitleIndex() == kIdProcess) {
      processByIndex.push_back(i->Name());
      pidByIndex.push_back(c.RawValue());
    }
    if (index == 232 && c.CounterNameTitleIndex() == 784) {
      // A thread names its process instance and carries its process id.
      const std::uint32_t parent = i->ParentObjectInstance();
      threadsConsistent &=
          i->ParentObjectTitleIndex() == kObjProcess && parent < processByIndex.size() &&
          i->Name().starts_with(processByIndex[parent] + "/") && c.RawValue() == pidByIndex[parent];
    }
    return false;
  });
  EXPECT_EQ(objects,
            (std::vector<std::uint32_t>{kObjSystem, kObjMemory, kObjProcessor, kObjProcess,
                                        kObjThread, kObjLogicalDisk, kObjNetworkInterface}));
  EXPECT_EQ(instances[kObjProcessor], (std::vector<std::string>{"0", "1", "_Total"}));
  ASSERT_EQ(processByIndex.size(), 12u);
  EXPECT_EQ(processByIndex[0], "System");
  EXPECT_EQ(pidByIndex[0], 2);
  EXPECT_EQ(instances[kObjProcess].size(), 12u);
  EXPECT_GT(instances[232].size(), 12u);
  EXPECT_TRUE(threadsConsistent);
  EXPECT_EQ(instances[236], (std::vector<std::string>{"/", "_Total"}));
  EXPECT_EQ(instances[510], (std::vector<std::string>{"ifb0", "ifb1", "eth0"}));  // no "lo"
}

TEST(PerfDataGolden, ValuesMatchHandComputedOnes) {
  TPerformanceData reader;
  reader.LoadBlocks(Fixture("block-000.bin"), Fixture("block-001.bin"));
  // PerfTime 1191026173864 -> 1192039111080 ns.
  const double seconds = (1192039111080.0 - 1191026173864.0) / 1e9;
  EXPECT_DOUBLE_EQ(reader.IntervalSeconds(), seconds);
  const auto v = Walk(reader);
  // Interrupts 562179 -> 562794.
  EXPECT_DOUBLE_EQ(Find(v, kObjProcessor, "_Total", kInterrupts)->Value, 615 / seconds);
  // Idle time unchanged at 6256750000 while the base grew 11883850000 -> 11893950000.
  EXPECT_DOUBLE_EQ(Find(v, kObjProcessor, "_Total", kProcessorIdleTime)->Value, 0.0);
  // Free space: constant numerator 10^6 over the base 1211351.
  EXPECT_DOUBLE_EQ(Find(v, kObjLogicalDisk, "/", kFreeSpace)->Value, 1e8 / 1211351);
  EXPECT_EQ(Find(v, kObjLogicalDisk, "/", kFreeMegabytes)->Value, 80889.0);
  // Transfers 81389 -> 81391; bytes 5708354560 -> 5708690432; queue time +2 ms.
  EXPECT_DOUBLE_EQ(Find(v, kObjLogicalDisk, "/", kDiskTransfers)->Value, 2 / seconds);
  EXPECT_DOUBLE_EQ(Find(v, kObjLogicalDisk, "/", kDiskBytes)->Value, 335872 / seconds);
  EXPECT_DOUBLE_EQ(Find(v, kObjLogicalDisk, "_Total", kDiskQueueLength)->Value,
                   2e6 / (seconds * 1e9));
}

TEST(PerfDataGolden, ValuesOfEveryCounterMatchTheRecordedOnes) {
  for (const char* pair : {"000-001", "001-002"}) {
    const std::string p(pair);
    TPerformanceData reader;
    reader.LoadBlocks(Fixture("block-" + p.substr(0, 3) + ".bin"),
                      Fixture("block-" + p.substr(4, 3) + ".bin"));
    char line[512];
    std::snprintf(line, sizeof line, "IntervalSeconds\t%.15g\n", reader.IntervalSeconds());
    std::string text = line;
    reader.ForEachCounter([&](TObjectType& o, TInstance* i, bool, TCounter& c) {
      std::snprintf(line, sizeof line, "%s\t%s\t%s (%u)\t%s\t%.15g\n", o.ObjectName().c_str(),
                    i ? i->Name().c_str() : "-", c.CounterName().c_str(), c.CounterNameTitleIndex(),
                    CounterTypeName(c.CounterType()).c_str(), c.CounterValue());
      text += line;
      return false;
    });
    EXPECT_EQ(text, FixtureText("values-" + p + ".txt")) << pair;
  }
}

}  // namespace
}  // namespace ombrix
