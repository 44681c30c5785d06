// The history's cost: copying a tick's sample out of a model of 2 000 processes (the part
// that holds the model lock), the recorder's writing per tick, and a week recorded at the
// default interval on a simulated clock, with the file's size at its end.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>

#include "monitor/history/HistoryCapture.h"
#include "monitor/history/HistoryRecorder.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "tests/support/TempDir.h"

namespace {

using namespace ombrix;

constexpr std::int64_t Start = 1713999960000;
constexpr std::int64_t Interval = 2000;  // the default

// A busy machine: 2 000 processes, 1 000 files and 300 sockets, all active, whose figures
// change from tick to tick so that the top lists do too.
class TBusyMachine {
 public:
  TBusyMachine() {
    std::lock_guard lock(ModelLock);
    for (std::uint32_t p = 0; p < 2000; ++p)
      tables_.FindOrCreateProcess(1000 + p, "process-" + std::to_string(p % 300));
    for (std::uint32_t f = 0; f < 1000; ++f)
      tables_.FindOrCreateFile(1000 + f % 2000, f)
          ->SetName("/home/user/projects/ombrix/build/object-" + std::to_string(f) + ".o");
    for (std::uint32_t s = 0; s < 300; ++s)
      tables_.FindOrCreateSocket(1000 + s * 7, 0x0A000000 + s, static_cast<std::uint16_t>(443 + s));
  }
  void Move() {
    std::lock_guard lock(ModelLock);
    for (auto& p : tables_.Processes) {
      p->Touch(true);
      p->ProcessorAvg.Add(Figure(100));
      p->WorkingSetAvg.Add(Figure(2e9));
      p->IoByteRateAvg.Add(Figure(5e7));
      p->IpByteRateAvg.Add(Figure(1e6));
    }
    for (auto& f : tables_.Files) {
      f->Touch(true);
      f->ByteRateAvg.Add(Figure(1e7));
    }
    for (auto& s : tables_.Sockets) {
      s->Touch(true);
      s->ByteRateAvg.Add(Figure(1e6));
    }
  }
  THistorySample Capture(std::int64_t time) {
    std::lock_guard lock(ModelLock);
    return CaptureSample(tables_, nullptr, {50, 40, 10, 1}, time, Interval);
  }

 private:
  double Figure(double most) { return std::uniform_real_distribution<double>(0, most)(random_); }
  TEntityTables tables_;
  std::mt19937 random_{42};
};

// The tick's own part: what it adds to the time the model lock is held.
void BM_HistoryCapture2000Processes(benchmark::State& state) {
  TBusyMachine machine;
  machine.Move();
  std::int64_t time = Start;
  for (auto _ : state) benchmark::DoNotOptimize(machine.Capture(time += Interval));
}
BENCHMARK(BM_HistoryCapture2000Processes)->Unit(benchmark::kMicrosecond);

// The writer's part, per tick: its processor time for each sample of a busy machine.
void BM_HistoryRecordTick(benchmark::State& state) {
  ombrix::testing::TempDir dir;
  TBusyMachine machine;
  std::atomic<std::int64_t> now{Start};
  THistoryRecorder recorder({dir.File("Ombrix.history"), 7, [&now] { return now.load(); }});
  std::int64_t ticks = 0;
  for (auto _ : state) {
    state.PauseTiming();
    machine.Move();
    state.ResumeTiming();
    now += Interval;
    recorder.Add(machine.Capture(now));
    if (++ticks % 200 == 0) recorder.Flush();  // never more queued than ticks would queue
  }
  recorder.Flush();
  const THistoryStatus status = recorder.Status();
  state.counters["writer_cpu_ms_per_tick"] = status.CpuMsPerSample;
  state.counters["let_go"] = static_cast<double>(status.Dropped);
}
BENCHMARK(BM_HistoryRecordTick)->Unit(benchmark::kMicrosecond)->Iterations(3000);

// Seven days of ticks: the last day at full resolution, the six before folded to minutes;
// then the History view's read of the whole week.
// Names come from pools as large as a busy week's: 300 programs, 20 000 files, 2 000 remote
// ends, every one of the 26 places of each sample taken.
void BM_HistorySimulatedWeek(benchmark::State& state) {
  for (auto _ : state) {
    ombrix::testing::TempDir dir;
    const std::string path = dir.File("Ombrix.history");
    std::atomic<std::int64_t> now{Start};
    std::mt19937 random(7);
    const auto pick = [&random](int pool) {
      return std::uniform_int_distribution<int>(0, pool - 1)(random);
    };
    THistoryStatus status;
    {
      THistoryRecorder recorder({path, 7, [&now] { return now.load(); }});
      for (std::int64_t t = Start; t < Start + 7 * DayMs; t += Interval) {
        now = t;
        THistorySample s;
        s.Time = t;
        s.Span = Interval;
        s.Mean = s.Peak = {double(pick(10000)) / 100, 40, double(pick(10000)) / 100, 1};
        for (int kind = 0; kind < ConsumerKindCount; ++kind)
          for (int rank = 0; rank < ConsumersKept[static_cast<std::size_t>(kind)]; ++rank) {
            const int program = pick(300);
            const auto k = static_cast<TConsumerKind>(kind);
            std::string name = "program-" + std::to_string(program);
            if (k == TConsumerKind::File)
              name = "/home/user/work/file-" + std::to_string(pick(20000)) + ".dat";
            if (k == TConsumerKind::Socket)
              name = "host-" + std::to_string(pick(2000)) + ".example.org (https - 443)";
            const bool owned = k == TConsumerKind::File || k == TConsumerKind::Socket;
            s.Consumers.push_back({k, static_cast<std::uint32_t>(1000 + program), name,
                                   owned ? "program-" + std::to_string(program) : "",
                                   double(pick(1000000))});
          }
        recorder.Add(std::move(s));
        if ((t - Start) / Interval % 300 == 0) recorder.Flush();
      }
      recorder.Flush();
      status = recorder.Status();
    }
    // A recorder's start looks over every page of the file once.
    auto before = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(THistoryStore(path, THistoryStore::TAccess::Write).Healthy());
    const std::chrono::duration<double, std::milli> check =
        std::chrono::steady_clock::now() - before;
    state.counters["start_check_ms"] = check.count();
    // What the History view reads for its widest span, a week in 640 stretches.
    const THistoryStore reader(path, THistoryStore::TAccess::Read);
    before = std::chrono::steady_clock::now();
    const std::size_t points = reader.Chart(Start, Start + 7 * DayMs, 7 * DayMs / 640).size();
    const std::chrono::duration<double, std::milli> chart =
        std::chrono::steady_clock::now() - before;
    state.counters["week_chart_ms"] = chart.count();
    state.counters["week_chart_points"] = static_cast<double>(points);
    std::uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
      bytes += entry.file_size();
    state.counters["file_mb"] = static_cast<double>(bytes) / 1e6;
    state.counters["samples"] = static_cast<double>(status.Written);
    state.counters["writer_cpu_ms_per_tick"] = status.CpuMsPerSample;
  }
}
BENCHMARK(BM_HistorySimulatedWeek)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
