#include "monitor/model/Info.h"

#include <algorithm>
#include <cstdio>

#include "monitor/model/FileNames.h"
#include "monitor/model/Tables.h"
#include "monitor/network/AddressTable.h"
#include "monitor/network/PortNames.h"
#include "platform/procstatus/ProcessStatus.h"
#include "platform/tickcount/TickCount.h"

namespace ombrix {

namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::int64_t AverageBytes(int count) {
  return count * TAverage::MemoryUsed();
}

template <typename T>
T& Peer(TInfo& other) {
  return static_cast<T&>(other);
}

}  // namespace

CompareResult CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(UpperAscii(a[i]));
    const auto cb = static_cast<unsigned char>(UpperAscii(b[i]));
    if (ca != cb) return ca < cb ? crLess : crGreater;
  }
  return CompareValues(a.size(), b.size());
}

std::string HexProcessId(std::uint32_t id) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", id);
  return text;
}

double RateSeconds(std::uint32_t fromTick, std::uint32_t toTick) {
  const double seconds = static_cast<std::uint32_t>(toTick - fromTick) / 1000.0;
  return seconds > 0.0 ? seconds : 1.0;
}

// ---------------------------------------------------------------------------------------
// TInfo

TInfo::TInfo(TEntityTables* tables) : Tables(tables) {
  IntervalStart = platform::GetTickCount();
  CreatedTick = IntervalStart;
}

std::string TInfo::GetName() {
  return Name;
}
void TInfo::SetName(const std::string& name) {
  Name = name;
}
void TInfo::SetProcessId(std::uint32_t id) {
  ProcessId = id;
}

void TInfo::Touch(bool active) {
  Active = active;
  if (active) LastActivity = platform::GetTickCount();
}

std::uint32_t TInfo::IdleTime() {
  const std::uint32_t now = platform::GetTickCount();
  if (now < LastActivity) {
    LastActivity = now;
    return 0;
  }
  return now - LastActivity;
}

std::string TInfo::ProcessName() {
  if (Process != nullptr) return Process->GetName();
  if (Tables != nullptr) return Tables->ProcessNameOf(ProcessId);
  return HexProcessId(ProcessId);
}

double TInfo::CloseElapsed() {
  const std::uint32_t now = platform::GetTickCount();
  const double elapsed = RateSeconds(IntervalStart, now);
  IntervalStart = now;
  return elapsed;
}

// ---------------------------------------------------------------------------------------
// TProcessInfo

TProcessInfo::TProcessInfo(TEntityTables* tables, std::uint32_t id) : TInfo(tables) {
  TProcessInfo::SetProcessId(id);
  Name = std::to_string(id);
  Touch(true);
  Permanent = id == 0;
}

std::int64_t TProcessInfo::MemoryUsed() const {
  return static_cast<std::int64_t>(sizeof(*this) + Name.size() + ImagePath.size()) +
         AverageBytes(9);
}

void TProcessInfo::SetProcessId(std::uint32_t id) {
  ProcessId = id;
  ImagePath.clear();
}

CompareResult TProcessInfo::Compare(TInfo& other) {
  auto& o = Peer<TProcessInfo>(other);
  switch (CompareColumn) {
    case 0:
      return CompareText(Name, o.GetName());
    case 1:
      return TAverage::Compare(ProcessorAvg, o.ProcessorAvg);
    case 2:
      return TAverage::Compare(ContextSwitchRateAvg, o.ContextSwitchRateAvg);
    case 3:
      return TAverage::Compare(WorkingSetAvg, o.WorkingSetAvg);
    case 4:
      return TAverage::Compare(PrivateBytesAvg, o.PrivateBytesAvg);
    case 5:
      return TAverage::Compare(IoRateAvg, o.IoRateAvg);
    case 6:
      return TAverage::Compare(IoByteRateAvg, o.IoByteRateAvg);
    case 7:
      return TAverage::Compare(PacketRateAvg, o.PacketRateAvg);
    case 8:
      return TAverage::Compare(IpByteRateAvg, o.IpByteRateAvg);
    case 9:
      return TAverage::Compare(RegistryRateAvg, o.RegistryRateAvg);
    case 10:
      return CompareValues(ThreadCount, o.ThreadCount);
    default:
      return crEqual;
  }
}

void TProcessInfo::AddPacket(std::uint32_t size) {
  ++IntervalPackets;
  IntervalIpBytes += size;
  if (!SawNetwork) {
    SawNetwork = true;
    if (Tables != nullptr) Tables->ProcessListChanged = true;
  }
}

void TProcessInfo::NoteDiskIo() {
  if (!SawDiskIo) {
    SawDiskIo = true;
    if (Tables != nullptr) Tables->ProcessListChanged = true;
  }
}

void TProcessInfo::CloseInterval() {
  const double elapsed = CloseElapsed();
  PacketRateAvg.Add(IntervalPackets / elapsed);
  IntervalPackets = 0;
  IpByteRateAvg.Add(static_cast<double>(IntervalIpBytes) / elapsed);
  IntervalIpBytes = 0;
  ContextSwitchRateAvg.Add(IntervalContextSwitches / elapsed);
  IntervalContextSwitches = 0;
  RegistryRateAvg.Add(IntervalRegistry / elapsed);
  IntervalRegistry = 0;
}

