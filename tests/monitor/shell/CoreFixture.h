// A monitor core over scripted performance data, a settable clock and a recording front
// end; no kernel trace and no host lookups.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "monitor/model/ModelLock.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/MonitorCore.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/support/FakeClock.h"
#include "tests/support/PerfBlockBuilder.h"
#include "tests/support/PerfBlockSource.h"
#include "tests/support/ScopedSettings.h"

namespace ombrix::testing {

class TRecordingFrontEnd : public TFrontEnd {
 public:
  void AddTrayIcon() override { Calls.emplace_back("tray"); }
  void StartWindow() override { Calls.emplace_back("window"); }
  void SetStatusText(const std::string& text) override { Status = text; }
  void UpdateIndicatorTexts() override { Calls.emplace_back("indicators"); }
  void UpdateWindowFigures() override { Calls.emplace_back("figures"); }
  void UpdateStateIcons() override { Calls.emplace_back("icons"); }
  void RefreshGrid() override { Calls.emplace_back("grid"); }
  void ShowError(const std::string& text) override {
    Errors.push_back(text);
    if (WhileOpen) WhileOpen();
  }

  std::vector<std::string> Calls;
  std::vector<std::string> Errors;
  std::string Status;
  std::function<void()> WhileOpen;  // runs as if inside the modal box
};

inline constexpr std::uint32_t kRaw = platform::PERF_COUNTER_RAWCOUNT;

// A block with the Processor object (given processors plus "_Total") and the processes.
inline std::vector<std::uint8_t> SampleBlock(int processors, const std::vector<std::uint32_t>& pids,
                                             std::int64_t time) {
  PerfBlockSpec b;
  b.PerfTime = time;
  PerfObjectSpec cpu;
  cpu.Index = platform::kObjProcessor;
  cpu.Counters = {{platform::kProcessorTime, kRaw}};
  cpu.HasInstances = true;
  for (int i = 0; i < processors; ++i) cpu.Instances.push_back({std::to_string(i), {10}});
  cpu.Instances.push_back({"_Total", {10}});
  PerfObjectSpec proc;
  proc.Index = platform::kObjProcess;
  proc.Counters = {{platform::kProcessorTime, kRaw}, {platform::kIdProcess, kRaw}};
  proc.HasInstances = true;
  for (std::uint32_t pid : pids) proc.Instances.push_back({"p" + std::to_string(pid), {4, pid}});
  b.Objects = {cpu, proc};
  return BuildPerfBlock(b);
}

class CoreFixture : public ::testing::Test {
 protected:
  void SetUp() override { clock.Set(1000); }
  void TearDown() override { core.reset(); }
  // Start-up with a first block; later blocks are queued by the test.
  void Start(const std::vector<std::uint32_t>& pids = {}, int processors = 1) {
    source.Blocks.push_back(SampleBlock(processors, pids, 1000));
    core = std::make_unique<TMonitorCore>(frontEnd, nullptr, [] { return nullptr; });
    core->Errors().SetLog([this](const std::string& text) { logged.push_back(text); });
    core->Start();
    // What the machine's own connections seeded is not this test's business.
    std::lock_guard lock(ModelLock);
    core->Tables.Sockets.clear();
    core->Tables.Sockets.shrink_to_fit();
    for (auto& p : core->Tables.Processes) p->Touch(false);
    core->Tables.SweepProcesses();
  }
  void Tick(const std::vector<std::uint32_t>& pids, int processors = 1) {
    source.Blocks.push_back(SampleBlock(processors, pids, time += 1000));
    core->RunTick();
  }

  ScopedSettings settings_{TSettings{}};
  FakePerfSource source;
  FakeClock clock;
  TRecordingFrontEnd frontEnd;
  std::unique_ptr<TMonitorCore> core;
  std::vector<std::string> logged;
  std::int64_t time = 1000;
};

}  // namespace ombrix::testing
