#include "platform/perfdata/PerfDataKey.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "platform/perfdata/LinuxProvider.h"

namespace platform {

namespace {
std::atomic<PerfDataSource*> g_source{nullptr};
}  // namespace

void SetPerfDataSource(PerfDataSource* source) {
  g_source = source;
}

PerfDataSource& CurrentPerfDataSource() {
  PerfDataSource* s = g_source;
  return s ? *s : LinuxPerfDataSource();
}

std::uint32_t ConnectPerformanceData(const std::string& machine) {
  return CurrentPerfDataSource().Connect(machine);
}

std::uint32_t QueryPerformanceData(std::string_view queryText, void* buffer, std::uint32_t size,
                                   std::uint32_t* bytes) {
  return CurrentPerfDataSource().QueryPerformanceData(queryText, buffer, size, bytes);
}

std::uint32_t OpenNameTable() {
  return CurrentPerfDataSource().OpenNameTable();
}

std::uint32_t QueryNameTable(std::string_view valueName, void* buffer, std::uint32_t size,
                             std::uint32_t* bytes) {
  return CurrentPerfDataSource().QueryNameTable(valueName, buffer, size, bytes);
}

std::uint32_t OpenResourceMap() {
  return CurrentPerfDataSource().OpenResourceMap();
}

std::uint32_t QueryResourceMap(std::string_view valueName, void* buffer, std::uint32_t size,
                               std::uint32_t* bytes) {
  return CurrentPerfDataSource().QueryResourceMap(valueName, buffer, size, bytes);
}

std::uint32_t CopyAnswer(const void* data, std::size_t length, void* buffer, std::uint32_t size,
                         std::uint32_t* bytes) {
  if (length > std::numeric_limits<std::uint32_t>::max()) length = 0;  // cannot be described
  const auto needed = static_cast<std::uint32_t>(length);
  if (bytes) *bytes = needed;
  if (needed > size || (needed > 0 && buffer == nullptr)) return ERROR_MORE_DATA;
  if (needed > 0) std::memcpy(buffer, data, needed);
  return ERROR_SUCCESS;
}

}  // namespace platform
