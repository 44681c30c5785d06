// The core's wiring of the kernel trace: events reach the tables through the installed
// handlers, and events still flowing while the core goes away never touch freed tables.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/ModelLock.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/MonitorCore.h"
#include "tests/support/EventRecordBuilder.h"
#include "tests/support/ReplayEventSource.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;

class SilentFrontEnd : public TFrontEnd {
 public:
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  std::vector<std::string> Errors;
};

template <typename Condition>
bool Eventually(Condition done) {
  for (int i = 0; i < 500 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(CoreTrace, EventsReachTheTablesAndOutliveTheCoreSafely) {
  Settings = TSettings{};
  auto source = std::make_shared<TReplayEventSource>(
      std::vector<TReplayEventSource::Batch>{
          {ProcessStart(424242, "/usr/bin/worker"), DiskIo(424242, 7, 4096)}},
      true);
  auto logger = ReplayLogger(source);
  platform::SetEventTracing(logger.get());
  {
    TKernelEventTrace trace;
    SilentFrontEnd frontEnd;
    auto core = std::make_unique<TMonitorCore>(frontEnd, &trace, [] { return nullptr; });
    core->FormCreate();
    EXPECT_TRUE(core->TraceStarted());
    ASSERT_TRUE(Eventually([&] { return core->EventCounts().DiskIo.load() > 50; }));
    EXPECT_GT(core->EventCounts().Process.load(), 0u);
    {
      std::lock_guard lock(ModelLock);
      TProcessInfo* p = core->Tables->FindProcess(424242);
      ASSERT_NE(p, nullptr);
      EXPECT_FALSE(p->Partial);  // its start was seen
      EXPECT_NE(core->Tables->FindOrCreateFile(424242, 7)->IoCount, 0);
    }
    core.reset();  // while the replay keeps delivering
    // Give records already on their way the time to arrive at the closed handlers.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(frontEnd.Errors.empty());
  }
  platform::SetEventTracing(nullptr);
}

}  // namespace
}  // namespace ombrix
