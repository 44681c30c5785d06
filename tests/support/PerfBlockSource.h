// A scripted performance data source for the reader's tests: hands out prepared blocks,
// name tables and resource maps, and can fail any step with a given code.
#pragma once
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/perfdata/PerfDataKey.h"

namespace ombrix::testing {

class FakePerfSource : public platform::PerfDataSource {
 public:
  FakePerfSource() { platform::SetPerfDataSource(this); }
  ~FakePerfSource() override { platform::SetPerfDataSource(nullptr); }

  std::deque<std::vector<std::uint8_t>> Blocks;  // one per successful query, in order
  std::uint32_t QueryError = 0;                  // answered instead of a block when set
  std::string CounterNames = std::string("238\0Processor\0006\0% Processor Time\0\0\0", 35);
  std::string HelpTexts = std::string("239\0Processors\0\0", 16);
  std::string ResourceMap;
  std::uint32_t ConnectError = 0, NameTableError = 0, ResourceMapError = 0;
  std::uint32_t NamesQueryError = 0;
  std::vector<std::string> Queries;       // query texts seen
  std::vector<std::uint32_t> QuerySizes;  // buffer sizes seen
  std::string LastMachine;

  std::uint32_t Connect(const std::string& machine) override {
    LastMachine = machine;
    return ConnectError;
  }
  std::uint32_t QueryPerformanceData(std::string_view queryText, void* buffer, std::uint32_t size,
                                     std::uint32_t* bytes) override {
    Queries.emplace_back(queryText);
    QuerySizes.push_back(size);
    if (QueryError != 0) return QueryError;
    if (Blocks.empty()) return platform::ERROR_FILE_NOT_FOUND;
    const std::uint32_t rc = Answer(Blocks.front(), buffer, size, bytes);
    if (rc == 0) Blocks.pop_front();
    return rc;
  }
  std::uint32_t OpenNameTable() override { return NameTableError; }
  std::uint32_t QueryNameTable(std::string_view valueName, void* buffer, std::uint32_t size,
                               std::uint32_t* bytes) override {
    if (NamesQueryError != 0) return NamesQueryError;
    const std::string& t = valueName == "Counters" ? CounterNames : HelpTexts;
    return Answer(std::vector<std::uint8_t>(t.begin(), t.end()), buffer, size, bytes);
  }
  std::uint32_t OpenResourceMap() override { return ResourceMapError; }
  std::uint32_t QueryResourceMap(std::string_view, void* buffer, std::uint32_t size,
                                 std::uint32_t* bytes) override {
    return Answer(std::vector<std::uint8_t>(ResourceMap.begin(), ResourceMap.end()), buffer, size,
                  bytes);
  }

 private:
  static std::uint32_t Answer(const std::vector<std::uint8_t>& data, void* buffer,
                              std::uint32_t size, std::uint32_t* bytes) {
    *bytes = static_cast<std::uint32_t>(data.size());
    if (data.size() > size) return platform::ERROR_MORE_DATA;
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    return 0;
  }
};

}  // namespace ombrix::testing
