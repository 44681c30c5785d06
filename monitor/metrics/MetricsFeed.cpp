#include "monitor/metrics/MetricsFeed.h"

#include "monitor/settings/Settings.h"
#include "monitor/shell/CoreFigures.h"

namespace ombrix {

void TMetricsFeed::BeforeClose(TMonitorCore& core) {
  builder_.CountInterval(core.Tables);
}

void TMetricsFeed::Publish(TMonitorCore& core) {
  const TFigures figures = CoreFigures(core);
  const TMetricsSources sources{
      core.Tables, figures, ComputeStates(figures, Settings), core.ProcessorCount,
      core.PerformanceData() ? core.PerformanceData()->IntervalSeconds() : 0};
  exporter_.Publish(builder_.Build(sources));
}

}  // namespace ombrix
