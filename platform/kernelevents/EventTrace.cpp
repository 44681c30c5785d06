#include "platform/kernelevents/EventTrace.h"

#include <atomic>

#include "platform/kernelevents/EventBackend.h"
#include "platform/kernelevents/KernelLogger.h"

namespace platform {
namespace {

std::atomic<TraceService*> g_tracing{nullptr};

TraceService& LinuxTracing() {
  static KernelLogger logger([] { return std::make_unique<PreferredEventSource>(); });
  return logger;
}

}  // namespace

std::uint32_t EnableFlagOfClass(const GUID& guid) {
  if (guid == DiskIoGuid) return EVENT_TRACE_FLAG_DISK_IO;
  if (guid == FileIoGuid) return EVENT_TRACE_FLAG_DISK_FILE_IO;
  if (guid == ProcessGuid) return EVENT_TRACE_FLAG_PROCESS;
  if (guid == ThreadGuid) return EVENT_TRACE_FLAG_THREAD;
  if (guid == RegistryGuid) return EVENT_TRACE_FLAG_REGISTRY;
  if (guid == TcpIpGuid || guid == UdpIpGuid) return EVENT_TRACE_FLAG_NETWORK_TCPIP;
  return 0;
}

void SetEventTracing(TraceService* tracing) {
  g_tracing.store(tracing);
}

TraceService& EventTracing() {
  TraceService* installed = g_tracing.load();
  return installed != nullptr ? *installed : LinuxTracing();
}

std::uint32_t StartTrace(TRACEHANDLE* session, std::string_view name,
                         EVENT_TRACE_PROPERTIES* properties) {
  return EventTracing().StartTrace(session, name, properties);
}
std::uint32_t ControlTrace(TRACEHANDLE session, std::string_view name,
                           EVENT_TRACE_PROPERTIES* properties, std::uint32_t control) {
  return EventTracing().ControlTrace(session, name, properties, control);
}
TRACEHANDLE OpenTrace(EVENT_TRACE_LOGFILE* logfile) {
  return EventTracing().OpenTrace(logfile);
}
std::uint32_t SetTraceCallback(const GUID& guid, TraceEventCallback callback) {
  return EventTracing().SetTraceCallback(guid, callback);
}
std::uint32_t RemoveTraceCallback(const GUID& guid) {
  return EventTracing().RemoveTraceCallback(guid);
}
std::uint32_t ProcessTrace(const TRACEHANDLE* handles, std::uint32_t count) {
  return EventTracing().ProcessTrace(handles, count);
}
std::uint32_t CloseTrace(TRACEHANDLE consumer) {
  return EventTracing().CloseTrace(consumer);
}

}  // namespace platform
