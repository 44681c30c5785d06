// Cost of saving the settings over a settings file that has grown duplicate sections.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "monitor/settings/Settings.h"
#include "platform/inifile/IniFile.h"

namespace {

// n "[Settings]" headers, each with one key; with others, a foreign section after each.
std::string DuplicateHeaders(std::int64_t n, bool others) {
  std::string text;
  for (std::int64_t i = 0; i < n; ++i) {
    text += "[Settings]\n";
    if (others) text += "[Other]\nk=v\n";
  }
  return text;
}

void BM_EraseDuplicateSections(benchmark::State& state) {
  const platform::IniFile parsed =
      platform::IniFile::Parse(DuplicateHeaders(state.range(0), state.range(1) != 0));
  for (auto _ : state) {
    state.PauseTiming();
    platform::IniFile ini = parsed;
    state.ResumeTiming();
    ini.EraseSection("Settings");
    benchmark::DoNotOptimize(ini);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EraseDuplicateSections)
    ->Args({40000, 0})
    ->Args({40000, 1})
    ->Unit(benchmark::kMillisecond);

// The whole save as the dialog's OK runs it: load, erase, write the keys, replace the file.
void BM_SaveOverDuplicateSections(benchmark::State& state) {
  char folder[] = "/tmp/ombrix-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string file = std::string(folder) + "/Ombrix.ini";
  const std::string text = DuplicateHeaders(state.range(0), false);
  state.counters["file_bytes"] = static_cast<double>(text.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    state.ResumeTiming();
    ombrix::SaveSettingsTo(file);
  }
  unlink(file.c_str());
  rmdir(folder);
}
BENCHMARK(BM_SaveOverDuplicateSections)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace
