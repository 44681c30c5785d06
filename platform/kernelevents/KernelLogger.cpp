#include "platform/kernelevents/KernelLogger.h"

#include <atomic>

namespace platform {

struct KernelLogger::Session {
  std::unique_ptr<EventSource> Source;
  std::uint32_t EnableFlags = 0;
  std::atomic<bool> Stopped{false};
  std::mutex PollMutex;  // one Poll at a time, whichever consumer calls it
};

struct KernelLogger::Consumer {
  EVENT_TRACE_LOGFILE LogFile{};
  std::atomic<bool> Closed{false};
};

KernelLogger::KernelLogger(SourceFactory makeSource) : makeSource_(std::move(makeSource)) {}

KernelLogger::~KernelLogger() {
  // Consumers still inside ProcessTrace would outlive us; the owner must close them first.
  std::lock_guard lock(mutex_);
  if (session_) session_->Stopped = true;
}

std::uint32_t KernelLogger::StartTrace(TRACEHANDLE* session, std::string_view name,
                                       EVENT_TRACE_PROPERTIES* properties) {
  if (session == nullptr || properties == nullptr) return ERROR_INVALID_PARAMETER;
  if (name != KERNEL_LOGGER_NAME) return ERROR_BAD_PATHNAME;
  if (properties->Guid != SystemTraceControlGuid ||
      (properties->LogFileMode & EVENT_TRACE_REAL_TIME_MODE) == 0)
    return ERROR_INVALID_PARAMETER;
  properties->SourceStatus = 0;

  std::lock_guard lock(mutex_);
  if (session_) return ERROR_ALREADY_EXISTS;
  auto started = std::make_shared<Session>();
  started->Source = makeSource_();
  started->EnableFlags = properties->EnableFlags;
  const SourceOpenResult opened = started->Source->Open(properties->EnableFlags);
  if (!opened.Opened) return opened.FirstError != 0 ? opened.FirstError : ERROR_INVALID_PARAMETER;
  properties->SourceStatus = opened.FirstError;
  session_ = std::move(started);
  sessionHandle_ = nextHandle_++;
  *session = sessionHandle_;
  return ERROR_SUCCESS;
}

std::uint32_t KernelLogger::ControlTrace(TRACEHANDLE session, std::string_view name,
                                         EVENT_TRACE_PROPERTIES* properties,
                                         std::uint32_t control) {
  if (properties == nullptr || control != EVENT_TRACE_CONTROL_STOP) return ERROR_INVALID_PARAMETER;
  if (name != KERNEL_LOGGER_NAME) return ERROR_BAD_PATHNAME;
  std::shared_ptr<Session> stopped;
  {
    std::lock_guard lock(mutex_);
    if (!session_ || session != sessionHandle_) return ERROR_WMI_INSTANCE_NOT_FOUND;
    stopped = std::move(session_);
    sessionHandle_ = INVALID_TRACE_HANDLE;
  }
  // A consumer may still be polling; it notices the stop and drops the last reference, which
  // closes the source on its thread. Nothing here waits for it.
  stopped->Stopped = true;
  stopped->Source->Wake();
  return ERROR_SUCCESS;
}

TRACEHANDLE KernelLogger::OpenTrace(EVENT_TRACE_LOGFILE* logfile) {
  if (logfile == nullptr || logfile->LoggerName == nullptr ||
      logfile->LoggerName != KERNEL_LOGGER_NAME ||
      (logfile->LogFileMode & EVENT_TRACE_REAL_TIME_MODE) == 0)
    return INVALID_TRACE_HANDLE;
  auto consumer = std::make_shared<Consumer>();
  consumer->LogFile = *logfile;
  consumer->LogFile.LoggerName = KERNEL_LOGGER_NAME.data();  // the caller's buffer may go
  std::lock_guard lock(mutex_);
  const TRACEHANDLE handle = nextHandle_++;
  consumers_.emplace(handle, std::move(consumer));
  return handle;
}

std::uint32_t KernelLogger::SetTraceCallback(const GUID& guid, TraceEventCallback callback) {
  if (callback == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  for (auto& [known, existing] : callbacks_) {
    if (known == guid) {
      existing = callback;
      return ERROR_SUCCESS;
    }
  }
  callbacks_.emplace_back(guid, callback);
  return ERROR_SUCCESS;
}

std::uint32_t KernelLogger::RemoveTraceCallback(const GUID& guid) {
  std::lock_guard lock(mutex_);
  for (auto it = callbacks_.begin(); it != callbacks_.end(); ++it) {
    if (it->first == guid) {
      callbacks_.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_WMI_INSTANCE_NOT_FOUND;
}

std::uint32_t KernelLogger::CloseTrace(TRACEHANDLE handle) {
  std::shared_ptr<Consumer> consumer;
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    const auto found = consumers_.find(handle);
    if (found == consumers_.end()) return ERROR_INVALID_HANDLE;
    consumer = std::move(found->second);
    consumers_.erase(found);
    session = session_;
  }
  consumer->Closed = true;
  if (session) session->Source->Wake();  // ends a ProcessTrace blocked in Poll
  return ERROR_SUCCESS;
}

std::shared_ptr<KernelLogger::Consumer> KernelLogger::FindConsumer(TRACEHANDLE handle) {
  std::lock_guard lock(mutex_);
  const auto found = consumers_.find(handle);
  return found == consumers_.end() ? nullptr : found->second;
}

TraceEventCallback KernelLogger::ClassCallback(const GUID& guid) {
  std::lock_guard lock(mutex_);
  for (const auto& [known, callback] : callbacks_)
    if (known == guid) return callback;
  return nullptr;
}

bool KernelLogger::Deliver(Consumer& consumer, const Session& session, const EventRecord& record) {
  if (consumer.Closed) return false;
  const std::uint32_t flag = EnableFlagOfClass(record.Header.Guid);
  if (flag == 0 || (session.EnableFlags & flag) == 0) return true;  // not asked for
  EVENT_TRACE event = record.View();
  if (consumer.LogFile.EventCallback != nullptr) consumer.LogFile.EventCallback(&event);
  if (const TraceEventCallback callback = ClassCallback(record.Header.Guid)) callback(&event);
  return true;
}

std::uint32_t KernelLogger::ProcessTrace(const TRACEHANDLE* handles, std::uint32_t count) {
  if (handles == nullptr || count != 1) return ERROR_INVALID_PARAMETER;
  const std::shared_ptr<Consumer> consumer = FindConsumer(*handles);
  if (!consumer) return ERROR_INVALID_HANDLE;
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    session = session_;
  }
  if (!session) return ERROR_WMI_INSTANCE_NOT_FOUND;

  std::vector<EventRecord> batch;
  for (;;) {
    if (consumer->Closed) return ERROR_CANCELLED;
    if (session->Stopped) return ERROR_SUCCESS;
    batch.clear();
    {
      std::lock_guard pollLock(session->PollMutex);
      session->Source->Poll(batch);
    }
    for (const EventRecord& record : batch)
      if (!Deliver(*consumer, *session, record)) break;
    TraceBufferCallback bufferCallback = consumer->LogFile.BufferCallback;
    if (bufferCallback != nullptr && bufferCallback(&consumer->LogFile) == 0)
      return ERROR_CANCELLED;
  }
}

}  // namespace platform
