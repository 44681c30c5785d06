// What a refresh costs on a busy machine: building the sorted rows of a view (binary
// insertion over every active entity) and formatting every cell of the rows shown.
#include <benchmark/benchmark.h>

#include <random>

#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/views/ViewColumns.h"
#include "monitor/shell/views/ViewRows.h"

namespace {

using namespace ombrix;

void FillProcesses(TEntityTables& tables, int count) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> cpu(0, 100);
  for (int i = 0; i < count; ++i) {
    // Ids far above any live process, so no image path is read from the system.
    TProcessInfo* p = tables.FindOrCreateProcess(4000000u + static_cast<std::uint32_t>(i),
                                                 "process" + std::to_string(i % 97));
    p->ProcessorAvg.Add(i % 5 == 0 ? 0 : cpu(random));
    p->WorkingSetAvg.Add(cpu(random) * 1048576);
  }
}

void BM_BuildRows(benchmark::State& state) {
  Settings = TSettings();
  TEntityTables tables;
  FillProcesses(tables, static_cast<int>(state.range(0)));
  const int column = static_cast<int>(state.range(1));
  for (auto _ : state) {
    BuildRows(tables, vwProcesses, column, false);
    benchmark::DoNotOptimize(tables.Rows.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildRows)->Args({500, 0})->Args({500, 1})->Args({5000, 0})->Args({5000, 1});

void BM_FormatScreenOfCells(benchmark::State& state) {
  Settings = TSettings();
  TEntityTables tables;
  FillProcesses(tables, 500);
  BuildRows(tables, vwProcesses, 1, false);
  // A named locale, or the system's as the text front end formats with.
  const QLocale locale =
      state.range(0) == 0 ? QLocale(QLocale::English, QLocale::UnitedStates) : QLocale();
  constexpr int VisibleRows = 40;
  for (auto _ : state) {
    for (int r = 0; r < VisibleRows; ++r)
      for (int c = 0; c < ViewColumnCount(vwProcesses); ++c)
        benchmark::DoNotOptimize(
            CellContent(*tables.Rows[static_cast<std::size_t>(r)], vwProcesses, c, false, locale));
  }
  state.SetItemsProcessed(state.iterations() * VisibleRows * ViewColumnCount(vwProcesses));
}
BENCHMARK(BM_FormatScreenOfCells)->Arg(0)->Arg(1);

}  // namespace
