#include "monitor/kerneltrace/KernelEventTrace.h"

#include <exception>

namespace ombrix {

using namespace platform;

std::atomic<std::uint32_t> ProcessingEnabled{0};

namespace {

// The trace whose consumer is open; the static callbacks reach the handlers through it.
std::atomic<TKernelEventTrace*> Consumer{nullptr};

constexpr std::size_t kLoggerNameSize = 512;

// A handler's exception ends that event only: the handler has released its locks on the way
// out, and the consumer thread must go on with the next event.
void Call(const TEventHandler& handler, const EVENT_TRACE* event) {
  try {
    handler(event);
  } catch (const std::exception&) {
  }
}

std::uint32_t BufferCallback(EVENT_TRACE_LOGFILE*) {
  return ProcessingEnabled.load();
}

void EventCallback(EVENT_TRACE* event) {
  TKernelEventTrace* trace = Consumer.load();
  if (ProcessingEnabled.load() == 1 && trace != nullptr && trace->OnEvent)
    Call(trace->OnEvent, event);
}

template <TEventHandler TKernelEventTrace::*Slot>
void ClassCallback(EVENT_TRACE* event) {
  TKernelEventTrace* trace = Consumer.load();
  if (ProcessingEnabled.load() == 1 && trace != nullptr && trace->*Slot) Call(trace->*Slot, event);
}

}  // namespace

void TManualResetEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void TManualResetEvent::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

void TManualResetEvent::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return signalled_; });
}

TKernelEventTrace::TKernelEventTrace() : Thread([this] { Execute(); }) {}

TKernelEventTrace::~TKernelEventTrace() {
  Terminated = true;
  Stop();
  WakeEvent.Set();
  if (Thread.joinable()) Thread.join();
  TKernelEventTrace* self = this;
  Consumer.compare_exchange_strong(self, nullptr);
}

std::uint32_t TKernelEventTrace::EnableFlags() const {
  std::uint32_t flags = 0;
  if (OnDiskIo) flags |= EVENT_TRACE_FLAG_DISK_IO;
  if (OnFileIo) flags |= EVENT_TRACE_FLAG_DISK_FILE_IO;
  if (OnProcess) flags |= EVENT_TRACE_FLAG_PROCESS;
  if (OnThread) flags |= EVENT_TRACE_FLAG_THREAD;
  if (OnRegistry) flags |= EVENT_TRACE_FLAG_REGISTRY;
  if (OnTcpIp || OnUdpIp) flags |= EVENT_TRACE_FLAG_NETWORK_TCPIP;
  return flags;
}

bool TKernelEventTrace::Start() {
  if (!StartSession()) return false;
  if (!OpenConsumer()) {
    const std::uint32_t status = LastStatus;
    StopSession();
    LastStatus = status;  // why the consumer failed, not that the stop went well
    return false;
  }
  LastStatus = SourceStatus;
  WakeEvent.Set();
  return true;
}

void TKernelEventTrace::Stop() {
  CloseConsumer();
  StopSession();
  // A stopped trace waits for the next Start instead of passing through ProcessEvents again
  // and again.
  if (!Terminated) WakeEvent.Reset();
}

bool TKernelEventTrace::StartSession() {
  LastStatus = 0;
  SourceStatus = 0;
  if (SessionHandle != INVALID_TRACE_HANDLE) return false;
  EVENT_TRACE_PROPERTIES properties{};
  properties.BufferSize = sizeof properties;
  properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
  properties.Guid = SystemTraceControlGuid;
  properties.EnableFlags = EnableFlags();
  TRACEHANDLE session = INVALID_TRACE_HANDLE;
  LastStatus = platform::StartTrace(&session, KERNEL_LOGGER_NAME, &properties);
  if (LastStatus != 0) return false;
  SessionHandle = session;
  SourceStatus = properties.SourceStatus;
  return true;
}

