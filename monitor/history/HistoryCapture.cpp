#include "monitor/history/HistoryCapture.h"

#include <algorithm>
#include <array>

#include "monitor/model/Tables.h"

namespace ombrix {

namespace {

constexpr std::size_t MostKept = 5;

// The largest few of a table by a figure, found in one pass without sorting the table. Among
// equals the later in the table comes first, as in the views' rows.
template <typename T>
class TTop {
 public:
  explicit TTop(std::size_t keep) : keep_(std::min(keep, MostKept)) {}
  void Offer(T* entity, double value) {
    if (!(value > 0) || (count_ == keep_ && value < items_[count_ - 1].second)) return;
    std::size_t at = count_ < keep_ ? count_++ : count_ - 1;
    for (; at > 0 && items_[at - 1].second <= value; --at) items_[at] = items_[at - 1];
    items_[at] = {entity, value};
  }
  std::size_t Count() const { return count_; }
  const std::pair<T*, double>& operator[](std::size_t i) const { return items_[i]; }

 private:
  std::array<std::pair<T*, double>, MostKept> items_{};
  std::size_t keep_;
  std::size_t count_ = 0;
};

void CaptureProcesses(TEntityTables& tables, const TProcessInfo* idle, THistorySample& sample) {
  const TConsumerKind kinds[] = {TConsumerKind::Processor, TConsumerKind::WorkingSet,
                                 TConsumerKind::DiskIo, TConsumerKind::Network};
  std::array<TTop<TProcessInfo>, 4> tops{
      TTop<TProcessInfo>(KeptOf(kinds[0])), TTop<TProcessInfo>(KeptOf(kinds[1])),
      TTop<TProcessInfo>(KeptOf(kinds[2])), TTop<TProcessInfo>(KeptOf(kinds[3]))};
  for (const auto& p : tables.Processes) {
    if (!p->Active || p.get() == idle) continue;
    tops[0].Offer(p.get(), p->ProcessorAvg.Mean());
    tops[1].Offer(p.get(), p->WorkingSetAvg.Mean());
    tops[2].Offer(p.get(), p->IoByteRateAvg.Mean());
    tops[3].Offer(p.get(), p->IpByteRateAvg.Mean());
  }
  for (std::size_t k = 0; k < tops.size(); ++k)
    for (std::size_t i = 0; i < tops[k].Count(); ++i) {
      auto [p, value] = tops[k][i];
      sample.Consumers.push_back({kinds[k], p->ProcessId, p->GetName(), {}, value});
    }
}

void CaptureFiles(TEntityTables& tables, THistorySample& sample) {
  TTop<TFileInfo> top(KeptOf(TConsumerKind::File));
  for (const auto& f : tables.Files)
    if (f->Active) top.Offer(f.get(), f->ByteRateAvg.Mean());
  for (std::size_t i = 0; i < top.Count(); ++i) {
    auto [f, value] = top[i];
    const std::string name = f->GetName();  // resolves the name first
    sample.Consumers.push_back(
        {TConsumerKind::File, f->ProcessId, f->Directory + name, f->ProcessName(), value});
  }
}

void CaptureSockets(TEntityTables& tables, THistorySample& sample) {
  TTop<TSocketInfo> top(KeptOf(TConsumerKind::Socket));
  for (const auto& s : tables.Sockets)
    if (s->Active) top.Offer(s.get(), s->ByteRateAvg.Mean());
  for (std::size_t i = 0; i < top.Count(); ++i) {
    auto [s, value] = top[i];
    // The remote host and the service, as the Sockets view shows them side by side.
    const std::string service = s->GetName();
    std::string name = s->RemoteHostName();
    if (!service.empty()) name += " (" + service + ")";
    sample.Consumers.push_back(
        {TConsumerKind::Socket, s->ProcessId, std::move(name), s->ProcessName(), value});
  }
}

}  // namespace

THistorySample CaptureSample(TEntityTables& tables, const TProcessInfo* idle,
                             const TFigureSet& figures, std::int64_t time, std::int64_t span) {
  THistorySample sample;
  sample.Time = time;
  sample.Span = span;
  sample.Mean = sample.Peak = figures;
  sample.Consumers.reserve(26);
  CaptureProcesses(tables, idle, sample);
  CaptureFiles(tables, sample);
  CaptureSockets(tables, sample);
  return sample;
}

}  // namespace ombrix
