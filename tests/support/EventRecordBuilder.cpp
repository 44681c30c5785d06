#include "tests/support/EventRecordBuilder.h"

namespace ombrix::testing {

using namespace platform;

std::uint32_t Ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return std::uint32_t{a} << 24 | std::uint32_t{b} << 16 | std::uint32_t{c} << 8 | d;
}

EventRecord DiskIo(std::uint32_t pid, std::uint32_t fileObject, std::uint32_t bytes,
                   std::uint32_t response, std::uint32_t disk, std::uint8_t type) {
  return DiskIoRecord(type, pid, disk, bytes, response, 0, fileObject);
}

EventRecord FileName(std::uint32_t fileObject, std::string_view utf8Name) {
  return FileNameRecord(0, fileObject, utf8Name);
}

EventRecord FileNameUnits(std::uint32_t fileObject, std::u16string_view units, bool terminated) {
  std::vector<std::uint8_t> data(fileio::FileName, 0);
  PutU32(data, fileio::FileObject, fileObject);
  for (const char16_t unit : units) {
    data.push_back(static_cast<std::uint8_t>(unit));
    data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (terminated) data.insert(data.end(), {0, 0});
  return MakeRecord(FileIoGuid, EVENT_TYPE_FILE_NAME, 0, std::move(data));
}

EventRecord ProcessStart(std::uint32_t pid, std::string_view image, std::uint32_t parent,
                         std::uint32_t uid) {
  return ProcessStartRecord(pid, parent, uid, image);
}

EventRecord ProcessStartWithSid(std::uint32_t pid, std::string_view image,
                                std::uint8_t subAuthorities, bool emptySidPointer,
                                bool terminated) {
  const std::size_t sidLength = emptySidPointer ? 0 : process::SidHeader + 4u * subAuthorities;
  std::vector<std::uint8_t> data(process::Sid + sidLength, 0);
  PutU32(data, process::ProcessId, pid);
  PutU32(data, process::ParentId, 1);
  if (!emptySidPointer) {
    PutU32(data, process::UserSidPointer, 0x12345678);
    data[process::Sid] = 1;
    data[process::Sid + 1] = subAuthorities;
    data[process::Sid + 7] = 5;
    for (std::uint8_t k = 0; k < subAuthorities; ++k)
      PutU32(data, process::Sid + process::SidHeader + 4u * k, 21u + k);
  }
  data.insert(data.end(), image.begin(), image.end());
  if (terminated) data.push_back(0);
  return MakeRecord(ProcessGuid, EVENT_TYPE_PROCESS_START, pid, std::move(data));
}

EventRecord ProcessEnd(std::uint32_t pid) {
  EventRecord record = ProcessStartRecord(pid, 1, 0, "ended");
  record.Header.Class.Type = 2;
  return record;
}

EventRecord Tcp(std::uint8_t type, std::uint32_t pid, std::uint32_t size, std::uint32_t daddr,
                std::uint32_t saddr, std::uint16_t dport, std::uint16_t sport) {
  return NetworkRecord(TcpIpGuid, type, pid, size, daddr, saddr, dport, sport);
}

EventRecord Udp(std::uint8_t type, std::uint32_t pid, std::uint32_t size, std::uint32_t daddr,
                std::uint32_t saddr, std::uint16_t dport, std::uint16_t sport) {
  return NetworkRecord(UdpIpGuid, type, pid, size, daddr, saddr, dport, sport);
}

EventRecord Registry(std::uint32_t pid) {
  return MakeRecord(RegistryGuid, 10, pid, {});
}

EventRecord Raw(const GUID& guid, std::uint8_t type, std::uint32_t headerPid,
                std::vector<std::uint8_t> data) {
  return MakeRecord(guid, type, headerPid, std::move(data));
}

EventRecord Truncated(EventRecord record, std::size_t length) {
  if (record.Data.size() > length) record.Data.resize(length);
  return record;
}

std::uint32_t RecordU32(const EventRecord& r, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4 && at + 4 <= r.Data.size(); ++i)
    v |= static_cast<std::uint32_t>(r.Data[at + i]) << (8 * i);
  return v;
}

std::uint16_t RecordPort(const EventRecord& r, std::size_t at) {
  return static_cast<std::uint16_t>(r.Data.at(at) << 8 | r.Data.at(at + 1));
}

std::string RecordName(const EventRecord& r) {
  std::string name;
  for (std::size_t at = 4; at + 1 < r.Data.size(); at += 2) {
    const unsigned unit = r.Data[at] | r.Data[at + 1] << 8;
    if (unit == 0) break;
    name.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return name;
}

}  // namespace ombrix::testing
