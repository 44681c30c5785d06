// The HTTP side of the metrics: an endpoint at /metrics that answers every scrape from the
// last published sample.
#pragma once
#include <prometheus/collectable.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "monitor/metrics/MetricsSample.h"

namespace prometheus {
class Exposer;
}

namespace ombrix {

// The latest finished sample, swapped in whole. A scrape reads only this copy: never the
// model, never ModelLock, never /proc, so it neither waits for a tick nor holds one up. The
// mutex is held for a pointer's copy, never while series are made or samples freed.
class TMetricsExporter : public prometheus::Collectable {
 public:
  void Publish(std::shared_ptr<const TMetricsSample> sample);
  // The sample's series; none before the first sample.
  std::vector<prometheus::MetricFamily> Collect() const override;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const TMetricsSample> latest_;
};

class TServeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Serves an exporter over HTTP on its own threads until destroyed. Only /metrics answers;
// nothing else, no file, is served.
class TMetricsServer {
 public:
  // address is "IPV4:PORT"; port 0 takes a free port. Raises TServeError when the address
  // cannot be listened on (the port is taken, or the address is not this machine's).
  TMetricsServer(const std::string& address, std::shared_ptr<TMetricsExporter> exporter);
  ~TMetricsServer();
  TMetricsServer(const TMetricsServer&) = delete;
  TMetricsServer& operator=(const TMetricsServer&) = delete;

  // The port listened on.
  int Port() const { return port_; }

 private:
  std::shared_ptr<TMetricsExporter> exporter_;
  std::unique_ptr<prometheus::Exposer> exposer_;  // stops its threads before exporter_ goes
  int port_ = 0;
};

}  // namespace ombrix
