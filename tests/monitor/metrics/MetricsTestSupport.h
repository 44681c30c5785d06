// Looking up one series in what an exporter collected, for the metrics tests.
#pragma once
#include <prometheus/metric_family.h>

#include <optional>
#include <string>
#include <vector>

namespace ombrix::testing {

using TLabelList = std::vector<prometheus::ClientMetric::Label>;

// The value of the series name{labels}, counter or gauge; none when there is no such series.
inline std::optional<double> SeriesValue(const std::vector<prometheus::MetricFamily>& families,
                                         const std::string& name, const TLabelList& labels = {}) {
  for (const auto& family : families) {
    if (family.name != name) continue;
    for (const auto& metric : family.metric) {
      if (metric.label != labels) continue;
      return family.type == prometheus::MetricType::Counter ? metric.counter.value
                                                            : metric.gauge.value;
    }
  }
  return std::nullopt;
}

}  // namespace ombrix::testing
