// One sample as the monitor takes it every 2 s: the provider builds a block from /proc and
// /sys, and the walk visits every counter with a collection-like visitor. The argument is
// the number of extra sleeping processes (one thread each) started for the run; `top -b`
// refreshing once over the same population gives the scale.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/LinuxProvider.h"

namespace {

constexpr const char* kMonitorQuery = "2 4 238 230 232 236 510 ";

// Sleeping children, started and stopped by the benchmark itself.
class Sleepers {
 public:
  explicit Sleepers(int count) {
    for (int i = 0; i < count; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        for (;;) pause();
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~Sleepers() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }

 private:
  std::vector<pid_t> pids_;
};

void BM_ProviderBuild(benchmark::State& state) {
  Sleepers extra(static_cast<int>(state.range(0)));
  platform::LinuxPerfProvider provider;
  std::size_t bytes = 0;
  for (auto _ : state) bytes = provider.Build(kMonitorQuery).size();
  state.counters["block_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ProviderBuild)->Arg(0)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);

// Part of the collection's work per counter: values where it computes them, raw values
// elsewhere.
bool Collect(ombrix::TObjectType& object, ombrix::TInstance* instance, bool,
             ombrix::TCounter& counter) {
  static double sink = 0;
  const std::uint32_t index = counter.CounterNameTitleIndex();
  if (object.ObjectNameTitleIndex() == 238 && instance && instance->Name() != "_Total") return true;
  if (object.ObjectNameTitleIndex() == 230 && index == 784) sink += instance->Name().size();
  if (index == 180 || index == 186 || index == 784 || index == 804 || index == 24 || index == 44 ||
      index == 410 || index == 520)
    sink += static_cast<double>(counter.RawValue());
  else if (index == 146)
    sink += static_cast<double>(counter.RawValue() - counter.PreviousRawValue());
  else
    sink += counter.CounterValue();
  benchmark::DoNotOptimize(sink);
  return false;
}

void BM_SampleAndWalk(benchmark::State& state) {
  Sleepers extra(static_cast<int>(state.range(0)));
  ombrix::TPerformanceData reader;
  reader.QueryText = kMonitorQuery;
  reader.Sample();
  for (auto _ : state) {
    reader.Sample();
    reader.ForEachCounter(Collect);
  }
  state.counters["block_bytes"] = reader.FetchedBytes();
}
BENCHMARK(BM_SampleAndWalk)->Arg(0)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_WalkOnly(benchmark::State& state) {
  Sleepers extra(static_cast<int>(state.range(0)));
  ombrix::TPerformanceData reader;
  reader.QueryText = kMonitorQuery;
  reader.Sample();
  reader.Sample();
  for (auto _ : state) reader.ForEachCounter(Collect);
}
BENCHMARK(BM_WalkOnly)->Arg(0)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);

// One refresh of top in batch mode; the time reported is top's own processor time.
void BM_TopRefresh(benchmark::State& state) {
  Sleepers extra(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    if (std::system("top -b -n 1 >/dev/null") != 0) state.SkipWithError("top failed");
    getrusage(RUSAGE_CHILDREN, &after);
    const auto seconds = [](const rusage& r) {
      return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
             static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    state.SetIterationTime(seconds(after) - seconds(before));
  }
}
BENCHMARK(BM_TopRefresh)
    ->Arg(0)
    ->Arg(500)
    ->Arg(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
