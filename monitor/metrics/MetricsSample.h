// What one finished sample gives a metrics scrape: plain figures copied out of the model at
// the end of a tick, so that a scrape reads neither the model nor /proc, and never waits for
// the tick.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "monitor/shell/indicators/Indicators.h"

namespace ombrix {

class TEntityTables;

// The processes that share one name. Gauges are summed as the Processes view shows them;
// the counters run from when the name was first seen by this run.
struct TProcessGroupFigures {
  std::string Name;
  double Processes = 0;
  double WorkingSetBytes = 0;
  double PrivateBytes = 0;
  double CpuSeconds = 0;  // processor time, all processors together
  double IoBytes = 0;
  double IpBytes = 0;
};

// One disk as the Disks view shows it, with its traffic counted since this run first saw it.
struct TDiskFigures {
  std::string Name;
  double FreeRatio = 0;
  double FreeBytes = 0;
  double BusyRatio = 0;
  double QueueDepth = 0;
  double Transfers = 0;
  double Bytes = 0;
};

// One network adapter likewise; its link speed in bytes per second.
struct TAdapterFigures {
  std::string Name;
  double BandwidthBytes = 0;
  double Bytes = 0;
  double Packets = 0;
  double Errors = 0;
};

// A file's traffic over the last interval, all file objects of one path and process name
// together.
struct TFileFigures {
  std::string Path;
  std::string Process;
  double BytesPerSecond = 0;
  double TransfersPerSecond = 0;
};

// A remote end's traffic over the last interval, per service and process name.
struct TSocketFigures {
  std::string Remote;
  std::string Service;
  std::string Process;
  double BytesPerSecond = 0;
  double PacketsPerSecond = 0;
};

enum TIndicator : int { inProcessor = 0, inMemory = 1, inDisk = 2, inNetwork = 3 };
inline constexpr std::size_t IndicatorCount = 4;

struct TIndicatorFigure {
  double Ratio = 0;  // the tray's figure, 1 for 100%
  int State = 0;     // 0 green, 1 yellow, 2 red
};

struct TMetricsSample {
  std::array<TIndicatorFigure, IndicatorCount> Indicators{};
  double Samples = 0;                        // ticks completed so far
  std::vector<TProcessGroupFigures> Groups;  // by name
  std::vector<TDiskFigures> Disks;
  std::vector<TAdapterFigures> Adapters;
  std::vector<TFileFigures> Files;      // the busiest first, at most the top count
  std::vector<TSocketFigures> Sockets;  // likewise
};

// What a sample is built from at the end of a tick.
struct TMetricsSources {
  TEntityTables& Tables;
  TFigures Figures;
  TStates States;
  std::int32_t ProcessorCount = 1;
  double IntervalSeconds = 0;  // the interval the tick closed
};

// Builds each tick's sample and keeps the counters from one tick to the next. Call with
// ModelLock held, on the thread that runs the tick.
class TSampleBuilder {
 public:
  // top: how many files and how many sockets a sample keeps.
  explicit TSampleBuilder(std::size_t top) : top_(top) {}

  // Counts what the tick clears when it closes the processes' intervals (their IP bytes):
  // call after the sweep, before the intervals close.
  void CountInterval(TEntityTables& tables);
  // The sample of the tick that has just closed its intervals.
  std::shared_ptr<const TMetricsSample> Build(const TMetricsSources& sources);

 private:
  struct TGroupTotals {
    double CpuSeconds = 0, IoBytes = 0, IpBytes = 0;
    double IdleSeconds = 0;  // since the name's last process ended
  };
  std::map<std::string, TProcessGroupFigures> CountProcesses(const TMetricsSources& s);
  void AddGroups(const TMetricsSources& s, TMetricsSample& out);
  void AddDisks(const TMetricsSources& s, TMetricsSample& out);
  void AddAdapters(const TMetricsSources& s, TMetricsSample& out);

  std::size_t top_;
  double samples_ = 0;
  std::map<std::string, TGroupTotals> groups_;
  std::map<std::string, TDiskFigures> disks_;
  std::map<std::string, TAdapterFigures> adapters_;
};

}  // namespace ombrix
