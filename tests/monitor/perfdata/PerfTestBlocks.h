// Shared block descriptions for the reader's tests.
#pragma once
#include <string>
#include <vector>

#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/support/PerfBlockBuilder.h"

namespace ombrix::testing {

inline constexpr std::uint32_t RAW = platform::PERF_COUNTER_RAWCOUNT;
inline constexpr std::uint32_t LRAW = platform::PERF_COUNTER_LARGE_RAWCOUNT;
inline constexpr std::uint32_t BULK = platform::PERF_COUNTER_BULK_COUNT;
inline constexpr std::uint32_t P100 = platform::PERF_PRECISION_100NS_TIMER;
inline constexpr std::uint32_t PTS = platform::PERF_PRECISION_TIMESTAMP;

struct Visit {
  std::uint32_t Object;
  std::string Instance;  // "-" without instance
  std::uint32_t Counter;
  bool Last;
  bool HasBase;
  std::int64_t Raw;
  std::int64_t PreviousRaw;
  double Value;
};

// Walks the reader's current block and records every visit.
inline std::vector<Visit> Walk(TPerformanceData& reader, bool computeValues = true) {
  std::vector<Visit> v;
  reader.ForEachCounter([&](TObjectType& o, TInstance* i, bool last, TCounter& c) {
    v.push_back({o.ObjectNameTitleIndex(), i ? i->Name() : "-", c.CounterNameTitleIndex(), last,
                 o.BaseCounter().HasDefinition(), c.RawValue(), c.PreviousRawValue(),
                 computeValues ? c.CounterValue() : 0.0});
    return false;
  });
  return v;
}

inline const Visit* Find(const std::vector<Visit>& v, std::uint32_t object,
                         const std::string& instance, std::uint32_t counter) {
  for (const Visit& x : v)
    if (x.Object == object && x.Instance == instance && x.Counter == counter) return &x;
  return nullptr;
}

// A process object: % Processor Time with its base, then ID Process.
inline PerfObjectSpec ProcessObject(std::vector<PerfInstanceSpec> instances) {
  PerfObjectSpec o;
  o.Index = platform::kObjProcess;
  o.Counters = {{platform::kProcessorTime, P100},
                {platform::kProcessorTime, PTS},
                {platform::kIdProcess, RAW}};
  o.HasInstances = true;
  o.Instances = std::move(instances);
  return o;
}

inline PerfInstanceSpec Proc(const std::string& name, std::int64_t cpu, std::int64_t base,
                             std::int64_t pid) {
  return {name, {cpu, base, pid}};
}

}  // namespace ombrix::testing
