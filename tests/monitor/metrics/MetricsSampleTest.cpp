// The sample builder over tables made by hand: how long a process name's counters outlive its
// processes, and which files and sockets make the top of a sample.
#include <gtest/gtest.h>

#include <mutex>

#include "monitor/metrics/MetricsSample.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ScopedSettings.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;

class MetricsSample : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings.Smooth = false;
    clock.Set(50000);
  }
  std::shared_ptr<const TMetricsSample> Build(TSampleBuilder& builder, double seconds) {
    return builder.Build({tables, {}, {}, 2, seconds});
  }
  TProcessInfo* Process(std::uint32_t pid, const std::string& name, double cpuPercent) {
    TProcessInfo* p = tables.FindOrCreateProcess(pid, name);
    p->ProcessorAvg.Add(cpuPercent);
    p->Touch(true);
    return p;
  }
  TFileInfo* File(std::uint32_t pid, std::uint32_t object, const std::string& path, int bytes) {
    TFileInfo* f = tables.FindOrCreateFile(pid, object);
    f->SetName(path);
    f->AddDiskIo(0, static_cast<std::uint32_t>(bytes), 10);
    return f;
  }

  ombrix::testing::ScopedSettings settings_{TSettings{}};
  std::lock_guard<std::recursive_mutex> lock{ModelLock};
  FakeClock clock;
  TEntityTables tables;
};

TEST_F(MetricsSample, AProcessNamesCountersOutliveItsProcessesForFiveMinutes) {
  TSampleBuilder builder(10);
  Process(5, "job", 50);
  auto sample = Build(builder, 10);
  ASSERT_EQ(sample->Groups.size(), 1u);
  EXPECT_DOUBLE_EQ(sample->Groups[0].CpuSeconds, 10);  // half of two processors for 10 s

  tables.FindProcess(5)->Touch(false);  // ended: no longer in the sample's walk
  for (double idle : {100, 200, 299}) {
    sample = Build(builder, idle == 299 ? 99 : 100);
    ASSERT_EQ(sample->Groups.size(), 1u) << idle;
    EXPECT_EQ(sample->Groups[0].Processes, 0);
    EXPECT_DOUBLE_EQ(sample->Groups[0].CpuSeconds, 10);
  }
  EXPECT_TRUE(Build(builder, 1)->Groups.empty());  // 300 s without a process
}

TEST_F(MetricsSample, CountersNeverGoBack) {
  TSampleBuilder builder(10);
  TProcessInfo* p = Process(5, "job", 50);
  p->IoByteRateAvg.Add(100);
  Build(builder, 1);
  p->ProcessorAvg.Add(-3);  // a counter the kernel restarted gives a negative difference
  p->IoByteRateAvg.Add(-100);
  const auto sample = Build(builder, 1);
  EXPECT_DOUBLE_EQ(sample->Groups[0].CpuSeconds, 1);
  EXPECT_DOUBLE_EQ(sample->Groups[0].IoBytes, 100);
}

TEST_F(MetricsSample, TopFilesAreTheBusiestPathsPerProcessName) {
  Process(7, "writer", 0);
  Process(8, "reader", 0);
  for (int k = 1; k <= 12; ++k) File(7, k, "/d/f" + std::to_string(k), k * 100);
  // Two file objects of one path and process are one series, with their traffic together.
  File(7, 20, "/d/same", 650);
  File(7, 21, "/d/same", 650);
  File(8, 22, "/d/same", 50);  // another process: a series of its own
  clock.Advance(1000);
  tables.CloseIntervals();

  TSampleBuilder builder(3);
  const auto sample = Build(builder, 1);
  ASSERT_EQ(sample->Files.size(), 3u);
  EXPECT_EQ(sample->Files[0].Path, "/d/same");
  EXPECT_EQ(sample->Files[0].Process, "writer");
  EXPECT_DOUBLE_EQ(sample->Files[0].BytesPerSecond, 1300);
  EXPECT_DOUBLE_EQ(sample->Files[0].TransfersPerSecond, 2);
  EXPECT_EQ(sample->Files[1].Path, "/d/f12");
  EXPECT_EQ(sample->Files[2].Path, "/d/f11");

  TSampleBuilder all(100);
  EXPECT_EQ(Build(all, 1)->Files.size(), 14u);
}

TEST_F(MetricsSample, TopSocketsAreTheBusiestRemoteEndsPerServiceAndProcess) {
  Process(7, "browser", 0);
  Process(9, "browser", 0);
  Process(8, "mail", 0);
  // Two processes of one name talking to one remote end: one series.
  tables.FindOrCreateSocket(7, 0x0A000001, 40123)->AddPacket(3000);
  tables.FindOrCreateSocket(9, 0x0A000001, 40123)->AddPacket(1000);
  tables.FindOrCreateSocket(8, 0x0A000002, 40125)->AddPacket(5000);
  tables.FindOrCreateSocket(8, 0x0A000002, 40126)->AddPacket(100);
  clock.Advance(2000);
  tables.CloseIntervals();

  TSampleBuilder builder(2);
  const auto sample = Build(builder, 2);
  ASSERT_EQ(sample->Sockets.size(), 2u);
  EXPECT_EQ(sample->Sockets[0].Process, "mail");
  EXPECT_DOUBLE_EQ(sample->Sockets[0].BytesPerSecond, 2500);
  EXPECT_EQ(sample->Sockets[1].Remote, "10.0.0.1");
  EXPECT_EQ(sample->Sockets[1].Service, "40123");
  EXPECT_EQ(sample->Sockets[1].Process, "browser");
  EXPECT_DOUBLE_EQ(sample->Sockets[1].BytesPerSecond, 2000);
  EXPECT_DOUBLE_EQ(sample->Sockets[1].PacketsPerSecond, 1);
}

}  // namespace
}  // namespace ombrix
