#include "monitor/shell/MonitorCore.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/history/HistoryCapture.h"
#include "monitor/history/HistoryRecorder.h"
#include "monitor/kerneltrace/EventHandlers.h"
#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/ModelLock.h"
#include "monitor/network/AddressTable.h"
#include "monitor/network/IpHelper.h"
#include "monitor/network/PortNames.h"
#include "monitor/perfdata/Statistics.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/CoreFigures.h"
#include "platform/checked/Checked.h"
#include "platform/kernelevents/EventBackend.h"
#include "platform/network/NetworkInfo.h"
#include "platform/paths/Paths.h"
#include "platform/tickcount/TickCount.h"

namespace ombrix {

namespace {

// How long the tick held the model lock, for the statistics.
class TLockTimer {
 public:
  explicit TLockTimer(std::atomic<double>& out)
      : out_(out), start_(std::chrono::steady_clock::now()) {}
  ~TLockTimer() {
    const std::chrono::duration<double, std::milli> held =
        std::chrono::steady_clock::now() - start_;
    out_ = held.count();
  }

 private:
  std::atomic<double>& out_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace

// Averages join the global registry as they are made and leave it as they go: under the lock.
TCoreModel::TCoreModel() {
  std::lock_guard lock(ModelLock);
  tables_ = std::make_unique<TEntityTables>();
  memory_ = std::make_unique<TMemoryInfo>();
  cpuUsageAverage_ = std::make_unique<TAverage>();
  cpuQueueAverage_ = std::make_unique<TAverage>();
  diskBusyAverage_ = std::make_unique<TAverage>();
  diskQueueAverage_ = std::make_unique<TAverage>();
}

TCoreModel::~TCoreModel() {
  std::lock_guard lock(ModelLock);
  tables_.reset();
  memory_.reset();
  cpuUsageAverage_.reset();
  cpuQueueAverage_.reset();
  diskBusyAverage_.reset();
  diskQueueAverage_.reset();
}

TCollectionTargets TCoreModel::Targets() const {
  return {*tables_,          *memory_,          *cpuUsageAverage_,
          *cpuQueueAverage_, *diskBusyAverage_, *diskQueueAverage_};
}

TMonitorCore::TMonitorCore(TFrontEnd& frontEnd, TKernelEventTrace* trace, HostLookupFactory lookups)
    : TCounterCollection(Targets()),
      frontEnd_(frontEnd),
      trace_(trace),
      lookups_(std::move(lookups)),
      errors_([this](const std::string& text) { frontEnd_.ShowError(text); }),
      completionLog_(ProcessLog) {
  if (!lookups_) lookups_ = [] { return platform::CreateHostLookup(); };
  visitor_ = Visitor();
}

TMonitorCore::~TMonitorCore() {
  // Every closing path has stopped the trace already; stopping again is harmless and keeps
  // the consumer thread out of the tables that go now.
  StopTrace();
  std::lock_guard lock(ModelLock);
  link_->Open = false;
  IdleProcess = InterruptsProcess = DpcsProcess = nullptr;
  tables_.reset();  // files, disks, sockets, adapters, processes, then the row list
  performanceData_.reset();
  cpuUsageAverage_.reset();
  cpuQueueAverage_.reset();
  memory_.reset();
  diskBusyAverage_.reset();
  diskQueueAverage_.reset();
  intervalAverage_.reset();
  handlers_.reset();
  ipHelper_.reset();
  addressTable_.reset();
}

void TMonitorCore::RunStep(const std::function<void()>& step) {
  try {
    step();
  } catch (const std::exception& e) {
    startErrors_.emplace_back(e.what());
  }
}

void TMonitorCore::Start() {
  startErrors_.clear();
  CreateModel();
  RunStep([this] { CreateReader(); });
  RunStep([this] {
    // The memory limit in whole megabytes, one more than the machine has.
    const std::uint64_t bytes = performanceData_ ? performanceData_->PhysicalMemoryBytes() : 0;
    std::lock_guard lock(ModelLock);
    const std::string notice =
        LoadSettings(platform::CheckedCast<std::int32_t>(bytes / 1048576 + 1));
    if (!notice.empty()) startErrors_.push_back(notice);
  });
  ProcessorCount = 1;
  RunStep([this] {
    addressTable_ = std::make_unique<TAddressTable>(lookups_(), ModelLock);
    tables_->AddressTable = addressTable_.get();
  });
  CreateAverages();
  RunStep([this] { frontEnd_.AddTrayIcon(); });
  RunStep([] { LoadPortNames(); });
  RunStep([this] { StartKernelTrace(); });
  CreatePseudoProcesses();
  RunStep([this] { SeedSockets(); });
  RunStep([this] { frontEnd_.StartWindow(); });
  for (const std::string& text : startErrors_) errors_.Report(text);
}

void TMonitorCore::CreateModel() {
  std::lock_guard lock(ModelLock);
  tables_->CompletionLog = &completionLog_;
  ipHelper_ = std::make_unique<TIpHelper>();
  TraceFile.SetFileName(platform::ProgramFile("trace.txt"));
}

void TMonitorCore::CreateReader() {
  performanceData_ = std::make_unique<TPerformanceData>(std::string());
  performanceData_->QueryText = CollectQueryText;
  // The first tick's values need a previous block.
  std::lock_guard lock(ModelLock);
  SampleIntervalStart = platform::GetTickCount();
  performanceData_->Sample();
}

void TMonitorCore::CreateAverages() {
  std::lock_guard lock(ModelLock);
  memory_->TotalBytes =
      performanceData_ ? static_cast<std::int64_t>(performanceData_->PhysicalMemoryBytes()) : 0;
  intervalAverage_ = std::make_unique<TAverage>();
  ApplySmoothing();
}

void TMonitorCore::StartKernelTrace() {
  handlers_ = std::make_unique<TEventHandlers>(*tables_, *ipHelper_);
  if (trace_ == nullptr) return;
  handlers_->Install(*trace_);
  CountEvents();  // before Start: the slots are not touched while the trace runs
  // Without a trace the monitor runs on performance data and the IP helper alone.
  traceStarted_ = trace_->Start();
}

void TMonitorCore::CountEvents() {
  const auto guarded = [link = link_](TEventHandler& slot,
                                      std::atomic<std::uint64_t> TEventCounts::*count) {
    if (!slot) return;
    slot = [inner = slot, link, count](const platform::EVENT_TRACE* e) {
      std::lock_guard lock(ModelLock);
      if (!link->Open) return;
      (link->Counts.*count).fetch_add(1, std::memory_order_relaxed);
      inner(e);
    };
  };
  guarded(trace_->OnDiskIo, &TEventCounts::DiskIo);
  guarded(trace_->OnFileIo, &TEventCounts::FileIo);
  guarded(trace_->OnProcess, &TEventCounts::Process);
  guarded(trace_->OnTcpIp, &TEventCounts::Network);
  guarded(trace_->OnUdpIp, &TEventCounts::Network);
  guarded(trace_->OnRegistry, &TEventCounts::Registry);
}

void TMonitorCore::CreatePseudoProcesses() {
  std::lock_guard lock(ModelLock);
  const auto make = [this](const char* name) {
    auto p = std::make_unique<TProcessInfo>(tables_.get(), 0);
    p->SetName(name);
    return tables_->InsertProcess(std::move(p));
  };
  IdleProcess = make("_Idle");
  InterruptsProcess = make("_Interrupts");
  DpcsProcess = make("_DPCs");
}

void TMonitorCore::SeedSockets() {
  std::uint32_t size = 0;
  ipHelper_->TcpTable(nullptr, size, true, TIpHelper::AfInet, TIpHelper::TcpTableOwnerPidAll);
  if (size == 0) return;
  std::uint32_t bufferSize = platform::CheckedAdd<std::uint32_t>(size, 1024);
  std::vector<std::uint8_t> buffer(bufferSize);
  if (ipHelper_->TcpTable(buffer.data(), bufferSize, true, TIpHelper::AfInet,
                          TIpHelper::TcpTableOwnerPidAll) != TIpHelper::NoError)
    return;
  SeedSocketsFrom(buffer.data(), std::min<std::uint32_t>(bufferSize, size + 1024));
}

void TMonitorCore::SeedSocketsFrom(const std::uint8_t* table, std::uint32_t size) {
  if (size < sizeof(std::uint32_t)) return;
  std::uint32_t count = 0;
  std::memcpy(&count, table, sizeof count);
  // A count larger than the rows the buffer holds is cut to what is there.
  const std::uint32_t fits = (size - sizeof count) / sizeof(platform::TcpRow);
  count = std::min(count, fits);
  std::lock_guard lock(ModelLock);
  for (std::uint32_t i = 0; i < count; ++i) {
    platform::TcpRow row{};
    std::memcpy(&row, table + sizeof count + i * sizeof row, sizeof row);
    // Owner 0 is a connection whose process we may not see (another user's, without root),
    // not the pseudo processes of id 0.
    if (row.State != platform::TcpStateEstablished || row.OwningPid == 0) continue;
    TSocketInfo* socket = tables_->FindOrCreateSocket(
        row.OwningPid, platform::NetworkToHost32(row.RemoteAddr),
        platform::NetworkToHost16(static_cast<std::uint16_t>(row.RemotePort)));
    socket->Touch(true);
    if (socket->Process == nullptr) socket->Process = tables_->FindProcess(row.OwningPid);
    if (socket->Process != nullptr) socket->Process->SawNetwork = true;
  }
}

void TMonitorCore::RunTick() {
  try {
    Tick();
    RecordHistory();
  } catch (const std::exception& e) {
    // Reported after the tick let go of the lock: the box is modal and the trace thread
    // must not wait for the user.
    errors_.Report(e.what());
  }
  ReportSourceFaults();
}

// The event source switches to polling on its own when the probe stops serving; the user
// hears of it once per stop.
void TMonitorCore::ReportSourceFaults() {
  const platform::EventSourceState source = platform::EventSourceStats();
  if (source.Faults == reportedFaults_) return;
  reportedFaults_ = source.Faults;
  errors_.Report("Kernel events: " + source.Reason + "; watching by polling from now on");
}

void TMonitorCore::Tick() {
  // The next block is read from /proc before the lock: the event thread never waits for that.
  if (performanceData_) performanceData_->Prefetch();
  std::lock_guard lock(ModelLock);
  TLockTimer timer(lockHeldMs_);
  tables_->ResetActivity();
  if (performanceData_) {
    TPerformanceData& data = *performanceData_;
    data.Sample();
    if (data.TraceRequest) {
      data.TraceRequest = false;
      WriteMemoryReport();
      frontEnd_.SetStatusText(TraceWrittenText);
    }
    intervalAverage_->Add(data.IntervalSeconds());
    BeginCollection();
    data.ForEachCounter(visitor_);
  }
  tables_->SweepProcesses();
  if (tables_->ProcessListChanged && Settings.LogProcesses) ProcessLog.Flush();
  tables_->PruneIfDue();
  frontEnd_.UpdateIndicatorTexts();
  frontEnd_.UpdateWindowFigures();
  tables_->CloseIntervals();
  SampleIntervalStart = platform::GetTickCount();
  frontEnd_.UpdateStateIcons();
  frontEnd_.RefreshGrid();
}

void TMonitorCore::StartHistory(const std::string& path, std::function<std::int64_t()> now) {
  historyPath_ = path;
  history_ = std::make_unique<THistoryRecorder>(THistoryOptions{path, Settings.HistoryDays, now});
}

// Copied under the lock, written by the recorder's own thread: the tick holds the lock no
// longer for it.
void TMonitorCore::RecordHistory() {
  if (!history_) return;
  THistorySample sample;
  {
    std::lock_guard lock(ModelLock);
    const TFigures f = CoreFigures(*this);
    const double interval = performanceData_ ? performanceData_->IntervalSeconds() : 0;
    sample =
        CaptureSample(*tables_, IdleProcess, {f.CpuInuse, f.MemoryInuse, f.DiskBusy, f.NetworkBusy},
                      history_->Now(), std::llround(interval * 1000));
  }
  history_->Add(std::move(sample));
  for (const std::string& notice : history_->TakeNotices()) frontEnd_.ShowNotice(notice);
}

void TMonitorCore::StopTrace() {
  if (trace_ != nullptr) trace_->Stop();
}

void TMonitorCore::WriteStopRecord() {
  ombrix::WriteStopRecord(platform::ProgramPath());
}

void TMonitorCore::RequestTrace() {
  std::lock_guard lock(ModelLock);
  if (performanceData_) performanceData_->TraceRequest = true;
  frontEnd_.SetStatusText(TraceEnabledText);
}

}  // namespace ombrix
