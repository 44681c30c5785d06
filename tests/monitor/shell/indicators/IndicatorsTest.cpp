#include "monitor/shell/indicators/Indicators.h"

#include <gtest/gtest.h>

#include "monitor/model/Average.h"
#include "monitor/model/Info.h"

namespace {

using namespace ombrix;

const QLocale English(QLocale::English, QLocale::UnitedStates);

TEST(LevelState, RisingScaleTakesAColourOnlyAboveItsLevel) {
  const TThresholdLevels cpu = TSettings().CpuInuse;  // yellow 75, red 90
  EXPECT_EQ(LevelState(0, cpu), stGreen);
  EXPECT_EQ(LevelState(75, cpu), stGreen);
  EXPECT_EQ(LevelState(75.01, cpu), stYellow);
  EXPECT_EQ(LevelState(90, cpu), stYellow);
  EXPECT_EQ(LevelState(90.01, cpu), stRed);
}

TEST(LevelState, FallingScaleTakesAColourOnlyBelowItsLevel) {
  const TThresholdLevels available = TSettings().MemoryMBytes;  // yellow 25, red 5
  EXPECT_EQ(LevelState(1024, available), stGreen);
  EXPECT_EQ(LevelState(25, available), stGreen);
  EXPECT_EQ(LevelState(24.99, available), stYellow);
  EXPECT_EQ(LevelState(5, available), stYellow);
  EXPECT_EQ(LevelState(4.9, available), stRed);
  EXPECT_EQ(LevelState(0, available), stRed);
  // Equal levels count as falling: only a figure below them is red.
  EXPECT_EQ(LevelState(9, {0, 10, 10, 100}), stRed);
  EXPECT_EQ(LevelState(10, {0, 10, 10, 100}), stGreen);
}

class Figures : public ::testing::Test {
 protected:
  void SetUp() override { Settings = TSettings(); }
  TAdapterInfo* Adapter(const std::string& name, std::int64_t bandwidth, std::int64_t bytes,
                        bool active) {
    adapters.push_back(std::make_unique<TAdapterInfo>(nullptr, name));
    TAdapterInfo* a = adapters.back().get();
    a->Bandwidth = bandwidth;
    a->IntervalBytes = bytes;
    a->Active = active;
    return a;
  }
  TIndicatorSources Sources(std::int32_t processors = 1, double seconds = 2.0) {
    return {cpuUsage, cpuQueue, diskBusy, diskQueue, memory, processors, disks, adapters, seconds};
  }

