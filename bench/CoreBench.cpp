// One full tick of the monitor's core (sample, collection, sweep, expiry, interval close):
// on this machine's live data, and on synthetic blocks with 500 and 2000 processes sharing
// 20 000 threads. Reports microseconds and heap allocations per tick.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "monitor/shell/MonitorCore.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfDataKey.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/support/PerfBlockBuilder.h"

namespace {

std::atomic<std::uint64_t> Allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  Allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using namespace ombrix;
using namespace ombrix::testing;
using namespace platform;

class TQuietFrontEnd : public TFrontEnd {
 public:
  void ShowError(const std::string&) override {}
};

void RunTicks(benchmark::State& state, TMonitorCore& core) {
  core.Tick();  // the first tick expires and fills the tables
  const std::uint64_t before = Allocations.load();
  for (auto _ : state) core.Tick();
  const auto ticks = static_cast<double>(state.iterations());
  state.counters["allocs_per_tick"] = static_cast<double>(Allocations.load() - before) / ticks;
  state.counters["processes"] = static_cast<double>(core.Tables.Processes.size());
}

void BM_CoreTickLive(benchmark::State& state) {
  TQuietFrontEnd frontEnd;
  TMonitorCore core(frontEnd, nullptr, [] { return nullptr; });
  core.Start();
  RunTicks(state, core);
}
BENCHMARK(BM_CoreTickLive)->Unit(benchmark::kMicrosecond);

constexpr std::uint32_t RAW = PERF_COUNTER_RAWCOUNT;
constexpr std::uint32_t LRAW = PERF_COUNTER_LARGE_RAWCOUNT;
constexpr std::uint32_t BULK = PERF_COUNTER_BULK_COUNT;

// A machine of processes and threads, the counters the provider writes; `step` moves the
// counting figures on so that each block differs from the one before.
std::vector<std::uint8_t> MachineBlock(int processes, int threads, std::int64_t step) {
  PerfBlockSpec b;
  b.PerfTime = 1000000000 * step;
  b.PerfTime100nSec = 10000000 * step;
  PerfObjectSpec system{2, {{kProcessorQueueLength, RAW}}, false, {1}, {}, 0, 0, 100};
  PerfObjectSpec memory{4,     {{kAvailableBytes, LRAW}, {kPageReads, BULK}, {kPageWrites, BULK}},
                        false, {1 << 30, step, step},
                        {},    0,
                        0,     100};
  PerfObjectSpec cpu;
  cpu.Index = kObjProcessor;
  cpu.HasInstances = true;
  for (std::uint32_t c :
       {kProcessorTime, kProcessorIdleTime, kInterruptTime, kInterrupts, kDpcTime, kDpcsQueued})
    cpu.Counters.push_back({c, RAW});
  for (const char* name : {"0", "1", "_Total"})
    cpu.Instances.push_back({name, {50, 40, 1, 9, 1, 9}});
  PerfObjectSpec proc;
  proc.Index = kObjProcess;
  proc.HasInstances = true;
  for (std::uint32_t c : {kProcessorTime, kWorkingSet, kPrivateBytes, kIdProcess, kIoDataOperations,
                          kIoOtherOperations, kIoDataBytes, kIoOtherBytes})
    proc.Counters.push_back({c, c == kWorkingSet || c == kPrivateBytes ? LRAW
                                : c >= kIoDataOperations               ? BULK
                                                                       : RAW});
  for (int p = 0; p < processes; ++p)
    proc.Instances.push_back({"proc" + std::to_string(p % 50),
                              {1, 4 << 20, 2 << 20, 100 + p, step * 3, step, step * 4096, step}});
  PerfObjectSpec thread;
  thread.Index = kObjThread;
  thread.HasInstances = true;
  thread.Counters = {{kContextSwitches, RAW}, {kIdProcess, RAW}, {kIdThread, RAW}};
  for (int t = 0; t < threads; ++t) {
    const int owner = t % processes;
    thread.Instances.push_back({"proc" + std::to_string(owner % 50) + "/" + std::to_string(t),
                                {step * (t % 7), 100 + owner, 100000 + t}});
  }
  PerfObjectSpec disk;
  disk.Index = kObjLogicalDisk;
  disk.HasInstances = true;
  for (std::uint32_t c :
       {kDiskQueueLength, kDiskIdleTime, kFreeSpace, kFreeMegabytes, kDiskTransfers, kDiskBytes})
    disk.Counters.push_back({c, RAW});
  for (const char* name : {"/", "/home", "_Total"})
    disk.Instances.push_back({name, {1, 80, 50, 900, 3, 4096}});
  PerfObjectSpec net;
  net.Index = kObjNetworkInterface;
  net.HasInstances = true;
  for (std::uint32_t c :
       {kBytesTotal, kPackets, kCurrentBandwidth, kPacketsReceivedErrors, kPacketsOutboundErrors})
    net.Counters.push_back({c, LRAW});
  net.Instances.push_back({"eth0", {step * 1000, step * 10, 1000000000, 0, 0}});
  b.Objects = {system, memory, cpu, proc, thread, disk, net};
  return BuildPerfBlock(b);
}

// Hands out the prepared blocks in turn, as if the machine moved on between samples.
class TAlternatingSource : public platform::PerfDataSource {
 public:
  TAlternatingSource(int processes, int threads) {
    for (int i = 1; i <= 2; ++i) blocks_.push_back(MachineBlock(processes, threads, i));
    platform::SetPerfDataSource(this);
  }
  ~TAlternatingSource() override { platform::SetPerfDataSource(nullptr); }

  std::uint32_t Connect(const std::string&) override { return 0; }
  std::uint32_t QueryPerformanceData(std::string_view, void* buffer, std::uint32_t size,
                                     std::uint32_t* bytes) override {
    const auto& block = blocks_[next_];
    const std::uint32_t rc = platform::CopyAnswer(block.data(), block.size(), buffer, size, bytes);
    if (rc == 0) next_ = 1 - next_;
    return rc;
  }
  std::uint32_t OpenNameTable() override { return 0; }
  std::uint32_t QueryNameTable(std::string_view, void* buffer, std::uint32_t size,
                               std::uint32_t* bytes) override {
    static const char names[] = "2\0System\0\0";
    return platform::CopyAnswer(names, sizeof names, buffer, size, bytes);
  }
  // An empty memory map: a failure here would stop the reader for good.
  std::uint32_t OpenResourceMap() override { return 0; }
  std::uint32_t QueryResourceMap(std::string_view, void* buffer, std::uint32_t size,
                                 std::uint32_t* bytes) override {
    return platform::CopyAnswer(nullptr, 0, buffer, size, bytes);
  }

 private:
  std::vector<std::vector<std::uint8_t>> blocks_;
  std::size_t next_ = 0;
};

void BM_CoreTickSynthetic(benchmark::State& state) {
  TAlternatingSource source(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  TQuietFrontEnd frontEnd;
  TMonitorCore core(frontEnd, nullptr, [] { return nullptr; });
  core.Start();
  RunTicks(state, core);
}
BENCHMARK(BM_CoreTickSynthetic)
    ->Args({500, 20000})
    ->Args({2000, 20000})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
