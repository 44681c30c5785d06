// Cost of the figures every view reads per repaint and per sort.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "monitor/model/Average.h"
#include "monitor/settings/Settings.h"

namespace {

void BM_AverageAddAndMean(benchmark::State& state) {
  ombrix::Settings.Smooth = true;
  ombrix::Settings.SmoothCount = static_cast<int>(state.range(0));
  ombrix::TAverage a;
  double v = 0;
  for (auto _ : state) {
    a.Add(v += 1.5);
    benchmark::DoNotOptimize(a.Mean());
  }
}
BENCHMARK(BM_AverageAddAndMean)->Arg(5)->Arg(60);

void BM_ApplySmoothing(benchmark::State& state) {
  std::vector<std::unique_ptr<ombrix::TAverage>> all;
  for (int i = 0; i < state.range(0); ++i) all.push_back(std::make_unique<ombrix::TAverage>());
  for (auto _ : state) ombrix::ApplySmoothing();
}
BENCHMARK(BM_ApplySmoothing)->Arg(1000)->Arg(10000);

}  // namespace
