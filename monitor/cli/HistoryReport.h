// The text front end's look back: the history as one line per minute.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/history/HistorySample.h"

namespace ombrix {

class THistoryStore;

// A moment given on the command line, in milliseconds since 1970: "HH:MM" (today, or for
// the start of a range yesterday when today's is still to come), "YYYY-MM-DD HH:MM", or a
// time back from now, "-10m", "-2h" (also "s" and "d"), all in local time. False for
// anything else.
bool ParseWhen(const std::string& text, std::int64_t now, bool rangeStart, std::int64_t& when);

// A table of one line per minute (each minute folded as the history folds it): the minute,
// the four figures, the top process of processor, memory, disk and network; a title line
// first. From samples in time order.
std::string MinuteLines(const std::vector<THistorySample>& samples);
// The same for the minutes from `from`'s up to `to` in the store; empty when it holds none.
std::string MinuteLines(const THistoryStore& store, std::int64_t from, std::int64_t to);

}  // namespace ombrix
