// ombrix-cli --serve: after each tick the figures go to a metrics endpoint instead of the
// terminal.
#pragma once
#include <cstdio>
#include <memory>

#include "monitor/cli/CliFrontEnd.h"
#include "monitor/metrics/MetricsFeed.h"
#include "monitor/metrics/MetricsServer.h"

namespace ombrix {

class TServeFrontEnd : public TCliFrontEnd {
 public:
  // Listens at once and says where on out; raises TServeError when options.Serve cannot be
  // listened on.
  TServeFrontEnd(const TCliOptions& options, std::FILE* out);

  void UpdateIndicatorTexts() override;
  void RefreshGrid() override;

 private:
  std::shared_ptr<TMetricsExporter> exporter_ = std::make_shared<TMetricsExporter>();
  TMetricsServer server_;
  TMetricsFeed feed_;
};

// The front end the options ask for: the printing one, or the serving one.
std::unique_ptr<TCliFrontEnd> MakeFrontEnd(const TCliOptions& options, std::FILE* out);

}  // namespace ombrix
