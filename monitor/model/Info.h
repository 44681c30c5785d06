// The statistic entities: one per process, disk, file, socket and network adapter, and the
// machine's memory. Every operation here is called with ModelLock held; none takes it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/model/Average.h"
#include "monitor/model/CompareResult.h"

namespace ombrix {

class TEntityTables;
class TProcessInfo;

inline constexpr std::uint32_t NoProcess = 0xFFFFFFFF;

// Sorting order of texts: ASCII letters upper-cased, then byte by byte; a prefix is less.
CompareResult CompareText(std::string_view a, std::string_view b);

// A process id as 8 upper-case hexadecimal digits.
std::string HexProcessId(std::uint32_t id);

// Per-second rate over a span of ticks. The span is the unsigned 32-bit difference, so a
// tick count that wrapped in between still gives the true length; an empty span counts as
// one second.
double RateSeconds(std::uint32_t fromTick, std::uint32_t toTick);

// The common part of every entity. Call every operation with ModelLock held.
class TInfo {
 public:
  // Tables is the core the entity lives in: it supplies the process-name lookup and the
  // process-list change mark. It may be null for an entity outside any table.
  explicit TInfo(TEntityTables* tables);
  virtual ~TInfo() = default;
  TInfo(const TInfo&) = delete;
  TInfo& operator=(const TInfo&) = delete;

  virtual std::int64_t MemoryUsed() const = 0;
  virtual std::string GetName();
  virtual void SetName(const std::string& name);
  virtual void SetProcessId(std::uint32_t id);
  // Orders this entity against another of the same class by CompareColumn (and
  // CompareOverall for files and sockets); an unknown column gives crEqual.
  virtual CompareResult Compare(TInfo& other) = 0;

  void Touch(bool active);
  // Milliseconds since the last activity; a tick count below it (wrapped) restarts it now.
  std::uint32_t IdleTime();
  std::string ProcessName();

  TProcessInfo* Process = nullptr;  // not owned
  std::uint32_t ProcessId = NoProcess;
  std::string Name;
  std::uint32_t IntervalStart = 0;
  std::uint32_t CreatedTick = 0;
  std::int32_t CompareColumn = 0;
  bool CompareOverall = false;
  bool Active = false;
  std::uint32_t LastActivity = 0;
  bool Permanent = false;

 protected:
  // Seconds of the interval now ending; restarts the interval.
  double CloseElapsed();
  TEntityTables* Tables;
};

// One process, keyed by id. Call with ModelLock held.
class TProcessInfo : public TInfo {
 public:
  TProcessInfo(TEntityTables* tables, std::uint32_t id);

  std::int64_t MemoryUsed() const override;
  void SetProcessId(std::uint32_t id) override;
  CompareResult Compare(TInfo& other) override;

  void AddPacket(std::uint32_t size);
  void NoteDiskIo();
  void AddRegistryAccess() { ++IntervalRegistry; }
  void CloseInterval();
  // Full path of the executable, asked of the system once; the name when it cannot tell.
  const std::string& GetImagePath();
  void LogCompletion();

  std::string ImagePath;
  TAverage ProcessorAvg;
  TAverage IoRateAvg;
  TAverage IoByteRateAvg;
  TAverage PrivateBytesAvg;
  TAverage WorkingSetAvg;
  TAverage PacketRateAvg;
  TAverage IpByteRateAvg;
  TAverage ContextSwitchRateAvg;
  TAverage RegistryRateAvg;
  std::int32_t IntervalPackets = 0;
  std::int64_t IntervalIpBytes = 0;
  std::int32_t IntervalRegistry = 0;
  std::int32_t IntervalContextSwitches = 0;
  std::int32_t ThreadCount = 0;
  bool Partial = true;
  bool SawDiskIo = false;
  bool SawNetwork = false;
};

// One logical disk, keyed by name. Call with ModelLock held.
class TDiskInfo : public TInfo {
 public:
  TDiskInfo(TEntityTables* tables, const std::string& name);

  std::int64_t MemoryUsed() const override;
  CompareResult Compare(TInfo& other) override;

  TAverage FreeSpaceAvg;
  TAverage FreeMegabytesAvg;
  TAverage BusyPercentAvg;
  TAverage IoRateAvg;
  TAverage ByteRateAvg;
  TAverage QueueDepthAvg;
};

// One file object of one process. Call with ModelLock held.
class TFileInfo : public TInfo {
 public:
  // Created by the first disk I/O of (processId, fileObject); finds or creates its process.
  TFileInfo(TEntityTables* tables, std::uint32_t processId, std::uint32_t fileObject);

  std::int64_t MemoryUsed() const override;
  std::string GetName() override;
  // Takes a full path: the directory keeps its case, the file part is lower-cased.
  void SetName(const std::string& fullPath) override;
  CompareResult Compare(TInfo& other) override;

  void AddDiskIo(std::uint32_t diskNumber, std::uint32_t transferSize, std::uint32_t response);
  void ResolveName();
  void CloseInterval();
  double OverallIoRate() const;
  double OverallByteRate() const;
  double OverallResponse() const;
  void LogCompletion();

  bool NameResolved = false;
  std::uint32_t FileObject = 0;
  std::uint32_t DiskNumber = 0;
  std::string Directory;
  std::int32_t IoCount = 0;
  std::int32_t IoCountAtClose = 0;
  std::int64_t ByteCount = 0;
  std::int64_t ByteCountAtClose = 0;
  std::int64_t ResponseSum = 0;
  std::int64_t ResponseSumAtClose = 0;
  TAverage IoRateAvg;
  TAverage ByteRateAvg;
  TAverage ResponseAvg;
};

// One remote end (address and port) of one process. Call with ModelLock held.
class TSocketInfo : public TInfo {
 public:
  // Finds or creates its process and starts the name lookup of the remote address early.
  TSocketInfo(TEntityTables* tables, std::uint32_t processId, std::uint32_t remoteAddress,
              std::uint16_t remotePort);

  std::int64_t MemoryUsed() const override;
  // The service of the remote port: "<name> - <port>", the port alone, or for port 0 the
  // name alone.
  std::string GetName() override;
  CompareResult Compare(TInfo& other) override;

  void AddPacket(std::uint32_t size);
  std::string RemoteHostName();
  void CloseInterval();
  double OverallPacketRate() const;
  double OverallByteRate() const;
  void LogCompletion();

  std::uint16_t RemotePort = 0;
  std::uint32_t RemoteAddress = 0;
  std::uint32_t PacketCount = 0;
  std::uint32_t PacketCountAtClose = 0;
  std::int64_t ByteCount = 0;
  std::int64_t ByteCountAtClose = 0;
  TAverage PacketRateAvg;
  TAverage ByteRateAvg;
};

// One network adapter, keyed by name. Call with ModelLock held.
class TAdapterInfo : public TInfo {
 public:
  TAdapterInfo(TEntityTables* tables, const std::string& name);

  std::int64_t MemoryUsed() const override;
  CompareResult Compare(TInfo& other) override;

  std::int64_t Bandwidth = 0;
  std::int64_t IntervalBytes = 0;
  TAverage ByteRateAvg;
  TAverage PacketRateAvg;
  TAverage ErrorRateAvg;
};

// The machine's memory; one instance, owned by the shell. Call with ModelLock held.
class TMemoryInfo {
 public:
  std::int64_t MemoryUsed() const;
  double InusePercent() const;

  std::int64_t TotalBytes = 0;
  TAverage AvailableAvg;
  TAverage PageReadRateAvg;
  TAverage PageWriteRateAvg;
};

}  // namespace ombrix
