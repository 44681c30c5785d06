// The kernel event trace service: a real-time session of the kernel logger whose event records
// keep the published header and payload layouts, consumed one record at a time inside
// ProcessTrace on the caller's thread. The shapes follow what the trace session expects of the
// platform; the Linux sources behind them live in this folder too.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/status/Status.h"

namespace platform {

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
  friend bool operator==(const GUID&, const GUID&) = default;
};

// Published header of one event record (48 bytes; Class.Type at byte 4, ProcessId at byte 12).
struct EVENT_TRACE_HEADER {
  std::uint16_t Size;
  std::uint8_t HeaderType;
  std::uint8_t MarkerFlags;
  struct {
    std::uint8_t Type;
    std::uint8_t Level;
    std::uint16_t Version;
  } Class;
  std::uint32_t ThreadId;
  std::uint32_t ProcessId;
  std::int64_t TimeStamp;
  GUID Guid;
  std::uint32_t KernelTime;
  std::uint32_t UserTime;
};
static_assert(sizeof(EVENT_TRACE_HEADER) == 48);
static_assert(offsetof(EVENT_TRACE_HEADER, Class.Type) == 4);
static_assert(offsetof(EVENT_TRACE_HEADER, ProcessId) == 12);
static_assert(offsetof(EVENT_TRACE_HEADER, Guid) == 24);

// One delivered event. MofData points at MofLength bytes of class-specific data that stay
// valid only during the callback.
struct EVENT_TRACE {
  EVENT_TRACE_HEADER Header;
  std::uint32_t InstanceId;
  std::uint32_t ParentInstanceId;
  GUID ParentGuid;
  const void* MofData;
  std::uint32_t MofLength;
  std::uint32_t ClientContext;
};

using TRACEHANDLE = std::uint64_t;
inline constexpr TRACEHANDLE INVALID_TRACE_HANDLE = 0xFFFFFFFF;

struct EVENT_TRACE_LOGFILE;
using TraceEventCallback = void (*)(EVENT_TRACE* event);
using TraceBufferCallback = std::uint32_t (*)(EVENT_TRACE_LOGFILE* logfile);

// Description of a real-time consumer, handed to OpenTrace.
struct EVENT_TRACE_LOGFILE {
  const char* LoggerName;
  std::uint32_t LogFileMode;
  TraceBufferCallback BufferCallback;  // 0 from it ends ProcessTrace
  TraceEventCallback EventCallback;    // every event, before its class callback
};

// Session properties for StartTrace and ControlTrace.
struct EVENT_TRACE_PROPERTIES {
  std::uint32_t BufferSize;
  GUID Guid;
  std::uint32_t LogFileMode;
  std::uint32_t EnableFlags;
  // Out: the first errno of an event source that could not open although the session started
  // (a source needing a privilege the process lacks); 0 when every requested source opened.
  std::uint32_t SourceStatus;
};

// Status codes: platform/status/Status.h.

inline constexpr std::uint32_t EVENT_TRACE_REAL_TIME_MODE = 0x100;
inline constexpr std::uint32_t EVENT_TRACE_CONTROL_STOP = 1;
inline constexpr std::string_view KERNEL_LOGGER_NAME = "NT Kernel Logger";

// Enable flags of the kernel logger.
inline constexpr std::uint32_t EVENT_TRACE_FLAG_PROCESS = 0x1;
inline constexpr std::uint32_t EVENT_TRACE_FLAG_THREAD = 0x2;
inline constexpr std::uint32_t EVENT_TRACE_FLAG_DISK_IO = 0x100;
inline constexpr std::uint32_t EVENT_TRACE_FLAG_DISK_FILE_IO = 0x200;
inline constexpr std::uint32_t EVENT_TRACE_FLAG_NETWORK_TCPIP = 0x10000;
inline constexpr std::uint32_t EVENT_TRACE_FLAG_REGISTRY = 0x20000;

// Session control GUID and event class GUIDs.
inline constexpr GUID SystemTraceControlGuid{
    0x9E814AAD, 0x3204, 0x11D2, {0x9A, 0x82, 0x00, 0x60, 0x08, 0xA8, 0x69, 0x39}};
inline constexpr GUID DiskIoGuid{
    0x3D6FA8D4, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};
inline constexpr GUID FileIoGuid{
    0x90CBDC39, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}};
inline constexpr GUID EventTraceConfigGuid{
    0x01853A65, 0x418F, 0x4F36, {0xAE, 0xFC, 0xDC, 0x0F, 0x1D, 0x2F, 0xD2, 0x35}};
inline constexpr GUID ProcessGuid{
    0x3D6FA8D0, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};
inline constexpr GUID ThreadGuid{
    0x3D6FA8D1, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};
inline constexpr GUID RegistryGuid{
    0xAE53722E, 0xC863, 0x11D2, {0x86, 0x59, 0x00, 0xC0, 0x4F, 0xA3, 0x21, 0xA1}};
inline constexpr GUID TcpIpGuid{
    0x9A280AC0, 0xC8E0, 0x11D1, {0x84, 0xE2, 0x00, 0xC0, 0x4F, 0xB9, 0x98, 0xA2}};
inline constexpr GUID UdpIpGuid{
    0xBF3A50C5, 0xA9C9, 0x4988, {0xA0, 0x05, 0x2D, 0xF0, 0xB7, 0xC8, 0x0F, 0x80}};

// The enable flag that asks for an event class; 0 for classes no flag enables.
std::uint32_t EnableFlagOfClass(const GUID& guid);

// The trace service as a whole; the process-wide one is the Linux kernel logger unless a test
// installs another.
class TEventTracing {
 public:
  virtual ~TEventTracing() = default;
  virtual std::uint32_t StartTrace(TRACEHANDLE* session, std::string_view name,
                                   EVENT_TRACE_PROPERTIES* properties) = 0;
  virtual std::uint32_t ControlTrace(TRACEHANDLE session, std::string_view name,
                                     EVENT_TRACE_PROPERTIES* properties, std::uint32_t control) = 0;
  virtual TRACEHANDLE OpenTrace(EVENT_TRACE_LOGFILE* logfile) = 0;
  virtual std::uint32_t SetTraceCallback(const GUID& guid, TraceEventCallback callback) = 0;
  virtual std::uint32_t RemoveTraceCallback(const GUID& guid) = 0;
  // Blocks while the consumer is open, calling the callbacks on this thread.
  virtual std::uint32_t ProcessTrace(const TRACEHANDLE* handles, std::uint32_t count) = 0;
  virtual std::uint32_t CloseTrace(TRACEHANDLE consumer) = 0;
};

// nullptr restores the process-wide Linux implementation.
void SetEventTracing(TEventTracing* tracing);
TEventTracing& EventTracing();

std::uint32_t StartTrace(TRACEHANDLE* session, std::string_view name,
                         EVENT_TRACE_PROPERTIES* properties);
std::uint32_t ControlTrace(TRACEHANDLE session, std::string_view name,
                           EVENT_TRACE_PROPERTIES* properties, std::uint32_t control);
TRACEHANDLE OpenTrace(EVENT_TRACE_LOGFILE* logfile);
std::uint32_t SetTraceCallback(const GUID& guid, TraceEventCallback callback);
std::uint32_t RemoveTraceCallback(const GUID& guid);
std::uint32_t ProcessTrace(const TRACEHANDLE* handles, std::uint32_t count);
std::uint32_t CloseTrace(TRACEHANDLE consumer);

}  // namespace platform
