// The core's wiring of the kernel trace: events reach the tables through the installed
// handlers, and events still flowing while the core goes away never touch freed tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/ModelLock.h"
#include "monitor/network/AddressTable.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/MonitorCore.h"
#include "tests/support/EventRecordBuilder.h"
#include "tests/support/LiveWorkload.h"
#include "tests/support/ReplayEventSource.h"
#include "tests/support/ScopedPlatform.h"
#include "tests/support/ScopedSettings.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;

class SilentFrontEnd : public TFrontEnd {
 public:
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  std::vector<std::string> Errors;
};

TEST(CoreTrace, EventsReachTheTablesAndOutliveTheCoreSafely) {
  const testing::ScopedSettings settings{TSettings{}};
  auto source = std::make_shared<TReplayEventSource>(
      std::vector<TReplayEventSource::Batch>{
          {ProcessStart(424242, "/usr/bin/worker"), DiskIo(424242, 7, 4096)}},
      true);
  auto logger = ReplayLogger(source);
  const ScopedEventTracing tracing(logger.get());
  {
    TKernelEventTrace trace;
    SilentFrontEnd frontEnd;
    auto core = std::make_unique<TMonitorCore>(frontEnd, &trace, [] { return nullptr; });
    core->Start();
    EXPECT_TRUE(core->TraceStarted());
    ASSERT_TRUE(WaitUntil([&] { return core->EventCounts().DiskIo.load() > 50; }));
    EXPECT_GT(core->EventCounts().Process.load(), 0u);
    {
      std::lock_guard lock(ModelLock);
      TProcessInfo* p = core->Tables.FindProcess(424242);
      ASSERT_NE(p, nullptr);
      EXPECT_FALSE(p->Partial);  // its start was seen
      EXPECT_NE(core->Tables.FindOrCreateFile(424242, 7)->IoCount, 0);
    }
    core.reset();  // while the replay keeps delivering
    // Give records already on their way the time to arrive at the closed handlers.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(frontEnd.Errors.empty());
  }
}

// The main thread changes the settings while the trace thread creates sockets that read them
// (smoothing for their averages, host names for their addresses): each event sees one whole
// record, never part of one and part of another.
TEST(CoreTrace, SettingsChangedWhileEventsArriveAreReadWhole) {
  const testing::ScopedSettings settings{TSettings{}};
  auto source = std::make_shared<TReplayEventSource>();
  auto logger = ReplayLogger(source);
  const ScopedEventTracing tracing(logger.get());
  {
    TKernelEventTrace trace;
    SilentFrontEnd frontEnd;
    TMonitorCore core(frontEnd, &trace, [] { return nullptr; });
    core.Start();
    TSettings smoothed = Settings, plain = Settings;
    smoothed.Smooth = true;
    smoothed.SmoothCount = 7;
    smoothed.GetHostNames = false;
    plain.Smooth = false;
    plain.SmoothCount = 60;
    plain.GetHostNames = true;
    // The settings keep flipping while the records are handled.
    bool flip = false;
    const auto flipSettings = [&] {
      for (int i = 0; i < 20; ++i, flip = !flip) ReplaceSettings(flip ? smoothed : plain);
    };
    flipSettings();
    constexpr std::uint32_t kSockets = 2000;
    for (std::uint32_t i = 0; i < kSockets; ++i) {
      const std::uint32_t remote =
          Ip(10, 1, static_cast<std::uint8_t>(i / 256), static_cast<std::uint8_t>(i % 256));
      source->Add(
          {Tcp(platform::EVENT_TYPE_NET_SEND, 5000, 100, remote, Ip(127, 0, 0, 1), 443, 40000)});
      flipSettings();
    }
    const auto ours = [](const TSocketInfo& s) { return s.ProcessId == 5000; };
    ASSERT_TRUE(WaitUntil([&] {
      std::lock_guard lock(ModelLock);
      return std::count_if(core.Tables.Sockets.begin(), core.Tables.Sockets.end(),
                           [&](const auto& s) { return ours(*s); }) == kSockets;
    }));
    std::lock_guard lock(ModelLock);
    for (const auto& s : core.Tables.Sockets) {
      if (!ours(*s)) continue;
      const auto& entry =
          core.AddressTable()->Entries()[core.AddressTable()->IndexOf(s->RemoteAddress)];
      const bool lookedUp = entry->LookupBuffer != nullptr;
      const std::int32_t window = s->PacketRateAvg.WindowSize();
      EXPECT_TRUE((window == 7 && !lookedUp) || (window == 1 && lookedUp))
          << DottedName(s->RemoteAddress) << ": window " << window;
    }
  }
}

}  // namespace
}  // namespace ombrix
