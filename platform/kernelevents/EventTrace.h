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

// A GUID from its registry form, "9E814AAD-3204-11D2-9A82-006008A86939"; a text of another
// form does not compile.
consteval GUID GuidOf(const char (&text)[37]) {
  const auto hex = [&text](int at, int digits) {
    std::uint32_t value = 0;
    for (int i = at; i < at + digits; ++i) {
      const char c = text[i];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) throw "not a GUID";
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
  };
  if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') throw "not a GUID";
  GUID guid{
      hex(0, 8), static_cast<std::uint16_t>(hex(9, 4)), static_cast<std::uint16_t>(hex(14, 4)), {}};
  for (int i = 0; i < 8; ++i)
    guid.Data4[i] = static_cast<std::uint8_t>(hex(i < 2 ? 19 + 2 * i : 20 + 2 * i, 2));
  return guid;
}

// Session control GUID and event class GUIDs.
inline constexpr GUID SystemTraceControlGuid = GuidOf("9E814AAD-3204-11D2-9A82-006008A86939");
inline constexpr GUID DiskIoGuid = GuidOf("3D6FA8D4-FE05-11D0-9DDA-00C04FD7BA7C");
inline constexpr GUID FileIoGuid = GuidOf("90CBDC39-4A3E-11D1-84F4-0000F80464E3");
inline constexpr GUID EventTraceConfigGuid = GuidOf("01853A65-418F-4F36-AEFC-DC0F1D2FD235");
inline constexpr GUID ProcessGuid = GuidOf("3D6FA8D0-FE05-11D0-9DDA-00C04FD7BA7C");
inline constexpr GUID ThreadGuid = GuidOf("3D6FA8D1-FE05-11D0-9DDA-00C04FD7BA7C");
inline constexpr GUID RegistryGuid = GuidOf("AE53722E-C863-11D2-8659-00C04FA321A1");
inline constexpr GUID TcpIpGuid = GuidOf("9A280AC0-C8E0-11D1-84E2-00C04FB998A2");
inline constexpr GUID UdpIpGuid = GuidOf("BF3A50C5-A9C9-4988-A005-2DF0B7C80F80");

// The enable flag that asks for an event class; 0 for classes no flag enables.
std::uint32_t EnableFlagOfClass(const GUID& guid);

// The trace service as a whole; the process-wide one is the Linux kernel logger unless a test
// installs another.
class TraceService {
 public:
  virtual ~TraceService() = default;
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
void SetEventTracing(TraceService* tracing);
TraceService& EventTracing();

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
