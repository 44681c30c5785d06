// The four watched resources (processor, memory, disk, network): their figures, their
// green/yellow/red states against the user's levels, and the texts of the tip, the state
// icons' hints and the tray menu. UI-free; the tick calls it with ModelLock held.
#pragma once
#include <QLocale>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "monitor/settings/Settings.h"

namespace ombrix {

class TAverage;
class TMemoryInfo;
class TDiskInfo;
class TAdapterInfo;

// A state is the index of its disc in the image list; the worse of two is the larger.
enum TState : int { stGreen = 5, stYellow = 6, stRed = 7 };

// Rising scale (Yellow < Red): above a level takes its colour; falling scale otherwise:
// below a level takes it. A figure equal to a level is not yet in its colour.
TState LevelState(double figure, const TThresholdLevels& levels);
inline TState Worse(TState a, TState b) {
  return a > b ? a : b;
}

// What the figures are read from: the machine-wide averages and tables the core keeps.
struct TIndicatorSources {
  const TAverage& CpuUsageAverage;
  const TAverage& CpuQueueAverage;
  const TAverage& DiskBusyAverage;
  const TAverage& DiskQueueAverage;
  const TMemoryInfo& Memory;
  std::int32_t ProcessorCount;  // at least 1
  const std::vector<std::unique_ptr<TDiskInfo>>& Disks;
  const std::vector<std::unique_ptr<TAdapterInfo>>& Adapters;
  double IntervalSeconds;  // length of the interval just closed
};

struct TFigures {
  double CpuInuse = 0;
  double CpuQueuePerProcessor = 0;
  double MemoryInuse = 0;
  double MemoryAvailableMB = 0;    // smallest sample held
  double MemoryAvailableMean = 0;  // bytes, for the memory text
  double DiskBusy = 0;
  double DiskQueuePerDisk = 0;
  double NetworkBusy = 0;
};

// Traffic of the active adapters that moved bytes, as a percent of their bandwidth; 0
// when none reports bandwidth. Idle adapters do not count towards the bandwidth.
double NetworkBusy(const std::vector<std::unique_ptr<TAdapterInfo>>& adapters,
                   double intervalSeconds);
TFigures ComputeFigures(const TIndicatorSources& sources);

struct TStates {
  TState Processor = stGreen;
  TState Memory = stGreen;
  TState Disk = stGreen;
  TState Network = stGreen;
  TState Overall = stGreen;
};
TStates ComputeStates(const TFigures& figures, const TSettings& settings);

struct TIndicatorTexts {
  QString Processor;
  QString Memory;
  QString Disk;
  QString Network;
};
TIndicatorTexts IndicatorTexts(const TFigures& figures, const QLocale& locale = QLocale());

// The icon's tip: one line per resource separated by a carriage return alone, cut to the
// first 63 characters the icon can hold.
inline constexpr int TipLimit = 63;
QString TipText(const TIndicatorTexts& texts);

// The state icons' hints while the window is shown, and while it is hidden.
struct THints {
  QString Processor, Memory, Disk, Network;
};
THints StateHints(const TIndicatorTexts& texts);
THints HiddenHints();

// The four figures on one line, each after its hint word, for the text front end:
// "Processor: 55.81%  Memory: 3.65% (23783MB avail)  Disk: 2.24%  Network: 0.00%".
QString IndicatorLine(const TIndicatorTexts& texts);

// "Interval: N.N secs" for the seconds the smoothing window covers.
QString ElapsedCaption(double intervalSum);

struct TTrayCaptions {
  QString About, Processor, Memory, Disk, Network, Elapsed;
};
TTrayCaptions TrayCaptions(const TIndicatorTexts& texts, double intervalSum);

}  // namespace ombrix
