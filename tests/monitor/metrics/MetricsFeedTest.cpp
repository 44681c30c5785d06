// The series of a monitor core fed with fixed samples two seconds apart: process groups,
// disks, adapters, the indicators and the files and sockets of the last interval, with the
// values each should have after the ticks.
#include <gtest/gtest.h>

#include <mutex>

#include "monitor/metrics/MetricsFeed.h"
#include "monitor/model/ModelLock.h"
#include "monitor/shell/MonitorCore.h"
#include "tests/monitor/metrics/MetricsTestSupport.h"
#include "tests/support/FakeClock.h"
#include "tests/support/PerfBlockBuilder.h"
#include "tests/support/PerfBlockSource.h"
#include "tests/support/ScopedSettings.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;

constexpr std::uint32_t RAW = 0x00010000;  // the value is the raw count
constexpr std::int64_t Second = 1000000000;
constexpr std::uint32_t IntervalMs = 2000;

struct TProc {
  std::string Name;
  std::int64_t Pid = 0;
  std::int64_t CpuPercent = 0;  // of one processor
  std::int64_t WorkingSet = 0;
  std::int64_t PrivateBytes = 0;
  std::int64_t IoBytesPerSecond = 0;
};

// What the machine shows in one block. Adapter bytes and errors are running totals.
struct TMachine {
  std::vector<TProc> Processes;
  std::int64_t TotalCpu = 90;
  std::int64_t AdapterBytes = 0;
  std::int64_t ReceiveErrors = 0;
};

PerfObjectSpec Object(std::uint32_t index, std::vector<std::uint32_t> counters) {
  PerfObjectSpec o;
  o.Index = index;
  for (std::uint32_t c : counters) o.Counters.push_back({c, RAW});
  o.HasInstances = true;
  return o;
}

// Two processors; one disk "/data", 40% free (1000 MB), 70% idle, queue 1, 10 transfers and
// 4096 bytes a second; one adapter "eth0" at 1 Mbit/s with 7 packets a second.
std::vector<std::uint8_t> Block(const TMachine& m, std::int64_t seconds) {
  PerfBlockSpec b;
  b.PerfTime = seconds * Second;
  PerfObjectSpec cpu = Object(238, {6});
  cpu.Instances = {{"0", {m.TotalCpu}}, {"1", {m.TotalCpu}}, {"_Total", {m.TotalCpu}}};
  PerfObjectSpec proc = Object(230, {6, 180, 186, 784, 1424});
  for (const TProc& p : m.Processes)
    proc.Instances.push_back(
        {p.Name, {p.CpuPercent, p.WorkingSet, p.PrivateBytes, p.Pid, p.IoBytesPerSecond}});
  PerfObjectSpec disk = Object(236, {198, 1482, 408, 410, 212, 218});
  disk.Instances = {{"/data", {1, 70, 40, 1000, 10, 4096}},
                    {"_Total", {1, 70, 40, 1000, 10, 4096}}};
  PerfObjectSpec net = Object(510, {388, 400, 520, 530, 542});
  net.Instances = {{"eth0", {m.AdapterBytes, 7, 1000000, m.ReceiveErrors, 0}}};
  b.Objects = {cpu, proc, disk, net};
  return BuildPerfBlock(b);
}

class TFeedFrontEnd : public TFrontEnd {
 public:
  explicit TFeedFrontEnd(TMetricsExporter& exporter) : feed_(exporter, 10) {}
  void UpdateIndicatorTexts() override { feed_.BeforeClose(*Core); }
  void RefreshGrid() override { feed_.Publish(*Core); }
  void ShowError(const std::string& text) override { Errors.push_back(text); }

  TMonitorCore* Core = nullptr;
  std::vector<std::string> Errors;

 private:
  TMetricsFeed feed_;
};

class MetricsFeed : public ::testing::Test {
 protected:
  void SetUp() override {
    clock.Set(100000);
    source.Blocks.push_back(Block(machine, seconds));
    core = std::make_unique<TMonitorCore>(frontEnd, nullptr, [] { return nullptr; });
    frontEnd.Core = core.get();
    core->Start();
    std::lock_guard lock(ModelLock);
    core->Tables.Sockets.clear();  // what the machine's own connections seeded
    Settings.CpuInuse = {0, 50, 80};
    Settings.DiskBusy = {0, 20, 60};
  }
  void TearDown() override { core.reset(); }
  void Tick() {
    clock.Advance(IntervalMs);
    seconds += IntervalMs / 1000;
    source.Blocks.push_back(Block(machine, seconds));
    core->RunTick();
  }
  std::optional<double> Value(const std::string& name, const TLabelList& labels = {}) {
    return SeriesValue(exporter.Collect(), name, labels);
  }

  ombrix::testing::ScopedSettings settings_{TSettings{}};
  FakePerfSource source;
  FakeClock clock;
  TMetricsExporter exporter;
  TFeedFrontEnd frontEnd{exporter};
  std::unique_ptr<TMonitorCore> core;
  TMachine machine{{{"app", 10, 50, 1000000, 400000, 4096},
                    {"app", 11, 50, 500000, 200000, 0},
                    {"db", 20, 100, 8000000, 6000000, 0}}};
  std::int64_t seconds = 1;
};

