// Kernel event records in the published layouts, for the tests of the trace and its handlers.
// Addresses and ports are given in host byte order; View() of a record is the EVENT_TRACE a
// handler receives.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernelevents/EventRecord.h"

namespace ombrix::testing {

using platform::EventRecord;

std::uint32_t Ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);

EventRecord DiskIo(std::uint32_t pid, std::uint32_t fileObject, std::uint32_t bytes,
                   std::uint32_t response = 0, std::uint32_t disk = 0,
                   std::uint8_t type = platform::EVENT_TYPE_DISK_READ);
EventRecord FileName(std::uint32_t fileObject, std::string_view utf8Name);
// The name as UTF-16 code units, with or without the terminating zero.
EventRecord FileNameUnits(std::uint32_t fileObject, std::u16string_view units,
                          bool terminated = true);
EventRecord ProcessStart(std::uint32_t pid, std::string_view image, std::uint32_t parent = 1,
                         std::uint32_t uid = 1000);
// A start whose SID has the given number of sub-authorities (5 for the common account SID, the
// image then at offset 56); with emptySidPointer the SID pointer is 0 and no SID follows, the
// image starting right after the attributes field (offset 28).
EventRecord ProcessStartWithSid(std::uint32_t pid, std::string_view image,
                                std::uint8_t subAuthorities, bool emptySidPointer = false,
                                bool terminated = true);
EventRecord ProcessEnd(std::uint32_t pid);  // type 2: a type the decoding ignores
EventRecord Tcp(std::uint8_t type, std::uint32_t pid, std::uint32_t size, std::uint32_t daddr,
                std::uint32_t saddr, std::uint16_t dport, std::uint16_t sport);
EventRecord Udp(std::uint8_t type, std::uint32_t pid, std::uint32_t size, std::uint32_t daddr,
                std::uint32_t saddr, std::uint16_t dport, std::uint16_t sport);
EventRecord Registry(std::uint32_t pid);
EventRecord Raw(const platform::GUID& guid, std::uint8_t type, std::uint32_t headerPid,
                std::vector<std::uint8_t> data);
// The same record with its data cut to length bytes (a record too short for its fields).
EventRecord Truncated(EventRecord record, std::size_t length);

// Reading a delivered record back: a little-endian field, a port kept in network order, and the
// name of a file-name record (characters outside ASCII as "?").
std::uint32_t RecordU32(const EventRecord& r, std::size_t at);
std::uint16_t RecordPort(const EventRecord& r, std::size_t at);
std::string RecordName(const EventRecord& r);

}  // namespace ombrix::testing
