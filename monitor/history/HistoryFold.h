// Folding a minute of samples into one: the mean and the peak of each figure, and the top
// consumers by their share of the minute.
#pragma once
#include <cstdint>
#include <vector>

#include "monitor/history/HistorySample.h"

namespace ombrix {

// One sample for the minute that starts at minuteStart, from the samples given: ticks, and an
// earlier fold of the same minute (it counts with the ticks it stands for). A consumer's
// share is its mean over all the ticks, counting 0 where it was not among the top; the
// largest shares are kept, ties by name, then process id. No samples give an empty minute.
THistorySample FoldSamples(const std::vector<THistorySample>& samples, std::int64_t minuteStart);

}  // namespace ombrix
