#include "monitor/metrics/MetricsSeries.h"

#include <QString>
#include <algorithm>
#include <array>

namespace ombrix {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;
using TLabels = std::vector<ClientMetric::Label>;

template <typename Row>
struct TColumn {
  const char* Name;
  const char* Help;
  MetricType Type;
  double Row::*Value;
};

constexpr MetricType Gauge = MetricType::Gauge;
constexpr MetricType Counter = MetricType::Counter;

const std::array<TColumn<TProcessGroupFigures>, 6> GroupColumns{{
    {"ombrix_processes", "Processes running under this name.", Gauge,
     &TProcessGroupFigures::Processes},
    {"ombrix_process_working_set_bytes", "Working set of the processes of this name.", Gauge,
     &TProcessGroupFigures::WorkingSetBytes},
    {"ombrix_process_private_bytes", "Private bytes of the processes of this name.", Gauge,
     &TProcessGroupFigures::PrivateBytes},
    {"ombrix_process_cpu_seconds_total",
     "Processor time of the processes of this name, in seconds of one processor.", Counter,
     &TProcessGroupFigures::CpuSeconds},
    {"ombrix_process_io_bytes_total", "Bytes read and written by the processes of this name.",
     Counter, &TProcessGroupFigures::IoBytes},
    {"ombrix_process_ip_bytes_total",
     "Bytes sent and received over IP by the processes of this name.", Counter,
     &TProcessGroupFigures::IpBytes},
}};

const std::array<TColumn<TDiskFigures>, 6> DiskColumns{{
    {"ombrix_disk_free_ratio", "Free space of the disk, 1 for all of it.", Gauge,
     &TDiskFigures::FreeRatio},
    {"ombrix_disk_free_bytes", "Free space of the disk.", Gauge, &TDiskFigures::FreeBytes},
    {"ombrix_disk_busy_ratio", "Share of the time the disk was busy.", Gauge,
     &TDiskFigures::BusyRatio},
    {"ombrix_disk_queue_depth", "Requests waiting at the disk.", Gauge, &TDiskFigures::QueueDepth},
    {"ombrix_disk_transfers_total", "Reads and writes of the disk.", Counter,
     &TDiskFigures::Transfers},
    {"ombrix_disk_bytes_total", "Bytes read from and written to the disk.", Counter,
     &TDiskFigures::Bytes},
}};

const std::array<TColumn<TAdapterFigures>, 4> AdapterColumns{{
    {"ombrix_adapter_bandwidth_bytes_per_second",
     "Link speed of the adapter, or the assumed bandwidth where it reports none.", Gauge,
     &TAdapterFigures::BandwidthBytes},
    {"ombrix_adapter_bytes_total", "Bytes sent and received by the adapter.", Counter,
     &TAdapterFigures::Bytes},
    {"ombrix_adapter_packets_total", "Packets sent and received by the adapter.", Counter,
     &TAdapterFigures::Packets},
    {"ombrix_adapter_errors_total", "Send and receive errors of the adapter.", Counter,
     &TAdapterFigures::Errors},
}};

const std::array<TColumn<TFileFigures>, 2> FileColumns{{
    {"ombrix_file_bytes_per_second",
     "Disk bytes of the file over the last interval, for the busiest files.", Gauge,
     &TFileFigures::BytesPerSecond},
    {"ombrix_file_transfers_per_second",
     "Disk reads and writes of the file over the last interval, for the busiest files.", Gauge,
     &TFileFigures::TransfersPerSecond},
}};

const std::array<TColumn<TSocketFigures>, 2> SocketColumns{{
    {"ombrix_socket_bytes_per_second",
     "Bytes to and from the remote end over the last interval, for the busiest ones.", Gauge,
     &TSocketFigures::BytesPerSecond},
    {"ombrix_socket_packets_per_second",
     "Packets to and from the remote end over the last interval, for the busiest ones.", Gauge,
     &TSocketFigures::PacketsPerSecond},
}};

const std::array<const char*, IndicatorCount> IndicatorNames{"processor", "memory", "disk",
                                                             "network"};

ClientMetric Sample(MetricType type, TLabels labels, double value) {
  ClientMetric metric;
  metric.label = std::move(labels);
  if (type == Counter) {
    metric.counter.value = value;
  } else {
    metric.gauge.value = value;
  }
  return metric;
}

MetricFamily& AddFamily(std::vector<MetricFamily>& out, const char* name, const char* help,
                        MetricType type) {
  return out.emplace_back(MetricFamily{name, help, type, {}});
}

// One family per column, one series per row; each row's labels are made once.
template <typename Row, std::size_t N, typename LabelsOf>
void AddRows(std::vector<MetricFamily>& out, const std::array<TColumn<Row>, N>& columns,
             const std::vector<Row>& rows, LabelsOf labelsOf) {
  const std::size_t first = out.size();
  for (const TColumn<Row>& column : columns) {
    AddFamily(out, column.Name, column.Help, column.Type).metric.reserve(rows.size());
  }
  for (const Row& row : rows) {
    const TLabels labels = labelsOf(row);
    for (std::size_t c = 0; c < N; ++c)
      out[first + c].metric.push_back(Sample(columns[c].Type, labels, row.*columns[c].Value));
  }
}

void AddIndicators(std::vector<MetricFamily>& out, const TMetricsSample& s) {
  const std::size_t ratio = out.size();
  AddFamily(out, "ombrix_indicator_ratio",
            "The tray's figure for processor, memory, disk or network use, 1 for 100%.", Gauge);
  AddFamily(
      out, "ombrix_indicator_state",
      "The tray's colour for the figure against the levels in Settings: 0 green, 1 yellow, 2 red.",
      Gauge);
  for (std::size_t i = 0; i < IndicatorCount; ++i) {
    const TLabels labels{{"indicator", IndicatorNames[i]}};
    out[ratio].metric.push_back(Sample(Gauge, labels, s.Indicators[i].Ratio));
    out[ratio + 1].metric.push_back(Sample(Gauge, labels, s.Indicators[i].State));
  }
  AddFamily(out, "ombrix_samples_total", "Samples the monitor has taken.", Counter)
      .metric.push_back(Sample(Counter, {}, s.Samples));
}

}  // namespace

std::string LabelValue(const std::string& text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) return text;
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

std::vector<MetricFamily> SeriesOf(const TMetricsSample& s) {
  std::vector<MetricFamily> out;
  AddIndicators(out, s);
  AddRows(out, GroupColumns, s.Groups, [](const TProcessGroupFigures& g) {
    return TLabels{{"process", LabelValue(g.Name)}};
  });
  AddRows(out, DiskColumns, s.Disks, [](const TDiskFigures& d) {
    return TLabels{{"disk", LabelValue(d.Name)}};
  });
  AddRows(out, AdapterColumns, s.Adapters, [](const TAdapterFigures& a) {
    return TLabels{{"adapter", LabelValue(a.Name)}};
  });
  AddRows(out, FileColumns, s.Files, [](const TFileFigures& f) {
    return TLabels{{"file", LabelValue(f.Path)}, {"process", LabelValue(f.Process)}};
  });
  AddRows(out, SocketColumns, s.Sockets, [](const TSocketFigures& k) {
    return TLabels{{"remote", LabelValue(k.Remote)},
                   {"service", LabelValue(k.Service)},
                   {"process", LabelValue(k.Process)}};
  });
  return out;
}

}  // namespace ombrix
