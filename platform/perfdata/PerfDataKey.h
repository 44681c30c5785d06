// The performance data service, shaped after the registry values that carry it: the
// performance data key (a query text names the objects, the answer is a PERF_DATA_BLOCK),
// the name table key ("Counters" and "Help") and the physical memory resource map
// (".Translated"). Each query copies into the caller's buffer or answers ERROR_MORE_DATA
// with the size needed, so callers grow their buffer and ask again.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status/Status.h"

namespace platform {

// Where the answers come from. The Linux provider is the default; tests put their own in.
class PerfDataSource {
 public:
  virtual ~PerfDataSource() = default;
  // 0 when the machine can be read: the local machine under any of its names.
  virtual std::uint32_t Connect(const std::string& machine) = 0;
  virtual std::uint32_t QueryPerformanceData(std::string_view queryText, void* buffer,
                                             std::uint32_t size, std::uint32_t* bytes) = 0;
  virtual std::uint32_t OpenNameTable() = 0;
  // valueName is "Counters" or "Help"; anything else is ERROR_FILE_NOT_FOUND.
  virtual std::uint32_t QueryNameTable(std::string_view valueName, void* buffer, std::uint32_t size,
                                       std::uint32_t* bytes) = 0;
  virtual std::uint32_t OpenResourceMap() = 0;
  // valueName is ".Translated"; anything else is ERROR_FILE_NOT_FOUND.
  virtual std::uint32_t QueryResourceMap(std::string_view valueName, void* buffer,
                                         std::uint32_t size, std::uint32_t* bytes) = 0;
};

// Replaces the source for the whole process; nullptr restores the Linux provider.
void SetPerfDataSource(PerfDataSource* source);
PerfDataSource& CurrentPerfDataSource();

std::uint32_t ConnectPerformanceData(const std::string& machine);
std::uint32_t QueryPerformanceData(std::string_view queryText, void* buffer, std::uint32_t size,
                                   std::uint32_t* bytes);
std::uint32_t OpenNameTable();
std::uint32_t QueryNameTable(std::string_view valueName, void* buffer, std::uint32_t size,
                             std::uint32_t* bytes);
std::uint32_t OpenResourceMap();
std::uint32_t QueryResourceMap(std::string_view valueName, void* buffer, std::uint32_t size,
                               std::uint32_t* bytes);

// Copies an answer into the caller's buffer, or reports ERROR_MORE_DATA and the size needed.
std::uint32_t CopyAnswer(const void* data, std::size_t length, void* buffer, std::uint32_t size,
                         std::uint32_t* bytes);

}  // namespace platform
