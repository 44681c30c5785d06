// The monitor's core: the statistics model, the performance data reader, the IP helper
// binding and the kernel trace wiring, with the start-up steps, the sampling tick and the
// closing order. It holds no window: the main window and the text front end both drive it
// and receive its window work through TFrontEnd.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitor/model/Tables.h"
#include "monitor/perfdata/CollectCounter.h"
#include "monitor/shell/ErrorBox.h"
#include "monitor/shell/ProcessLog.h"
#include "platform/network/HostLookup.h"

namespace ombrix {

class TAddressTable;
class TEventHandlers;
class THistoryRecorder;
class TIpHelper;
class TKernelEventTrace;
class TPerformanceData;

// What a front end does for the core. Every call but ShowError and ShowNotice comes with
// ModelLock held.
class TFrontEnd {
 public:
  virtual ~TFrontEnd() = default;
  virtual void AddTrayIcon() {}
  // Always-on-top, the clock, the timer, the grid font and the about window.
  virtual void StartWindow() {}
  virtual void SetStatusText(const std::string& /*text*/) {}
  // The indicator texts and the tray tip.
  virtual void UpdateIndicatorTexts() {}
  // The clock and the state icons' hints, when the window shows.
  virtual void UpdateWindowFigures() {}
  virtual void UpdateStateIcons() {}
  virtual void RefreshGrid() {}
  // A message the user is told once, without the box: the status line, or standard error.
  virtual void ShowNotice(const std::string& text) { SetStatusText(text); }
  // The application's error box. Called without ModelLock, one at a time (see TErrorBox).
  virtual void ShowError(const std::string& text) = 0;
};

// Events the trace delivered to the handlers, per class.
struct TEventCounts {
  std::atomic<std::uint64_t> DiskIo{0}, FileIo{0}, Process{0}, Network{0}, Registry{0};
};

inline constexpr const char* TraceWrittenText = "Sample has been written to \"trace.txt\"";
inline constexpr const char* TraceEnabledText = "Single sample trace has been enabled";

// The model objects the counter collection writes into. A base of the core, so that they exist
// before the collection is given them.
class TCoreModel {
 public:
  TCoreModel(const TCoreModel&) = delete;
  TCoreModel& operator=(const TCoreModel&) = delete;

 protected:
  TCoreModel();
  ~TCoreModel();
  TCollectionTargets Targets() const;

  std::unique_ptr<TEntityTables> tables_;
  std::unique_ptr<TMemoryInfo> memory_;
  std::unique_ptr<TAverage> cpuUsageAverage_, cpuQueueAverage_, diskBusyAverage_, diskQueueAverage_;
};

class TMonitorCore : private TCoreModel, public TCounterCollection {
 public:
  using HostLookupFactory = std::function<std::unique_ptr<platform::HostLookup>()>;

  // trace may be none: the monitor then runs on performance data and the IP helper alone.
  // The lookup factory defaults to the platform's reverse lookups.
  TMonitorCore(TFrontEnd& frontEnd, TKernelEventTrace* trace, HostLookupFactory lookups = {});
  // The model goes in the closing order: the tables with their entities, then the reader,
  // averages, bindings.
  ~TMonitorCore();
  TMonitorCore(const TMonitorCore&) = delete;
  TMonitorCore& operator=(const TMonitorCore&) = delete;

  // The start-up steps in their order, the front end's own steps included. A step that
  // raises is reported and the steps after it still run; each later step copes with what
  // an earlier one failed to make (no first block, no trace), so the monitor never stands
  // half-started without having said so.
  void Start();
  // One sampling tick. An error ends the tick, releases the lock and is shown; the next
  // tick starts afresh.
  void RunTick();
  // The tick itself, raising its errors (for callers that report them their own way).
  void Tick();

  // The closing paths' model work: the kernel trace stops (repeated calls are harmless);
  // Exit also writes the process log's stop record, the end of the session does not.
  void StopTrace();
  void WriteStopRecord();

  // From now on every tick's figures and top consumers go to the history file at path, for
  // HistoryDays days (0 keeps none); now stands in for the wall clock in tests.
  void StartHistory(const std::string& path, std::function<std::int64_t()> now = {});
  const THistoryRecorder* History() const { return history_.get(); }
  const std::string& HistoryPath() const { return historyPath_; }

  // Asks the next tick to write the sample and the internal memory report to trace.txt.
  void RequestTrace();

  // Seeding from a TCP table in the 24-byte row layout; rows beyond size are ignored.
  void SeedSocketsFrom(const std::uint8_t* table, std::uint32_t size);
  void SeedSockets();
  void WriteMemoryReport();

  TPerformanceData* PerformanceData() const { return performanceData_.get(); }
  TIpHelper* IpHelper() const { return ipHelper_.get(); }
  TAddressTable* AddressTable() const { return addressTable_.get(); }
  TAverage* IntervalAverage() const { return intervalAverage_.get(); }
  TEventHandlers* Handlers() const { return handlers_.get(); }
  TKernelEventTrace* KernelTrace() const { return trace_; }
  bool TraceStarted() const { return traceStarted_; }
  // Milliseconds the last tick held the model lock.
  double LockHeldMs() const { return lockHeldMs_; }
  const TEventCounts& EventCounts() const { return link_->Counts; }
  TErrorBox& Errors() { return errors_; }
  TProcessLogWriter& CompletionLog() { return completionLog_; }

 private:
  void RunStep(const std::function<void()>& step);
  void CreateModel();
  void CreateReader();
  void CreateAverages();
  void StartKernelTrace();
  void CreatePseudoProcesses();
  void CountEvents();
  void ReportSourceFaults();
  void RecordHistory();

  TFrontEnd& frontEnd_;
  TKernelEventTrace* trace_;
  HostLookupFactory lookups_;
  TErrorBox errors_;
  TProcessLogWriter completionLog_;
  std::vector<std::string> startErrors_;
  CounterVisitor visitor_;
  bool traceStarted_ = false;
  std::uint64_t reportedFaults_ = 0;
  std::atomic<double> lockHeldMs_{0};
  // Shared with the handlers in the trace's slots, which outlive the core: events still on
  // their way after the trace stopped find it closed and leave the freed tables alone.
  struct TTraceLink {
    TEventCounts Counts;
    bool Open = true;  // under ModelLock
  };
  std::shared_ptr<TTraceLink> link_ = std::make_shared<TTraceLink>();

  std::unique_ptr<TIpHelper> ipHelper_;
  std::unique_ptr<TPerformanceData> performanceData_;
  std::unique_ptr<TAddressTable> addressTable_;
  std::unique_ptr<TAverage> intervalAverage_;
  std::unique_ptr<TEventHandlers> handlers_;
  std::string historyPath_;
  std::unique_ptr<THistoryRecorder> history_;
};

}  // namespace ombrix
