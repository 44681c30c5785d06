#include "platform/kernelevents/EventRecord.h"

#include <ctime>

namespace platform {
namespace {

std::int64_t NowStamp() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Decodes one UTF-8 sequence at text[i]; a malformed one yields U+FFFD and skips one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t extra = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    extra = 1, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    extra = 2, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    extra = 3, cp = lead & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + extra >= text.size()) {  // cut off at the end
    ++i;
    return 0xFFFD;
  }
  for (std::size_t k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
    ++i;
    return 0xFFFD;
  }
  i += extra + 1;
  return cp;
}

}  // namespace

EVENT_TRACE EventRecord::View() const {
  EVENT_TRACE event{};
  event.Header = Header;
  event.MofData = Data.data();
  event.MofLength = static_cast<std::uint32_t>(Data.size());
  return event;
}

void PutU16(std::vector<std::uint8_t>& data, std::size_t offset, std::uint16_t value) {
  static_cast<void>(data.at(offset + 1));  // range check before writing
  data[offset] = static_cast<std::uint8_t>(value);
  data[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(std::vector<std::uint8_t>& data, std::size_t offset, std::uint32_t value) {
  static_cast<void>(data.at(offset + 3));
  for (std::size_t k = 0; k < 4; ++k)
    data[offset + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

void PutU64(std::vector<std::uint8_t>& data, std::size_t offset, std::uint64_t value) {
  static_cast<void>(data.at(offset + 7));
  for (std::size_t k = 0; k < 8; ++k)
    data[offset + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

std::vector<std::uint8_t> Utf16LeZ(std::string_view utf8) {
  std::vector<std::uint8_t> out;
  out.reserve(2 * utf8.size() + 2);
  const auto unit = [&](char32_t u) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = NextCodePoint(utf8, i);
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  unit(0);
  return out;
}

EventRecord MakeRecord(const GUID& guid, std::uint8_t type, std::uint32_t processId,
                       std::vector<std::uint8_t> data) {
  EventRecord record;
  record.Header.Size = static_cast<std::uint16_t>(sizeof(EVENT_TRACE_HEADER));
  record.Header.Class.Type = type;
  record.Header.ProcessId = processId;
  record.Header.TimeStamp = NowStamp();
  record.Header.Guid = guid;
  record.Data = std::move(data);
  return record;
}

EventRecord DiskIoRecord(std::uint8_t type, std::uint32_t processId, std::uint32_t diskNumber,
                         std::uint32_t bytes, std::uint32_t response, std::uint64_t byteOffset,
                         std::uint32_t fileObject) {
  std::vector<std::uint8_t> data(diskio::Length, 0);
  PutU32(data, diskio::DiskNumber, diskNumber);
  PutU32(data, diskio::TransferSize, bytes);
  PutU32(data, diskio::Response, response);
  PutU64(data, diskio::ByteOffset, byteOffset);
  PutU32(data, diskio::FileObject, fileObject);
  return MakeRecord(DiskIoGuid, type, processId, std::move(data));
}

EventRecord FileNameRecord(std::uint32_t processId, std::uint32_t fileObject,
                           std::string_view path) {
  std::vector<std::uint8_t> data(fileio::FileName, 0);
  PutU32(data, fileio::FileObject, fileObject);
  const std::vector<std::uint8_t> name = Utf16LeZ(path);
  data.insert(data.end(), name.begin(), name.end());
  return MakeRecord(FileIoGuid, EVENT_TYPE_FILE_NAME, processId, std::move(data));
}

EventRecord ProcessStartRecord(std::uint32_t processId, std::uint32_t parentId, std::uint32_t uid,
                               std::string_view image) {
  constexpr std::size_t kSubAuthorities = 2;
  const std::size_t nameAt = process::Sid + process::SidHeader + 4 * kSubAuthorities;
  std::vector<std::uint8_t> data(nameAt, 0);
  PutU32(data, process::ProcessId, processId);
  PutU32(data, process::ParentId, parentId);
  PutU32(data, process::UserSidPointer, 1);  // never empty: the SID follows
  data[process::Sid] = 1;                    // revision
  data[process::Sid + 1] = kSubAuthorities;
  data[process::Sid + 7] = 22;  // authority {0,0,0,0,0,22}: Unix users
  PutU32(data, process::Sid + process::SidHeader, 1);
  PutU32(data, process::Sid + process::SidHeader + 4, uid);
  data.insert(data.end(), image.begin(), image.end());
  data.push_back(0);
  return MakeRecord(ProcessGuid, EVENT_TYPE_PROCESS_START, processId, std::move(data));
}

EventRecord NetworkRecord(const GUID& guid, std::uint8_t type, std::uint32_t pid,
                          std::uint32_t size, std::uint32_t daddr, std::uint32_t saddr,
                          std::uint16_t dport, std::uint16_t sport) {
  std::vector<std::uint8_t> data(netio::Length, 0);
  const auto be32 = [](std::uint32_t v) { return __builtin_bswap32(v); };
  const auto be16 = [](std::uint16_t v) { return __builtin_bswap16(v); };
  PutU32(data, netio::Pid, pid);
  PutU32(data, netio::Size, size);
  PutU32(data, netio::DestAddr, be32(daddr));
  PutU32(data, netio::SourceAddr, be32(saddr));
  PutU16(data, netio::DestPort, be16(dport));
  PutU16(data, netio::SourcePort, be16(sport));
  return MakeRecord(guid, type, pid, std::move(data));
}

void RecordSink::AddDiskIo(std::uint8_t type, std::uint32_t processId, std::uint32_t diskNumber,
                           std::uint32_t bytes, std::uint32_t response, std::uint64_t byteOffset,
                           std::uint32_t fileObject) {
  Add(DiskIoRecord(type, processId, diskNumber, bytes, response, byteOffset, fileObject));
}

void RecordSink::AddNetwork(const GUID& guid, std::uint8_t type, std::uint32_t pid,
                            std::uint32_t size, std::uint32_t daddr, std::uint32_t saddr,
                            std::uint16_t dport, std::uint16_t sport) {
  Add(NetworkRecord(guid, type, pid, size, daddr, saddr, dport, sport));
}

}  // namespace platform