TEST_F(MetricsFeed, ProcessGroupsSumTheirProcessesAndKeepCountingAfterOneEnds) {
  for (int i = 0; i < 3; ++i) Tick();
  const TLabelList app{{"process", "app"}}, db{{"process", "db"}};
  EXPECT_EQ(Value("ombrix_processes", app), 2);
  EXPECT_EQ(Value("ombrix_process_working_set_bytes", app), 1500000);
  EXPECT_EQ(Value("ombrix_process_private_bytes", db), 6000000);
  // Half a processor each, over three intervals of two seconds.
  EXPECT_NEAR(*Value("ombrix_process_cpu_seconds_total", app), 6.0, 1e-9);
  EXPECT_NEAR(*Value("ombrix_process_cpu_seconds_total", db), 6.0, 1e-9);
  EXPECT_NEAR(*Value("ombrix_process_io_bytes_total", app), 3 * 2 * 4096.0, 1e-6);
  EXPECT_EQ(Value("ombrix_samples_total"), 3);

  machine.Processes.erase(machine.Processes.begin() + 1);  // process 11 ends
  Tick();
  EXPECT_EQ(Value("ombrix_processes", app), 1);
  EXPECT_NEAR(*Value("ombrix_process_cpu_seconds_total", app), 7.0, 1e-9);
  EXPECT_TRUE(frontEnd.Errors.empty());
}

TEST_F(MetricsFeed, IpBytesAreCountedBeforeTheTickClearsThem) {
  Tick();
  {
    std::lock_guard lock(ModelLock);
    TProcessInfo* db = core->Tables.FindProcess(20);
    db->AddPacket(1500);
    db->AddPacket(1500);
  }
  Tick();
  Tick();
  EXPECT_EQ(Value("ombrix_process_ip_bytes_total", {{"process", "db"}}), 3000);
  EXPECT_EQ(Value("ombrix_process_ip_bytes_total", {{"process", "app"}}), 0);
}

TEST_F(MetricsFeed, DisksAndAdaptersShowTheirViewsFiguresAndCountTheirTraffic) {
  machine.AdapterBytes = 2000;
  Tick();
  machine.AdapterBytes = 5000;
  machine.ReceiveErrors = 1;
  Tick();
  machine.AdapterBytes = 9000;
  machine.ReceiveErrors = 3;
  Tick();
  const TLabelList disk{{"disk", "/data"}}, eth0{{"adapter", "eth0"}};
  EXPECT_DOUBLE_EQ(*Value("ombrix_disk_free_ratio", disk), 0.4);
  EXPECT_DOUBLE_EQ(*Value("ombrix_disk_free_bytes", disk), 1000.0 * 1048576);
  EXPECT_DOUBLE_EQ(*Value("ombrix_disk_busy_ratio", disk), 0.3);
  EXPECT_DOUBLE_EQ(*Value("ombrix_disk_queue_depth", disk), 1);
  EXPECT_NEAR(*Value("ombrix_disk_transfers_total", disk), 3 * 2 * 10.0, 1e-9);
  EXPECT_NEAR(*Value("ombrix_disk_bytes_total", disk), 3 * 2 * 4096.0, 1e-6);
  EXPECT_FALSE(Value("ombrix_disk_free_ratio", {{"disk", "_Total"}}));

  EXPECT_EQ(Value("ombrix_adapter_bandwidth_bytes_per_second", eth0), 125000);
  EXPECT_EQ(Value("ombrix_adapter_bytes_total", eth0), 9000);
  EXPECT_NEAR(*Value("ombrix_adapter_packets_total", eth0), 3 * 2 * 7.0, 1e-9);
  EXPECT_EQ(Value("ombrix_adapter_errors_total", eth0), 3);
}

TEST_F(MetricsFeed, IndicatorsGiveTheTraysFiguresAndColours) {
  Tick();
  EXPECT_DOUBLE_EQ(*Value("ombrix_indicator_ratio", {{"indicator", "processor"}}), 0.9);
  EXPECT_EQ(Value("ombrix_indicator_state", {{"indicator", "processor"}}), 2);  // red above 80
  EXPECT_DOUBLE_EQ(*Value("ombrix_indicator_ratio", {{"indicator", "disk"}}), 0.3);
  EXPECT_EQ(Value("ombrix_indicator_state", {{"indicator", "disk"}}), 1);  // yellow above 20
  EXPECT_EQ(Value("ombrix_indicator_state", {{"indicator", "network"}}), 0);
}

TEST_F(MetricsFeed, FilesAndSocketsShowTheLastIntervalByNameAndProcess) {
  Tick();
  {
    std::lock_guard lock(ModelLock);
    TFileInfo* file = core->Tables.FindOrCreateFile(20, 1);
    file->SetName("/data/db.dat");
    for (int i = 0; i < 3; ++i) file->AddDiskIo(0, 4096, 100);
    TSocketInfo* socket = core->Tables.FindOrCreateSocket(20, 0x0A000007, 40123);
    for (int i = 0; i < 4; ++i) socket->AddPacket(1000);
  }
  Tick();
  const TLabelList file{{"file", "/data/db.dat"}, {"process", "db"}};
  EXPECT_DOUBLE_EQ(*Value("ombrix_file_bytes_per_second", file), 3 * 4096 / 2.0);
  EXPECT_DOUBLE_EQ(*Value("ombrix_file_transfers_per_second", file), 1.5);
  const TLabelList socket{{"remote", "10.0.0.7"}, {"service", "40123"}, {"process", "db"}};
  EXPECT_DOUBLE_EQ(*Value("ombrix_socket_bytes_per_second", socket), 2000);
  EXPECT_DOUBLE_EQ(*Value("ombrix_socket_packets_per_second", socket), 2);

  Tick();  // an idle interval: the file stays, at 0
  EXPECT_EQ(Value("ombrix_file_bytes_per_second", file), 0);
}

}  // namespace
}  // namespace ombrix
