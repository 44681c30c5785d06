// The indicator figures of the core's current state, for the window and the text front end.
// Call with ModelLock held.
#pragma once
#include "monitor/perfdata/Statistics.h"
#include "monitor/shell/MonitorCore.h"
#include "monitor/shell/indicators/Indicators.h"

namespace ombrix {

inline TFigures CoreFigures(TMonitorCore& core) {
  const TIndicatorSources sources{
      core.CpuUsageAverage,
      core.CpuQueueAverage,
      core.DiskBusyAverage,
      core.DiskQueueAverage,
      core.Memory,
      core.ProcessorCount,
      core.Tables.Disks,
      core.Tables.Adapters,
      core.PerformanceData() ? core.PerformanceData()->IntervalSeconds() : 0};
  return ComputeFigures(sources);
}

}  // namespace ombrix
