#include "monitor/metrics/MetricsSample.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "monitor/model/Tables.h"

namespace ombrix {

namespace {

constexpr double BytesPerMegabyte = 1048576;
// A name without processes keeps its counters as long as an idle file or socket stays, so
// that a program started every few minutes continues its series instead of restarting it.
constexpr double GroupIdleLimit = IdleLimit / 1000.0;

// Counters only grow: a figure that went back (a counter the kernel restarted) adds nothing.
void Grow(double& counter, double amount) {
  if (amount > 0) counter += amount;
}

TIndicatorFigure Indicator(double percent, TState state) {
  return {percent / 100, static_cast<int>(state) - static_cast<int>(stGreen)};
}

// The rows by bytes per second, the busiest first; equals stay in the order of their labels.
template <typename Key, typename Row>
std::vector<Row> Busiest(std::map<Key, Row>& merged, std::size_t top) {
  std::vector<Row> rows;
  rows.reserve(merged.size());
  for (auto& entry : merged) rows.push_back(std::move(entry.second));
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return a.BytesPerSecond > b.BytesPerSecond; });
  if (rows.size() > top) rows.resize(top);
  return rows;
}

// File objects of one path and process name are one series: the labels could not tell them
// apart, and a scrape must not show the same series twice.
std::vector<TFileFigures> TopFiles(TEntityTables& tables, std::size_t top) {
  std::map<std::pair<std::string, std::string>, TFileFigures> merged;
  for (const auto& f : tables.Files) {
    const std::string name = f->GetName();  // resolves the name and, with it, the directory
    TFileFigures row{f->Directory + name, f->ProcessName()};
    TFileFigures& m = merged.try_emplace({row.Path, row.Process}, std::move(row)).first->second;
    m.BytesPerSecond += f->ByteRateAvg.LastValue();
    m.TransfersPerSecond += f->IoRateAvg.LastValue();
  }
  return Busiest(merged, top);
}

std::vector<TSocketFigures> TopSockets(TEntityTables& tables, std::size_t top) {
  std::map<std::tuple<std::string, std::string, std::string>, TSocketFigures> merged;
  for (const auto& s : tables.Sockets) {
    TSocketFigures row{s->RemoteHostName(), s->GetName(), s->ProcessName()};
    auto key = std::make_tuple(row.Remote, row.Service, row.Process);
    TSocketFigures& m = merged.try_emplace(std::move(key), std::move(row)).first->second;
    m.BytesPerSecond += s->ByteRateAvg.LastValue();
    m.PacketsPerSecond += s->PacketRateAvg.LastValue();
  }
  return Busiest(merged, top);
}

}  // namespace

void TSampleBuilder::CountInterval(TEntityTables& tables) {
  for (const auto& p : tables.Processes)
    if (p->Active && p->IntervalIpBytes > 0)
      Grow(groups_[p->GetName()].IpBytes, static_cast<double>(p->IntervalIpBytes));
}

std::shared_ptr<const TMetricsSample> TSampleBuilder::Build(const TMetricsSources& s) {
  auto sample = std::make_shared<TMetricsSample>();
  sample->Samples = ++samples_;
  sample->Indicators[inProcessor] = Indicator(s.Figures.CpuInuse, s.States.Processor);
  sample->Indicators[inMemory] = Indicator(s.Figures.MemoryInuse, s.States.Memory);
  sample->Indicators[inDisk] = Indicator(s.Figures.DiskBusy, s.States.Disk);
  sample->Indicators[inNetwork] = Indicator(s.Figures.NetworkBusy, s.States.Network);
  AddGroups(s, *sample);
  AddDisks(s, *sample);
  AddAdapters(s, *sample);
  sample->Files = TopFiles(s.Tables, top_);
  sample->Sockets = TopSockets(s.Tables, top_);
  return sample;
}

// Processes that left the tables this tick are gone from the walk; what they were counted
// for earlier stays in their name's counters.
std::map<std::string, TProcessGroupFigures> TSampleBuilder::CountProcesses(
    const TMetricsSources& s) {
  std::map<std::string, TProcessGroupFigures> running;
  for (const auto& p : s.Tables.Processes) {
    if (!p->Active) continue;
    const std::string name = p->GetName();
    TProcessGroupFigures& g = running[name];
    g.Processes += 1;
    g.WorkingSetBytes += p->WorkingSetAvg.Mean();
    g.PrivateBytes += std::max(p->PrivateBytesAvg.Mean(), 0.0);
    // The processor figure is a share of all processors over the interval.
    TGroupTotals& totals = groups_[name];
    Grow(totals.CpuSeconds,
         p->ProcessorAvg.LastValue() / 100 * s.ProcessorCount * s.IntervalSeconds);
    Grow(totals.IoBytes, p->IoByteRateAvg.LastValue() * s.IntervalSeconds);
  }
  return running;
}

void TSampleBuilder::AddGroups(const TMetricsSources& s, TMetricsSample& out) {
  const std::map<std::string, TProcessGroupFigures> running = CountProcesses(s);
  for (auto it = groups_.begin(); it != groups_.end();) {
    auto& [name, totals] = *it;
    const auto found = running.find(name);
    totals.IdleSeconds = found != running.end() ? 0 : totals.IdleSeconds + s.IntervalSeconds;
    if (totals.IdleSeconds >= GroupIdleLimit) {
      it = groups_.erase(it);
      continue;
    }
    TProcessGroupFigures g = found != running.end() ? found->second : TProcessGroupFigures{};
    g.Name = name;
    g.CpuSeconds = totals.CpuSeconds;
    g.IoBytes = totals.IoBytes;
    g.IpBytes = totals.IpBytes;
    out.Groups.push_back(std::move(g));
    ++it;
  }
}

// A disk or adapter absent from a sample starts its counters afresh when it comes back.
void TSampleBuilder::AddDisks(const TMetricsSources& s, TMetricsSample& out) {
  std::map<std::string, TDiskFigures> seen;
  for (const auto& d : s.Tables.Disks) {
    if (!d->Active) continue;
    TDiskFigures row = disks_[d->Name];
    row.Name = d->Name;
    row.FreeRatio = d->FreeSpaceAvg.Mean() / 100;
    row.FreeBytes = d->FreeMegabytesAvg.Mean() * BytesPerMegabyte;
    row.BusyRatio = d->BusyPercentAvg.Mean() / 100;
    row.QueueDepth = d->QueueDepthAvg.Mean();
    Grow(row.Transfers, d->IoRateAvg.LastValue() * s.IntervalSeconds);
    Grow(row.Bytes, d->ByteRateAvg.LastValue() * s.IntervalSeconds);
    out.Disks.push_back(row);
    seen[d->Name] = std::move(row);
  }
  disks_ = std::move(seen);
}

// The adapter's byte count is the interval's own difference; its error figure is a count
// per interval, not a rate.
void TSampleBuilder::AddAdapters(const TMetricsSources& s, TMetricsSample& out) {
  std::map<std::string, TAdapterFigures> seen;
  for (const auto& a : s.Tables.Adapters) {
    if (!a->Active) continue;
    TAdapterFigures row = adapters_[a->Name];
    row.Name = a->Name;
    row.BandwidthBytes = static_cast<double>(a->Bandwidth) / 8;
    Grow(row.Bytes, static_cast<double>(a->IntervalBytes));
    Grow(row.Packets, a->PacketRateAvg.LastValue() * s.IntervalSeconds);
    Grow(row.Errors, a->ErrorRateAvg.LastValue());
    out.Adapters.push_back(row);
    seen[a->Name] = std::move(row);
  }
  adapters_ = std::move(seen);
}

}  // namespace ombrix
