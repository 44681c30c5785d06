#include "monitor/history/HistoryFold.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace ombrix {

namespace {

using TConsumerKey = std::tuple<int, std::string, std::uint32_t, std::string>;

void AddWeighted(TFigureSet& sum, const TFigureSet& mean, double ticks) {
  sum.Processor += mean.Processor * ticks;
  sum.Memory += mean.Memory * ticks;
  sum.Disk += mean.Disk * ticks;
  sum.Network += mean.Network * ticks;
}

void KeepPeak(TFigureSet& peak, const TFigureSet& other) {
  peak.Processor = std::max(peak.Processor, other.Processor);
  peak.Memory = std::max(peak.Memory, other.Memory);
  peak.Disk = std::max(peak.Disk, other.Disk);
  peak.Network = std::max(peak.Network, other.Network);
}

TFigureSet Divided(const TFigureSet& sum, double ticks) {
  return {sum.Processor / ticks, sum.Memory / ticks, sum.Disk / ticks, sum.Network / ticks};
}

// The largest shares of each kind, in the order a sample keeps them.
std::vector<TConsumer> TopShares(const std::map<TConsumerKey, double>& sums, double ticks) {
  std::vector<TConsumer> all;
  all.reserve(sums.size());
  for (const auto& [key, sum] : sums) {
    const auto& [kind, name, pid, process] = key;
    all.push_back({static_cast<TConsumerKind>(kind), pid, name, process, sum / ticks});
  }
  std::stable_sort(all.begin(), all.end(), [](const TConsumer& a, const TConsumer& b) {
    if (a.Kind != b.Kind) return a.Kind < b.Kind;
    return a.Value > b.Value;
  });
  std::vector<TConsumer> kept;
  std::array<int, ConsumerKindCount> taken{};
  for (TConsumer& c : all) {
    int& count = taken[static_cast<std::size_t>(c.Kind)];
    if (count < KeptOf(c.Kind)) {
      ++count;
      kept.push_back(std::move(c));
    }
  }
  return kept;
}

}  // namespace

THistorySample FoldSamples(const std::vector<THistorySample>& samples, std::int64_t minuteStart) {
  THistorySample folded;
  folded.Time = minuteStart;
  folded.Span = MinuteMs;
  folded.Folded = true;
  folded.Ticks = 0;
  TFigureSet sum;
  std::map<TConsumerKey, double> shares;  // ordered: ties come out by name, then process id
  for (const THistorySample& s : samples) {
    const std::int64_t ticks = std::max<std::int64_t>(s.Ticks, 1);
    folded.Ticks += ticks;
    AddWeighted(sum, s.Mean, static_cast<double>(ticks));
    KeepPeak(folded.Peak, s.Peak);
    for (const TConsumer& c : s.Consumers)
      shares[{static_cast<int>(c.Kind), c.Name, c.ProcessId, c.Process}] +=
          c.Value * static_cast<double>(ticks);
  }
  if (folded.Ticks == 0) return folded;
  const auto ticks = static_cast<double>(folded.Ticks);
  folded.Mean = Divided(sum, ticks);
  folded.Consumers = TopShares(shares, ticks);
  return folded;
}

}  // namespace ombrix
