// Feeds a metrics exporter from the monitor's tick: a front end calls these from the tick,
// with ModelLock held.
#pragma once
#include <cstddef>

#include "monitor/metrics/MetricsSample.h"
#include "monitor/metrics/MetricsServer.h"

namespace ombrix {

class TMonitorCore;

class TMetricsFeed {
 public:
  // top: how many files and sockets each sample keeps.
  TMetricsFeed(TMetricsExporter& exporter, std::size_t top) : exporter_(exporter), builder_(top) {}

  // Before the tick closes its intervals (the front end's UpdateIndicatorTexts).
  void BeforeClose(TMonitorCore& core);
  // At the end of the tick (RefreshGrid): the finished sample replaces the served one.
  void Publish(TMonitorCore& core);

 private:
  TMetricsExporter& exporter_;
  TSampleBuilder builder_;
};

}  // namespace ombrix
