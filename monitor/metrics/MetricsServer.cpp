#include "monitor/metrics/MetricsServer.h"

#include <prometheus/exposer.h>

#include "monitor/metrics/MetricsSeries.h"

namespace ombrix {

void TMetricsExporter::Publish(std::shared_ptr<const TMetricsSample> sample) {
  latest_.store(std::move(sample));
}

std::vector<prometheus::MetricFamily> TMetricsExporter::Collect() const {
  const std::shared_ptr<const TMetricsSample> sample = latest_.load();
  if (!sample) return {};
  return SeriesOf(*sample);
}

TMetricsServer::TMetricsServer(const std::string& address,
                               std::shared_ptr<TMetricsExporter> exporter)
    : exporter_(std::move(exporter)) {
  try {
    // Two threads: a scrape never waits behind another scraper's slow connection.
    exposer_ = std::make_unique<prometheus::Exposer>(address, 2);
  } catch (const std::exception&) {
    // The library says no more than that it could not start.
    throw TServeError("cannot serve on " + address +
                      ": the port is taken or the address is not one of this machine's");
  }
  exposer_->RegisterCollectable(exporter_);
  const std::vector<int> ports = exposer_->GetListeningPorts();
  if (!ports.empty()) port_ = ports.front();
}

TMetricsServer::~TMetricsServer() = default;

}  // namespace ombrix