const std::string& TProcessInfo::GetImagePath() {
  if (ImagePath.empty() && ProcessId != NoProcess) {
    ImagePath = Name;
    std::string path = platform::ProcessImagePath(ProcessId);
    if (!path.empty()) ImagePath = std::move(path);
  }
  return ImagePath;
}

void TProcessInfo::LogCompletion() {
  if (Tables != nullptr && Tables->CompletionLog != nullptr)
    Tables->CompletionLog->ProcessDone(*this);
}

// ---------------------------------------------------------------------------------------
// TDiskInfo

TDiskInfo::TDiskInfo(TEntityTables* tables, const std::string& name) : TInfo(tables) {
  Name = name;
  Touch(true);
}

std::int64_t TDiskInfo::MemoryUsed() const {
  return static_cast<std::int64_t>(sizeof(*this) + Name.size()) + AverageBytes(6);
}

CompareResult TDiskInfo::Compare(TInfo& other) {
  auto& o = Peer<TDiskInfo>(other);
  switch (CompareColumn) {
    case 0:
      return CompareText(Name, o.GetName());
    case 1:
      return TAverage::Compare(FreeSpaceAvg, o.FreeSpaceAvg);
    case 2:
      return TAverage::Compare(BusyPercentAvg, o.BusyPercentAvg);
    case 3:
      return TAverage::Compare(IoRateAvg, o.IoRateAvg);
    case 4:
      return TAverage::Compare(ByteRateAvg, o.ByteRateAvg);
    case 5:
      return TAverage::Compare(QueueDepthAvg, o.QueueDepthAvg);
    default:
      return crEqual;
  }
}

// ---------------------------------------------------------------------------------------
// TFileInfo

TFileInfo::TFileInfo(TEntityTables* tables, std::uint32_t processId, std::uint32_t fileObject)
    : TInfo(tables) {
  TFileInfo::SetProcessId(processId);
  if (Tables != nullptr) Process = Tables->FindOrCreateProcess(processId, std::string());
  FileObject = fileObject;
  Name = "<unknown>";
}

std::int64_t TFileInfo::MemoryUsed() const {
  return static_cast<std::int64_t>(sizeof(*this) + Name.size() + Directory.size()) +
         AverageBytes(3);
}

std::string TFileInfo::GetName() {
  ResolveName();
  return Name;
}

void TFileInfo::SetName(const std::string& fullPath) {
  NameResolved = true;
  // "/" ends a directory here; "\" and ":" still do for names that carry them.
  const std::size_t cut = fullPath.find_last_of("/\\:");
  const std::size_t start = cut == std::string::npos ? 0 : cut + 1;
  Directory = fullPath.substr(0, start);
  Name = fullPath.substr(start);
  std::transform(Name.begin(), Name.end(), Name.begin(), LowerAscii);
}

void TFileInfo::ResolveName() {
  if (NameResolved) return;
  if (const std::string* path = FileNames.Find(FileObject)) SetName(*path);
}

CompareResult TFileInfo::Compare(TInfo& other) {
  auto& o = Peer<TFileInfo>(other);
  switch (CompareColumn) {
    case 0:
      return CompareText(Name, o.GetName());
    case 1:
      return CompareText(ProcessName(), o.ProcessName());
    case 2:
      return CompareOverall ? CompareValues(OverallIoRate(), o.OverallIoRate())
                            : TAverage::Compare(IoRateAvg, o.IoRateAvg);
    case 3:
      return CompareOverall ? CompareValues(OverallByteRate(), o.OverallByteRate())
                            : TAverage::Compare(ByteRateAvg, o.ByteRateAvg);
    case 4:
      return CompareOverall ? CompareValues(OverallResponse(), o.OverallResponse())
                            : TAverage::Compare(ResponseAvg, o.ResponseAvg);
    case 5:
      return CompareValues(IdleTime(), o.IdleTime());
    default:
      return crEqual;
  }
}

void TFileInfo::AddDiskIo(std::uint32_t diskNumber, std::uint32_t transferSize,
                          std::uint32_t response) {
  DiskNumber = diskNumber;
  ++IoCount;
  ByteCount += transferSize;
  ResponseSum += response;
  ResolveName();
  if (NameResolved) Touch(true);
}

void TFileInfo::CloseInterval() {
  const double elapsed = CloseElapsed();
  const std::int32_t ios = IoCount - IoCountAtClose;
  IoRateAvg.Add(ios / elapsed);
  ByteRateAvg.Add(static_cast<double>(ByteCount - ByteCountAtClose) / elapsed);
  ResponseAvg.Add(ios > 0 ? (static_cast<double>(ResponseSum - ResponseSumAtClose) / 1000.0) / ios
                          : 0.0);
  IoCountAtClose = IoCount;
  ByteCountAtClose = ByteCount;
  ResponseSumAtClose = ResponseSum;
}

double TFileInfo::OverallIoRate() const {
  return IoCount / RateSeconds(CreatedTick, platform::GetTickCount());
}