  TAverage cpuUsage, cpuQueue, diskBusy, diskQueue;
  TMemoryInfo memory;
  std::vector<std::unique_ptr<TDiskInfo>> disks;
  std::vector<std::unique_ptr<TAdapterInfo>> adapters;
};

TEST_F(Figures, NetworkBusyCountsOnlyActiveAdaptersThatMovedBytes) {
  Adapter("eth0", 1000000, 25000, true);    // 12,500 B/s = 100,000 b/s
  Adapter("eth1", 1000000, 0, true);        // idle: its bandwidth does not count
  Adapter("wlan0", 1000000, 50000, false);  // not active
  EXPECT_DOUBLE_EQ(NetworkBusy(adapters, 2.0), 10.0);
  EXPECT_DOUBLE_EQ(NetworkBusy(adapters, 0.0), 20.0);  // an empty interval counts as 1 s
  EXPECT_EQ(NetworkBusy({}, 2.0), 0);
  adapters.clear();
  Adapter("lo", 0, 5000, true);  // bytes but no bandwidth reported
  EXPECT_EQ(NetworkBusy(adapters, 2.0), 0);
}

TEST_F(Figures, QueuesAreSharedOutPerProcessorAndPerDisk) {
  cpuQueue.Add(12);
  diskQueue.Add(9);
  EXPECT_DOUBLE_EQ(ComputeFigures(Sources(2)).CpuQueuePerProcessor, 6);
  EXPECT_DOUBLE_EQ(ComputeFigures(Sources(0)).CpuQueuePerProcessor, 12);
  EXPECT_DOUBLE_EQ(ComputeFigures(Sources()).DiskQueuePerDisk, 9);  // no disks: one
  disks.push_back(std::make_unique<TDiskInfo>(nullptr, "sda"));
  disks.push_back(std::make_unique<TDiskInfo>(nullptr, "sdb"));
  disks.push_back(std::make_unique<TDiskInfo>(nullptr, "sdc"));
  EXPECT_DOUBLE_EQ(ComputeFigures(Sources()).DiskQueuePerDisk, 3);
}

TEST_F(Figures, AQueueExactlyAtTheYellowLevelIsStillGreen) {
  cpuQueue.Add(12);
  cpuUsage.Add(10);
  EXPECT_EQ(ComputeStates(ComputeFigures(Sources(2)), Settings).Processor, stGreen);
  cpuQueue.Reset();
  cpuQueue.Add(12.02);
  EXPECT_EQ(ComputeStates(ComputeFigures(Sources(2)), Settings).Processor, stYellow);
}

TEST_F(Figures, MemoryIsJudgedByItsSmallestAvailableSampleAndItsUse) {
  memory.TotalBytes = 8LL << 30;
  memory.AvailableAvg.Add(4.9 * 1048576);
  memory.AvailableAvg.Add(4096.0 * 1048576);
  const TFigures f = ComputeFigures(Sources());
  EXPECT_DOUBLE_EQ(f.MemoryAvailableMB, 4.9);
  EXPECT_EQ(ComputeStates(f, Settings).Memory, stRed);
  TMemoryInfo none;
  const TIndicatorSources empty{cpuUsage, cpuQueue, diskBusy, diskQueue, none,
                                1,        disks,    adapters, 2};
  const TFigures before = ComputeFigures(empty);
  EXPECT_EQ(before.MemoryInuse, 0);
  EXPECT_EQ(ComputeStates(before, Settings).Memory, stRed);  // nothing sampled yet: 0 MB
}

TEST_F(Figures, TheWorstStateIsTheOverallOne) {
  memory.TotalBytes = 8LL << 30;
  memory.AvailableAvg.Add(4096.0 * 1048576);
  diskBusy.Add(99);
  const TStates s = ComputeStates(ComputeFigures(Sources()), Settings);
  EXPECT_EQ(s.Processor, stGreen);
  EXPECT_EQ(s.Memory, stGreen);
  EXPECT_EQ(s.Disk, stRed);
  EXPECT_EQ(s.Network, stGreen);
  EXPECT_EQ(s.Overall, stRed);
  EXPECT_EQ(Worse(stYellow, stGreen), stYellow);
}

TEST(IndicatorTexts, PercentsWithTwoDecimalsAndMemoryInUnitsOf1024000) {
  TFigures f;
  f.CpuInuse = 12.346;
  f.MemoryInuse = 45;
  f.MemoryAvailableMean = 3071999.5;  // halves go to the even neighbour: 3,072,000
  f.DiskBusy = 0;
  f.NetworkBusy = 100;
  TIndicatorTexts t = IndicatorTexts(f, English);
  EXPECT_EQ(t.Processor, "12.35%");
  EXPECT_EQ(t.Memory, "45.00% (3MB avail)");
  EXPECT_EQ(t.Disk, "0.00%");
  EXPECT_EQ(t.Network, "100.00%");
  f.MemoryAvailableMean = 3071998.5;  // rounds down to 3,071,998
  EXPECT_EQ(IndicatorTexts(f, English).Memory, "45.00% (2MB avail)");
  EXPECT_EQ(IndicatorTexts(f, QLocale(QLocale::German)).Processor, "12,35%");
}

TEST(IndicatorTexts, TheTextFrontEndsLineNamesEachFigureWithItsHintWord) {
  const TIndicatorTexts t{"55.81%", "3.65% (23783MB avail)", "2.24%", "0.00%"};
  EXPECT_EQ(IndicatorLine(t),
            "Processor: 55.81%  Memory: 3.65% (23783MB avail)  Disk: 2.24%  Network: 0.00%");
}

TEST(IndicatorTexts, TheTipSeparatesLinesWithCarriageReturnsAndIsCutAt63) {
  const TIndicatorTexts shortTexts{"1.00%", "2.00% (3MB avail)", "4.00%", "5.00%"};
  EXPECT_EQ(TipText(shortTexts), "CPU: 1.00%\rMem: 2.00% (3MB avail)\rDisk: 4.00%\rNet: 5.00%");
  const TIndicatorTexts longTexts{"100.00%", "100.00% (123456MB avail)", "100.00%", "100.00%"};
  const QString full = "CPU: 100.00%\rMem: 100.00% (123456MB avail)\rDisk: 100.00%\rNet: 100.00%";
  const QString tip = TipText(longTexts);
  EXPECT_EQ(tip.size(), TipLimit);
  EXPECT_EQ(tip, full.left(63));
  EXPECT_TRUE(tip.endsWith("\rNet: 1"));
  // Menu captions carry the same texts uncut.
  EXPECT_EQ(TrayCaptions(longTexts, 0).Memory, "Memory: 100.00% (123456MB avail)");
}

TEST(IndicatorTexts, HintsNameTheResourceAndDropTheFiguresWhenHidden) {
  const THints shown = StateHints({"1.00%", "2.00% (3MB avail)", "4.00%", "5.00%"});
  EXPECT_EQ(shown.Processor, "Processor: 1.00%");
  EXPECT_EQ(shown.Memory, "Memory: 2.00% (3MB avail)");
  EXPECT_EQ(shown.Disk, "Disk: 4.00%");
  EXPECT_EQ(shown.Network, "Network: 5.00%");
  const THints hidden = HiddenHints();
  EXPECT_EQ(hidden.Processor, "Processor");
  EXPECT_EQ(hidden.Network, "Network");
}

TEST(TrayCaptions, ElapsedShowsTheSmoothingWindowsSecondsToOneDecimal) {
  EXPECT_EQ(ElapsedCaption(10.0), "Interval: 10.0 secs");
  EXPECT_EQ(ElapsedCaption(2.0), "Interval: 2.0 secs");
  EXPECT_EQ(ElapsedCaption(2.04), "Interval: 2.0 secs");
  EXPECT_EQ(ElapsedCaption(0.25), "Interval: 0.2 secs");  // 2.5 tenths: to even
  EXPECT_EQ(ElapsedCaption(0.75), "Interval: 0.8 secs");
  EXPECT_EQ(ElapsedCaption(0), "Interval: 0.0 secs");
  const TTrayCaptions c = TrayCaptions({"1.00%", "2.00% (3MB avail)", "4.00%", "5.00%"}, 10);
  EXPECT_EQ(c.About, "About Ombrix...");
  EXPECT_EQ(c.Processor, "Processor: 1.00%");
  EXPECT_EQ(c.Disk, "Disk: 4.00%");
  EXPECT_EQ(c.Network, "Network: 5.00%");
  EXPECT_EQ(c.Elapsed, "Interval: 10.0 secs");
}

TEST(TrayCaptions, AnIntervalSumBeyondAnyCountRaisesRatherThanWraps) {
  EXPECT_THROW(ElapsedCaption(1e300), std::exception);
}

}  // namespace
