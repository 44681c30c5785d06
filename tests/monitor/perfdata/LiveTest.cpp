// Two samples of this machine through the Linux provider: plausible figures.
#include <gtest/gtest.h>
#include <unistd.h>

#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/monitor/perfdata/PerfTestBlocks.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;
using namespace platform;

TEST(StatisticsLive, TwoSamplesOfThisMachineArePlausible) {
  TPerformanceData reader;
  reader.QueryText = "2 4 238 230 232 236 510 ";
  ASSERT_TRUE(reader.Sample());
  volatile double spin = 0;
  for (int i = 0; i < 20'000'000; ++i) spin = spin + i;  // some processor time of our own
  usleep(200'000);
  ASSERT_TRUE(reader.Sample());
  EXPECT_GT(reader.IntervalSeconds(), 0.1);
  EXPECT_EQ(reader.NameOf(238), "Processor");
  const auto v = Walk(reader);
  const Visit* busy = Find(v, kObjProcessor, "_Total", kProcessorTime);
  ASSERT_NE(busy, nullptr);
  EXPECT_GE(busy->Value, 0.0);
  EXPECT_LE(busy->Value, 100.0);
  const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
  bool found = false;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i].Object != kObjProcess || v[i].Counter != kIdProcess || v[i].Raw != pid) continue;
    found = true;
    EXPECT_EQ(v[i].Instance, "perfdata_tests");
    const Visit* ws = Find(v, kObjProcess, v[i].Instance, kWorkingSet);
    ASSERT_NE(ws, nullptr);
    EXPECT_GT(ws->Raw, 0);
  }
  EXPECT_TRUE(found);
  const Visit* avail = Find(v, kObjMemory, "-", kAvailableBytes);
  ASSERT_NE(avail, nullptr);
  const std::uint64_t physical = reader.PhysicalMemoryBytes();
  EXPECT_GT(avail->Raw, 0);
  EXPECT_LE(static_cast<std::uint64_t>(avail->Raw), physical);
  const Visit* root = Find(v, kObjLogicalDisk, "/", kFreeSpace);
  if (root) {
    EXPECT_GT(root->Value, 0.0);
    EXPECT_LE(root->Value, 100.0);
  }
  EXPECT_NE(Find(v, kObjLogicalDisk, "_Total", kFreeSpace), nullptr);
  EXPECT_NE(Find(v, kObjSystem, "-", kProcessorQueueLength), nullptr);
}

}  // namespace
}  // namespace ombrix