bool TKernelEventTrace::StopSession() {
  LastStatus = 0;
  const TRACEHANDLE session = SessionHandle;
  if (session == INVALID_TRACE_HANDLE) return true;
  EVENT_TRACE_PROPERTIES properties{};
  properties.BufferSize = sizeof properties;
  properties.Guid = SystemTraceControlGuid;
  LastStatus =
      platform::ControlTrace(session, KERNEL_LOGGER_NAME, &properties, EVENT_TRACE_CONTROL_STOP);
  SessionHandle = INVALID_TRACE_HANDLE;  // forgotten whatever the result
  return LastStatus == 0;
}

bool TKernelEventTrace::OpenConsumer() {
  LastStatus = 0;
  ProcessingEnabled = 1;
  if (TraceHandle != INVALID_TRACE_HANDLE) return false;
  ConsumerLogFile = {};
  std::string loggerName(KERNEL_LOGGER_NAME);
  loggerName.reserve(kLoggerNameSize);
  ConsumerLogFile.LoggerName = loggerName.c_str();
  Consumer = this;
  if (OnConfig)
    platform::SetTraceCallback(EventTraceConfigGuid, ClassCallback<&TKernelEventTrace::OnConfig>);
  if (OnDiskIo) platform::SetTraceCallback(DiskIoGuid, ClassCallback<&TKernelEventTrace::OnDiskIo>);
  if (OnFileIo) platform::SetTraceCallback(FileIoGuid, ClassCallback<&TKernelEventTrace::OnFileIo>);
  if (OnProcess)
    platform::SetTraceCallback(ProcessGuid, ClassCallback<&TKernelEventTrace::OnProcess>);
  if (OnThread) platform::SetTraceCallback(ThreadGuid, ClassCallback<&TKernelEventTrace::OnThread>);
  if (OnRegistry)
    platform::SetTraceCallback(RegistryGuid, ClassCallback<&TKernelEventTrace::OnRegistry>);
  if (OnTcpIp) platform::SetTraceCallback(TcpIpGuid, ClassCallback<&TKernelEventTrace::OnTcpIp>);
  if (OnUdpIp) platform::SetTraceCallback(UdpIpGuid, ClassCallback<&TKernelEventTrace::OnUdpIp>);
  ConsumerLogFile.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
  ConsumerLogFile.BufferCallback = BufferCallback;
  ConsumerLogFile.EventCallback = EventCallback;
  TraceHandle = platform::OpenTrace(&ConsumerLogFile);
  ConsumerLogFile.LoggerName = nullptr;  // the name buffer goes with this call
  return TraceHandle != INVALID_TRACE_HANDLE;
}

void TKernelEventTrace::CloseConsumer() {
  ProcessingEnabled = 0;
  const TRACEHANDLE consumer = TraceHandle;
  if (consumer == INVALID_TRACE_HANDLE) return;
  // The thread class too: a callback left behind would outlive its handler.
  for (const GUID& guid : {EventTraceConfigGuid, DiskIoGuid, FileIoGuid, ProcessGuid, ThreadGuid,
                           RegistryGuid, TcpIpGuid, UdpIpGuid})
    platform::RemoveTraceCallback(guid);
  platform::CloseTrace(consumer);
  TraceHandle = INVALID_TRACE_HANDLE;
}

bool TKernelEventTrace::ProcessEvents() {
  const TRACEHANDLE consumer = TraceHandle;
  if (consumer == INVALID_TRACE_HANDLE) return false;
  const std::uint32_t status = platform::ProcessTrace(&consumer, 1);
  // Only a failure replaces LastStatus: the status Start left there (a missing source) must
  // survive the consumer's passes.
  if (status != 0 && status != ERROR_CANCELLED) LastStatus = status;
  return status == 0 || status == ERROR_CANCELLED;
}

void TKernelEventTrace::Execute() {
  WakeEvent.Wait();
  while (!Terminated) {
    ++passes_;
    ProcessEvents();
    WakeEvent.Wait();
  }
}

}  // namespace ombrix
