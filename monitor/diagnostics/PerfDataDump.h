// The performance data dump: one block, object by object, written to the trace file on
// request. Thread objects are left out: they would swamp the file.
#pragma once
#include <functional>
#include <string>

namespace ombrix {

class TDataBlock;

// Writes the dump of a valid block (nothing for an invalid one) through writeLine; one call
// may carry several lines joined by line ends. A damaged block raises EStatisticsError.
void DumpPerformanceData(TDataBlock& block,
                         const std::function<void(const std::string&)>& writeLine);
// The same into TraceFile, which is emptied and opened first when it is not open yet.
void DumpPerformanceData(TDataBlock& block);

}  // namespace ombrix
