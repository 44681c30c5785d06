// The kernel logger session over an event source: one session at a time, real-time consumers
// that receive the records of the enabled classes on the thread calling ProcessTrace.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/kernelevents/EventSource.h"
#include "platform/kernelevents/EventTrace.h"

namespace platform {

class KernelLogger final : public TraceService {
 public:
  using SourceFactory = std::function<std::unique_ptr<EventSource>()>;
  explicit KernelLogger(SourceFactory makeSource);
  ~KernelLogger() override;

  std::uint32_t StartTrace(TRACEHANDLE* session, std::string_view name,
                           EVENT_TRACE_PROPERTIES* properties) override;
  std::uint32_t ControlTrace(TRACEHANDLE session, std::string_view name,
                             EVENT_TRACE_PROPERTIES* properties, std::uint32_t control) override;
  TRACEHANDLE OpenTrace(EVENT_TRACE_LOGFILE* logfile) override;
  std::uint32_t SetTraceCallback(const GUID& guid, TraceEventCallback callback) override;
  std::uint32_t RemoveTraceCallback(const GUID& guid) override;
  std::uint32_t ProcessTrace(const TRACEHANDLE* handles, std::uint32_t count) override;
  std::uint32_t CloseTrace(TRACEHANDLE consumer) override;

 private:
  struct Session;
  struct Consumer;
  std::shared_ptr<Consumer> FindConsumer(TRACEHANDLE handle);
  TraceEventCallback ClassCallback(const GUID& guid);
  bool Deliver(Consumer& consumer, const Session& session, const EventRecord& record);

  SourceFactory makeSource_;
  std::mutex mutex_;
  std::shared_ptr<Session> session_;
  TRACEHANDLE sessionHandle_ = INVALID_TRACE_HANDLE;
  std::map<TRACEHANDLE, std::shared_ptr<Consumer>> consumers_;
  std::vector<std::pair<GUID, TraceEventCallback>> callbacks_;
  TRACEHANDLE nextHandle_ = 0x100000000ull;  // never the invalid value, never reused
};

}  // namespace platform
