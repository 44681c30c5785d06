#include "monitor/shell/indicators/Indicators.h"

#include <algorithm>
#include <cmath>

#include "monitor/model/Average.h"
#include "monitor/model/Info.h"
#include "monitor/shell/views/ViewFormat.h"
#include "platform/checked/Checked.h"

namespace ombrix {

namespace {

// Nearest whole number, halves to the even neighbour; a value too large for the result
// raises rather than wraps.
std::int64_t RoundEven(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -9.2e18 && rounded <= 9.2e18)) platform::RaiseRange();
  return static_cast<std::int64_t>(rounded);
}

}  // namespace

TState LevelState(double figure, const TThresholdLevels& levels) {
  if (levels.Yellow < levels.Red) {
    if (figure > levels.Red) return stRed;
    if (figure > levels.Yellow) return stYellow;
    return stGreen;
  }
  if (figure < levels.Red) return stRed;
  if (figure < levels.Yellow) return stYellow;
  return stGreen;
}

double NetworkBusy(const std::vector<std::unique_ptr<TAdapterInfo>>& adapters,
                   double intervalSeconds) {
  // An interval of zero length counts as one second, as every rate of the monitor does.
  const double seconds = intervalSeconds > 0 ? intervalSeconds : 1.0;
  double bandwidth = 0;
  double rate = 0;
  for (const auto& a : adapters) {
    if (!a->Active || a->IntervalBytes <= 0) continue;
    bandwidth += static_cast<double>(a->Bandwidth);
    rate += static_cast<double>(a->IntervalBytes) / seconds;
  }
  if (!(bandwidth > 0)) return 0;
  return rate * 8 / bandwidth * 100;
}

TFigures ComputeFigures(const TIndicatorSources& s) {
  TFigures f;
  f.CpuInuse = s.CpuUsageAverage.Mean();
  f.CpuQueuePerProcessor = s.CpuQueueAverage.Mean() / std::max<std::int32_t>(1, s.ProcessorCount);
  f.MemoryInuse = s.Memory.InusePercent();
  f.MemoryAvailableMB = s.Memory.AvailableAvg.Minimum() / 1048576.0;
  f.MemoryAvailableMean = s.Memory.AvailableAvg.Mean();
  f.DiskBusy = s.DiskBusyAverage.Mean();
  const auto disks = std::max<std::size_t>(1, s.Disks.size());
  f.DiskQueuePerDisk = s.DiskQueueAverage.Mean() / static_cast<double>(disks);
  f.NetworkBusy = NetworkBusy(s.Adapters, s.IntervalSeconds);
  return f;
}

TStates ComputeStates(const TFigures& f, const TSettings& settings) {
  TStates s;
  s.Processor = Worse(LevelState(f.CpuQueuePerProcessor, settings.CpuQueueDepth),
                      LevelState(f.CpuInuse, settings.CpuInuse));
  s.Memory = Worse(LevelState(f.MemoryAvailableMB, settings.MemoryMBytes),
                   LevelState(f.MemoryInuse, settings.MemoryInuse));
  s.Disk = Worse(LevelState(f.DiskQueuePerDisk, settings.DiskQueueDepth),
                 LevelState(f.DiskBusy, settings.DiskBusy));
  s.Network = LevelState(f.NetworkBusy, settings.NetworkBusy);
  s.Overall = Worse(Worse(s.Processor, s.Memory), Worse(s.Disk, s.Network));
  return s;
}

TIndicatorTexts IndicatorTexts(const TFigures& f, const QLocale& locale) {
  // Megabytes of 1,024,000 bytes here, as the memory text has always shown them.
  const std::int64_t availableMB = RoundEven(f.MemoryAvailableMean) / 1024000;
  return {FormatPercent(f.CpuInuse, locale),
          FormatPercent(f.MemoryInuse, locale) + QStringLiteral(" (") +
              QString::number(availableMB) + QStringLiteral("MB avail)"),
          FormatPercent(f.DiskBusy, locale), FormatPercent(f.NetworkBusy, locale)};
}

QString TipText(const TIndicatorTexts& t) {
  const QString tip = QStringLiteral("CPU: ") + t.Processor + QLatin1Char('\r') +
                      QStringLiteral("Mem: ") + t.Memory + QLatin1Char('\r') +
                      QStringLiteral("Disk: ") + t.Disk + QLatin1Char('\r') +
                      QStringLiteral("Net: ") + t.Network;
  if (tip.size() <= TipLimit) return tip;
  // Never leave half of a surrogate pair at the end.
  const bool split = tip.at(TipLimit - 1).isHighSurrogate();
  return tip.left(split ? TipLimit - 1 : TipLimit);
}

THints StateHints(const TIndicatorTexts& t) {
  return {QStringLiteral("Processor: ") + t.Processor, QStringLiteral("Memory: ") + t.Memory,
          QStringLiteral("Disk: ") + t.Disk, QStringLiteral("Network: ") + t.Network};
}

QString IndicatorLine(const TIndicatorTexts& texts) {
  const THints h = StateHints(texts);
  return h.Processor + QStringLiteral("  ") + h.Memory + QStringLiteral("  ") + h.Disk +
         QStringLiteral("  ") + h.Network;
}

THints HiddenHints() {
  return {QStringLiteral("Processor"), QStringLiteral("Memory"), QStringLiteral("Disk"),
          QStringLiteral("Network")};
}

QString ElapsedCaption(double intervalSum) {
  const std::int64_t n = RoundEven(intervalSum * 10);
  return QStringLiteral("Interval: ") + QString::number(n / 10) + QLatin1Char('.') +
         QString::number(n % 10) + QStringLiteral(" secs");
}

TTrayCaptions TrayCaptions(const TIndicatorTexts& t, double intervalSum) {
  return {QStringLiteral("About Ombrix..."),       QStringLiteral("Processor: ") + t.Processor,
          QStringLiteral("Memory: ") + t.Memory,   QStringLiteral("Disk: ") + t.Disk,
          QStringLiteral("Network: ") + t.Network, ElapsedCaption(intervalSum)};
}

}  // namespace ombrix
