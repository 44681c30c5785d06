// Writes performance data blocks in the published layout from a plain description, for
// the reader's tests. Written independently of the provider's writer, so that the two
// check each other through the reader.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/perfdata/PerfLayout.h"

namespace ombrix::testing {

struct PerfCounterSpec {
  std::uint32_t Index = 0;
  std::uint32_t Type = platform::PERF_COUNTER_RAWCOUNT;
};

struct PerfInstanceSpec {
  std::string Name;
  std::vector<std::int64_t> Values;  // one per counter, in definition order
  std::int32_t UniqueID = -1;
  std::uint32_t ParentObjectTitleIndex = 0;
  std::uint32_t ParentObjectInstance = 0;
};

struct PerfObjectSpec {
  std::uint32_t Index = 0;
  std::vector<PerfCounterSpec> Counters;
  bool HasInstances = false;                // false: one counter block holding Values
  std::vector<std::int64_t> Values;         // without instances
  std::vector<PerfInstanceSpec> Instances;  // with instances
  std::int64_t PerfTime = 0;
  std::int64_t PerfFreq = 0;
  std::uint32_t DetailLevel = 100;
};

struct PerfBlockSpec {
  std::int64_t PerfTime = 0;
  std::int64_t PerfFreq = 1000000000;
  std::int64_t PerfTime100nSec = 0;
  std::string SystemName = "TESTHOST";
  std::uint16_t SystemTime[8] = {2024, 3, 0, 9, 7, 5, 3, 0};
  std::vector<PerfObjectSpec> Objects;
  std::uint32_t Padding = 0;  // zero bytes appended to make big blocks
};

std::vector<std::uint8_t> BuildPerfBlock(const PerfBlockSpec& layout);

// Little-endian field access for tests that damage blocks on purpose.
void PutU32(std::vector<std::uint8_t>& block, std::size_t at, std::uint32_t value);
std::uint32_t GetU32(const std::vector<std::uint8_t>& block, std::size_t at);

}  // namespace ombrix::testing
