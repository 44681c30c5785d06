#include "monitor/kerneltrace/EventHandlers.h"

#include <mutex>
#include <string>

#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/FileNames.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/network/IpHelper.h"

namespace ombrix {
namespace {

constexpr std::uint32_t kNoProcess = 0xFFFFFFFF;
constexpr std::uint8_t kProcessStart = 1;

// The class-specific data of one record; every read is checked against its length.
class TEventData {
 public:
  explicit TEventData(const platform::EVENT_TRACE* e)
      : data_(static_cast<const std::uint8_t*>(e->MofData)),
        length_(e->MofData ? e->MofLength : 0) {}

  bool Has(std::uint32_t bytes) const { return length_ >= bytes; }
  std::uint32_t Length() const { return length_; }
  const std::uint8_t* Bytes() const { return data_; }
  std::uint32_t U32(std::uint32_t at) const {
    return data_[at] | data_[at + 1] << 8 | data_[at + 2] << 16 |
           static_cast<std::uint32_t>(data_[at + 3]) << 24;
  }
  // Fields kept in network byte order, read into host order.
  std::uint32_t NetU32(std::uint32_t at) const {
    return static_cast<std::uint32_t>(data_[at]) << 24 | data_[at + 1] << 16 | data_[at + 2] << 8 |
           data_[at + 3];
  }
  std::uint16_t NetU16(std::uint32_t at) const {
    return static_cast<std::uint16_t>(data_[at] << 8 | data_[at + 1]);
  }

 private:
  const std::uint8_t* data_;
  std::uint32_t length_;
};

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE up to its zero character or the end of the data; unpaired surrogates become
// U+FFFD. Also tells whether the second character is "$".
std::string NameFromUtf16(const std::uint8_t* p, std::uint32_t bytes, bool& dollarSecond) {
  std::string name;
  dollarSecond = false;
  std::uint32_t index = 0;
  for (std::uint32_t i = 0; i + 1 < bytes; i += 2, ++index) {
    std::uint32_t unit = p[i] | p[i + 1] << 8;
    if (unit == 0) break;
    if (index == 1 && unit == '$') dollarSecond = true;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes) {
      const std::uint32_t low = p[i + 2] | p[i + 3] << 8;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(name, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    AppendUtf8(name, unit);
  }
  return name;
}

}  // namespace

bool ImageNameOffset(const std::uint8_t* data, std::uint32_t length, std::uint32_t& offset) {
  constexpr std::uint32_t kSidPointer = 20, kSid = 28, kSidHeader = 8;
  if (length < kSid) return false;
  const std::uint32_t pointer = data[kSidPointer] | data[kSidPointer + 1] << 8 |
                                data[kSidPointer + 2] << 16 |
                                static_cast<std::uint32_t>(data[kSidPointer + 3]) << 24;
  if (pointer == 0) {  // no SID follows: the name comes right after the attributes
    offset = kSid;
    return true;
  }
  if (length < kSid + 2) return false;
  offset = kSid + kSidHeader + 4u * data[kSid + 1];
  return offset <= length;
}

void TEventHandlers::DiskIoEvent(const platform::EVENT_TRACE* event) {
  std::lock_guard lock(ModelLock);
  const TEventData d(event);
  const std::uint32_t pid = event->Header.ProcessId;
  if (pid == kNoProcess || !d.Has(28)) return;
  TFileInfo* file = tables_.FindOrCreateFile(pid, d.U32(24));
  if (file->Process == nullptr) file->Process = tables_.FindProcess(pid);
  if (file->Process != nullptr) file->Process->NoteDiskIo();
  file->AddDiskIo(d.U32(0), d.U32(8), d.U32(12));
}

void TEventHandlers::FileIoEvent(const platform::EVENT_TRACE* event) {
  std::lock_guard lock(ModelLock);
  const TEventData d(event);
  if (!d.Has(4)) return;
  bool dollarSecond = false;
  const std::string name = NameFromUtf16(d.Bytes() + 4, d.Length() - 4, dollarSecond);
  if (dollarSecond) return;  // the file system's own metadata files
  FileNames.Store(d.U32(0), name);
}

void TEventHandlers::ProcessEvent(const platform::EVENT_TRACE* event) {
  std::lock_guard lock(ModelLock);
  if (event->Header.Class.Type != kProcessStart) return;
  const TEventData d(event);
  std::uint32_t at = 0;
  if (!ImageNameOffset(d.Bytes(), d.Length(), at)) return;
  std::string image;
  for (; at < d.Length() && d.Bytes()[at] != 0; ++at) image += static_cast<char>(d.Bytes()[at]);
  TProcessInfo* process = tables_.FindOrCreateProcess(d.U32(4), image);
  process->Partial = false;
}

void TEventHandlers::NetworkEvent(const platform::EVENT_TRACE* event) {
  std::lock_guard lock(ModelLock);
  const TEventData d(event);
  if (!d.Has(20)) return;
  const std::uint32_t pid = d.U32(0);
  if (pid == kNoProcess) return;
  const std::uint32_t size = d.U32(4);
  const std::uint32_t daddr = d.NetU32(8), saddr = d.NetU32(12);
  const std::uint16_t dport = d.NetU16(16), sport = d.NetU16(18);
  // The remote end is the one that is not this machine; both ends here: the lower port.
  const bool sourceIsRemote =
      ipHelper_.IsLocalAddress(daddr) && (!ipHelper_.IsLocalAddress(saddr) || dport >= sport);
  TSocketInfo* socket = sourceIsRemote ? tables_.FindOrCreateSocket(pid, saddr, sport)
                                       : tables_.FindOrCreateSocket(pid, daddr, dport);
  if (socket->Process == nullptr) socket->Process = tables_.FindProcess(pid);
  if (socket->Process != nullptr) socket->Process->AddPacket(size);
  socket->AddPacket(size);
}

void TEventHandlers::RegistryEvent(const platform::EVENT_TRACE* event) {
  std::lock_guard lock(ModelLock);
  const std::uint32_t pid = event->Header.ProcessId;
  if (pid == kNoProcess) return;
  if (TProcessInfo* process = tables_.FindProcess(pid)) process->AddRegistryAccess();
}

void TEventHandlers::Install(TKernelEventTrace& trace) {
  trace.OnDiskIo = [this](const platform::EVENT_TRACE* e) { DiskIoEvent(e); };
  trace.OnFileIo = [this](const platform::EVENT_TRACE* e) { FileIoEvent(e); };
  trace.OnProcess = [this](const platform::EVENT_TRACE* e) { ProcessEvent(e); };
  trace.OnTcpIp = [this](const platform::EVENT_TRACE* e) { NetworkEvent(e); };
  trace.OnUdpIp = trace.OnTcpIp;
  trace.OnRegistry = [this](const platform::EVENT_TRACE* e) { RegistryEvent(e); };
}

}  // namespace ombrix
