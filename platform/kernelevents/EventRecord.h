// Event records in the published payload layouts (little-endian), as the kernel event sources
// deliver them: an owned header plus class-specific data.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/kernelevents/EventTrace.h"

namespace platform {

// Event types.
inline constexpr std::uint8_t EVENT_TYPE_PROCESS_START = 1;
inline constexpr std::uint8_t EVENT_TYPE_FILE_NAME = 0;
inline constexpr std::uint8_t EVENT_TYPE_DISK_READ = 10;
inline constexpr std::uint8_t EVENT_TYPE_DISK_WRITE = 11;
inline constexpr std::uint8_t EVENT_TYPE_NET_SEND = 10;
inline constexpr std::uint8_t EVENT_TYPE_NET_RECV = 11;

inline constexpr std::uint32_t NO_PROCESS = 0xFFFFFFFF;
inline constexpr std::uint32_t SYSTEM_PROCESS = 2;  // every kernel thread reports as this
inline constexpr std::uint32_t OTHER_FILE_OBJECT = 0xFFFFFFFF;  // I/O without a file

// DiskIo: offsets into MofData.
namespace diskio {
inline constexpr std::size_t DiskNumber = 0, IrpFlags = 4, TransferSize = 8, Response = 12,
                             ByteOffset = 16, FileObject = 24, Length = 32;
}
// FileIo name: FileObject, then the path in UTF-16LE ending with a zero character.
namespace fileio {
inline constexpr std::size_t FileObject = 0, FileName = 4;
}
// Process start: the image name follows the SID, whose length its second byte gives.
namespace process {
inline constexpr std::size_t ProcessId = 4, ParentId = 8, UserSidPointer = 20,
                             UserSidAttributes = 24, Sid = 28;
inline constexpr std::size_t SidHeader = 8;  // revision, count, 6-byte authority
}  // namespace process
// TcpIp and UdpIp: addresses and ports in network byte order.
namespace netio {
inline constexpr std::size_t Pid = 0, Size = 4, DestAddr = 8, SourceAddr = 12, DestPort = 16,
                             SourcePort = 18, Length = 20;
}

struct EventRecord {
  EVENT_TRACE_HEADER Header{};
  std::vector<std::uint8_t> Data;

  // A view for the callbacks; valid while this record lives and is not changed.
  EVENT_TRACE View() const;
};

EventRecord MakeRecord(const GUID& guid, std::uint8_t type, std::uint32_t processId,
                       std::vector<std::uint8_t> data);

// bytes is the size of the transfer; response is its latency in microseconds, 0 when unknown.
EventRecord DiskIoRecord(std::uint8_t type, std::uint32_t processId, std::uint32_t diskNumber,
                         std::uint32_t bytes, std::uint32_t response, std::uint64_t byteOffset,
                         std::uint32_t fileObject);
// path is UTF-8; the record carries it as UTF-16LE (malformed bytes become U+FFFD).
EventRecord FileNameRecord(std::uint32_t processId, std::uint32_t fileObject,
                           std::string_view path);
// The user is carried as the SID S-1-22-1-uid; image is the process instance name.
EventRecord ProcessStartRecord(std::uint32_t processId, std::uint32_t parentId, std::uint32_t uid,
                               std::string_view image);
// Addresses and ports in host byte order; the record stores them in network order.
EventRecord NetworkRecord(const GUID& guid, std::uint8_t type, std::uint32_t pid,
                          std::uint32_t size, std::uint32_t daddr, std::uint32_t saddr,
                          std::uint16_t dport, std::uint16_t sport);

// Where a decoder puts its records. Disk and socket records come by the hundred thousand a
// second, so they have calls of their own: a sink that writes them straight into a stream need
// not build a record for each.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void Add(EventRecord&& record) = 0;
  virtual void AddDiskIo(std::uint8_t type, std::uint32_t processId, std::uint32_t diskNumber,
                         std::uint32_t bytes, std::uint32_t response, std::uint64_t byteOffset,
                         std::uint32_t fileObject);
  virtual void AddNetwork(const GUID& guid, std::uint8_t type, std::uint32_t pid,
                          std::uint32_t size, std::uint32_t daddr, std::uint32_t saddr,
                          std::uint16_t dport, std::uint16_t sport);
};

// The records, in a list.
class RecordList final : public RecordSink {
 public:
  explicit RecordList(std::vector<EventRecord>& out) : out_(out) {}
  void Add(EventRecord&& record) override { out_.push_back(std::move(record)); }

 private:
  std::vector<EventRecord>& out_;
};

// Little-endian field writers and UTF-8 to UTF-16LE, shared with the test record builder.
void PutU16(std::vector<std::uint8_t>& data, std::size_t offset, std::uint16_t value);
void PutU32(std::vector<std::uint8_t>& data, std::size_t offset, std::uint32_t value);
void PutU64(std::vector<std::uint8_t>& data, std::size_t offset, std::uint64_t value);
std::vector<std::uint8_t> Utf16LeZ(std::string_view utf8);

}  // namespace platform
