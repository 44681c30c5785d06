// Any bytes as a previous and a current performance data block: the walk, every counter's
// value and the dump either work or raise EStatisticsError (or an overflow error of the
// checked arithmetic); they never read outside the blocks.
// Input: a 32-bit little-endian length of the previous block, that block, then the
// current block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "monitor/diagnostics/PerfDataDump.h"
#include "monitor/perfdata/Statistics.h"
#include "platform/checked/Checked.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ombrix::TPerformanceData reader;
  std::uint32_t split = 0;
  if (size >= 4) std::memcpy(&split, data, 4);
  data += size >= 4 ? 4 : size;
  size -= size >= 4 ? 4 : size;
  split = size == 0 ? 0 : static_cast<std::uint32_t>(split % (size + 1));
  const std::vector<std::uint8_t> previous(data, data + split);
  const std::vector<std::uint8_t> current(data + split, data + size);
  try {
    reader.LoadBlocks(previous, current);
  } catch (const ombrix::EStatisticsError&) {
    return 0;
  }
  try {
    reader.ForEachCounter(
        [&](ombrix::TObjectType& o, ombrix::TInstance* i, bool, ombrix::TCounter& c) {
          if (i) (void)i->Name();
          (void)o.ObjectName();
          (void)c.PreviousRawValue();
          try {
            const double v = c.CounterValue();
            (void)v;
          } catch (const platform::EIntOverflow&) {
          }
          return false;
        });
  } catch (const ombrix::EStatisticsError&) {
  }
  std::size_t bytes = 0;
  try {
    ombrix::DumpPerformanceData(reader.Current(),
                                [&](const std::string& text) { bytes += text.size(); });
  } catch (const ombrix::EStatisticsError&) {
  }
  return 0;
}