double TFileInfo::OverallByteRate() const {
  return static_cast<double>(ByteCount) / RateSeconds(CreatedTick, platform::GetTickCount());
}

double TFileInfo::OverallResponse() const {
  return IoCount > 0 ? (static_cast<double>(ResponseSum) / 1000.0) / IoCount : 0.0;
}

void TFileInfo::LogCompletion() {
  if (Tables != nullptr && Tables->CompletionLog != nullptr) Tables->CompletionLog->FileDone(*this);
}

// ---------------------------------------------------------------------------------------
// TSocketInfo

TSocketInfo::TSocketInfo(TEntityTables* tables, std::uint32_t processId,
                         std::uint32_t remoteAddress, std::uint16_t remotePort)
    : TInfo(tables) {
  TSocketInfo::SetProcessId(processId);
  RemoteAddress = remoteAddress;
  RemotePort = remotePort;
  if (Tables != nullptr) Process = Tables->FindOrCreateProcess(processId, std::string());
  RemoteHostName();  // starts the lookup early; the answer is wanted later
}

std::int64_t TSocketInfo::MemoryUsed() const {
  return static_cast<std::int64_t>(sizeof(*this) + Name.size()) + AverageBytes(2);
}

std::string TSocketInfo::GetName() {
  const std::string& service = PortNames.Name(RemotePort);
  if (RemotePort == 0) return service;
  if (service.empty()) return std::to_string(RemotePort);
  return service + " - " + std::to_string(RemotePort);
}

CompareResult TSocketInfo::Compare(TInfo& other) {
  auto& o = Peer<TSocketInfo>(other);
  switch (CompareColumn) {
    case 0:
      return CompareValues(RemotePort, o.RemotePort);
    case 1:
      return CompareValues(RemoteAddress, o.RemoteAddress);
    case 2:
      return CompareText(ProcessName(), o.ProcessName());
    case 3:
      return CompareOverall ? CompareValues(OverallPacketRate(), o.OverallPacketRate())
                            : TAverage::Compare(PacketRateAvg, o.PacketRateAvg);
    case 4:
      return CompareOverall ? CompareValues(OverallByteRate(), o.OverallByteRate())
                            : TAverage::Compare(ByteRateAvg, o.ByteRateAvg);
    case 5:
      return CompareValues(IdleTime(), o.IdleTime());
    default:
      return crEqual;
  }
}

void TSocketInfo::AddPacket(std::uint32_t size) {
  ++PacketCount;
  ByteCount += size;
  Touch(true);
}

std::string TSocketInfo::RemoteHostName() {
  if (Tables != nullptr && Tables->AddressTable != nullptr) {
    return Tables->AddressTable->HostNameOf(RemoteAddress);
  }
  return DottedName(RemoteAddress);
}

void TSocketInfo::CloseInterval() {
  const double elapsed = CloseElapsed();
  PacketRateAvg.Add((PacketCount - PacketCountAtClose) / elapsed);
  ByteRateAvg.Add(static_cast<double>(ByteCount - ByteCountAtClose) / elapsed);
  PacketCountAtClose = PacketCount;
  ByteCountAtClose = ByteCount;
}

double TSocketInfo::OverallPacketRate() const {
  return PacketCount / RateSeconds(CreatedTick, platform::GetTickCount());
}

double TSocketInfo::OverallByteRate() const {
  return static_cast<double>(ByteCount) / RateSeconds(CreatedTick, platform::GetTickCount());
}

void TSocketInfo::LogCompletion() {
  if (Tables != nullptr && Tables->CompletionLog != nullptr) {
    Tables->CompletionLog->SocketDone(*this);
  }
}

// ---------------------------------------------------------------------------------------
// TAdapterInfo, TMemoryInfo

TAdapterInfo::TAdapterInfo(TEntityTables* tables, const std::string& name) : TInfo(tables) {
  Name = name;
  Touch(true);
}

std::int64_t TAdapterInfo::MemoryUsed() const {
  return static_cast<std::int64_t>(sizeof(*this) + Name.size()) + AverageBytes(3);
}

CompareResult TAdapterInfo::Compare(TInfo& other) {
  auto& o = Peer<TAdapterInfo>(other);
  switch (CompareColumn) {
    case 0:
      return CompareText(Name, o.GetName());
    case 1:
      return CompareValues(Bandwidth, o.Bandwidth);
    case 2:
      return TAverage::Compare(PacketRateAvg, o.PacketRateAvg);
    case 3:
      return TAverage::Compare(ByteRateAvg, o.ByteRateAvg);
    case 4:
      return TAverage::Compare(ErrorRateAvg, o.ErrorRateAvg);
    default:
      return crEqual;
  }
}

std::int64_t TMemoryInfo::MemoryUsed() const {
  return static_cast<std::int64_t>(sizeof(*this)) + AverageBytes(3);
}

double TMemoryInfo::InusePercent() const {
  if (TotalBytes <= 0) return 0;
  const double percent = 100.0 - AvailableAvg.Mean() / static_cast<double>(TotalBytes) * 100.0;
  return percent < 0 ? 0 : percent;
}

}  // namespace ombrix
