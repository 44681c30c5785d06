// What a tick leaves in the history: the indicator figures and the top consumers, copied
// out of the statistics model so that they can be written without holding ModelLock.
#pragma once
#include <cstdint>

#include "monitor/history/HistorySample.h"

namespace ombrix {

class TEntityTables;
class TProcessInfo;

// The sample of the tick that just ended at `time` (milliseconds since 1970), covering
// `span` milliseconds. Consumers are ranked by the figures the views show; only entities
// active in the tick, with a figure above 0, count, and `idle` (the idle pseudo process,
// whose "processor" is the time nobody used) never does. Call with ModelLock held.
THistorySample CaptureSample(TEntityTables& tables, const TProcessInfo* idle,
                             const TFigureSet& figures, std::int64_t time, std::int64_t span);

}  // namespace ombrix
