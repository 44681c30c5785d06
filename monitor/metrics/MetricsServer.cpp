#include "monitor/metrics/MetricsServer.h"

#include <prometheus/exposer.h>

#include <mutex>

#include "monitor/metrics/MetricsSeries.h"

namespace ombrix {

void TMetricsExporter::Publish(std::shared_ptr<const TMetricsSample> sample) {
  {
    std::lock_guard lock(mutex_);
    latest_.swap(sample);
  }
  // The sample replaced is freed here, outside the lock, unless a scrape still reads it.
}

std::vector<prometheus::MetricFamily> TMetricsExporter::Collect() const {
  std::shared_ptr<const TMetricsSample> sample;
  {
    std::lock_guard lock(mutex_);
    sample = latest_;
  }
  if (!sample) return {};
  return SeriesOf(*sample);
}

TMetricsServer::TMetricsServer(const std::string& address,
                               std::shared_ptr<TMetricsExporter> exporter)
    : exporter_(std::move(exporter)) {
  try {
    // A connection that sends nothing holds a thread until its request times out (30 s by
    // default): a few threads, and no longer than a scraper waits, keep a handful of idle
    // clients from holding up the scrapes.
    exposer_ = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
        "listening_ports", address, "num_threads", "4", "request_timeout_ms", "10000"});
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
