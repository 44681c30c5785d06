// Cost of the table operations every event and every tick pays.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "monitor/model/Tables.h"
#include "platform/tickcount/TickCount.h"

namespace {

using ombrix::TEntityTables;

// Spreads keys over a few hundred processes, as a busy desktop would.
struct Keys {
  explicit Keys(std::size_t n) {
    std::mt19937 random(42);
    for (std::size_t i = 0; i < n; ++i) {
      pid.push_back(random() % 300 + 1);
      object.push_back(static_cast<std::uint32_t>(random()));
      port.push_back(static_cast<std::uint16_t>(random() % 2000));
    }
  }
  std::vector<std::uint32_t> pid, object;
  std::vector<std::uint16_t> port;
};

void BM_FindExistingFile(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Keys keys(n);
  TEntityTables tables;
  for (std::size_t i = 0; i < n; ++i) tables.FindOrCreateFile(keys.pid[i], keys.object[i]);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tables.FindOrCreateFile(keys.pid[i], keys.object[i]));
    if (++i == n) i = 0;
  }
}
BENCHMARK(BM_FindExistingFile)->Arg(10000);

void BM_FindExistingSocket(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Keys keys(n);
  TEntityTables tables;
  for (std::size_t i = 0; i < n; ++i) {
    tables.FindOrCreateSocket(keys.pid[i], keys.object[i], keys.port[i]);
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tables.FindOrCreateSocket(keys.pid[i], keys.object[i], keys.port[i]));
    if (++i == n) i = 0;
  }
}
BENCHMARK(BM_FindExistingSocket)->Arg(10000);

// Filling empty tables to n entries: each creation pays the search and the insertion.
void BM_CreateFiles(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Keys keys(n);
  for (auto _ : state) {
    auto tables = std::make_unique<TEntityTables>();
    for (std::size_t i = 0; i < n; ++i) tables->FindOrCreateFile(keys.pid[i], keys.object[i]);
    benchmark::DoNotOptimize(tables->Files.data());
    state.PauseTiming();  // freeing is measured on its own
    tables.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_CreateFiles)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_CreateSockets(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Keys keys(n);
  for (auto _ : state) {
    auto tables = std::make_unique<TEntityTables>();
    for (std::size_t i = 0; i < n; ++i) {
      tables->FindOrCreateSocket(keys.pid[i], keys.object[i], keys.port[i]);
    }
    benchmark::DoNotOptimize(tables->Sockets.data());
    state.PauseTiming();
    tables.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_CreateSockets)->Arg(10000)->Unit(benchmark::kMillisecond);

// Freeing full tables (every entity leaves the average registry).
void BM_FreeTables(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Keys keys(n);
  for (auto _ : state) {
    state.PauseTiming();
    auto tables = std::make_unique<TEntityTables>();
    for (std::size_t i = 0; i < n; ++i) tables->FindOrCreateFile(keys.pid[i], keys.object[i]);
    state.ResumeTiming();
    tables.reset();
  }
}
BENCHMARK(BM_FreeTables)->Arg(10000)->Unit(benchmark::kMillisecond);

// One tick's interval close over 2 000 processes, 20 000 files and 5 000 sockets.
void BM_CloseIntervals(benchmark::State& state) {
  TEntityTables tables;
  std::mt19937 random(7);
  for (std::uint32_t pid = 1; pid <= 2000; ++pid) tables.FindOrCreateProcess(pid, "");
  while (tables.Files.size() < 20000) {
    tables.FindOrCreateFile(random() % 2000 + 1, static_cast<std::uint32_t>(random()))
        ->AddDiskIo(0, 4096, 100);
  }
  while (tables.Sockets.size() < 5000) {
    tables.FindOrCreateSocket(random() % 2000 + 1, static_cast<std::uint32_t>(random()), 443)
        ->AddPacket(1500);
  }
  for (auto _ : state) tables.CloseIntervals();
}
BENCHMARK(BM_CloseIntervals)->Unit(benchmark::kMicrosecond);

// A clock the expiry benchmarks move by hand.
std::uint32_t benchNow = 1;
std::uint32_t BenchTicks() {
  return benchNow;
}

// n files of one process, every one of them listed in the view's rows.
std::unique_ptr<TEntityTables> ListedFiles(std::size_t n) {
  auto tables = std::make_unique<TEntityTables>();
  tables->FindOrCreateProcess(100, "worker");
  for (std::uint32_t object = 1; object <= n; ++object) {
    ombrix::TFileInfo* file = tables->FindOrCreateFile(100, object);
    file->Touch(true);
    tables->Rows.push_back(file);
  }
  return tables;
}

// One prune in which every listed file has been idle for five minutes.
void BM_ExpireListedFiles(benchmark::State& state) {
  platform::SetTickSource(BenchTicks);
  for (auto _ : state) {
    state.PauseTiming();
    benchNow = 1;
    auto tables = ListedFiles(static_cast<std::size_t>(state.range(0)));
    benchNow += ombrix::IdleLimit;
    state.ResumeTiming();
    tables->ExpireIdleFiles();
    state.PauseTiming();
    tables.reset();
    state.ResumeTiming();
  }
  platform::SetTickSource(nullptr);
}
BENCHMARK(BM_ExpireListedFiles)->Arg(50000)->Unit(benchmark::kMillisecond);

// One sweep that takes a finished process with all its listed files.
void BM_SweepProcessWithListedFiles(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto tables = ListedFiles(static_cast<std::size_t>(state.range(0)));
    tables->ResetActivity();
    state.ResumeTiming();
    tables->SweepProcesses();
    state.PauseTiming();
    tables.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SweepProcessWithListedFiles)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
