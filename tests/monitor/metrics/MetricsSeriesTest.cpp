// The series of a sample as a scraper reads them: names, types and help texts that the
// exposition format's conventions accept, and label values that survive any file name.
#include <gtest/gtest.h>

#include <prometheus/check_names.h>
#include <prometheus/text_serializer.h>
#include <QString>

#include "monitor/metrics/MetricsSeries.h"
#include "tests/monitor/metrics/MetricsTestSupport.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;
using prometheus::MetricType;

TMetricsSample FullSample() {
  TMetricsSample s;
  s.Samples = 4;
  s.Indicators[inMemory] = {0.25, 1};
  s.Groups = {{"app", 2, 1e6, 5e5, 12.5, 4096, 100}};
  s.Disks = {{"/", 0.4, 4e10, 0.1, 0.5, 60, 8192}};
  s.Adapters = {{"eth0", 125000, 9000, 42, 3}};
  s.Files = {{"/var/log/syslog", "rsyslogd", 2048, 0.5}};
  s.Sockets = {{"example.org", "https - 443", "curl", 1500, 2}};
  return s;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(MetricsSeries, EveryFamilyFollowsTheNamingConventions) {
  const auto families = SeriesOf(FullSample());
  ASSERT_EQ(families.size(), 23u);
  for (const auto& f : families) {
    SCOPED_TRACE(f.name);
    EXPECT_TRUE(prometheus::CheckMetricName(f.name));
    EXPECT_EQ(f.name.rfind("ombrix_", 0), 0u);
    EXPECT_FALSE(f.help.empty());
    EXPECT_EQ(EndsWith(f.name, "_total"), f.type == MetricType::Counter);
    EXPECT_TRUE(f.type == MetricType::Counter || f.type == MetricType::Gauge);
    EXPECT_FALSE(f.metric.empty());
    for (const auto& m : f.metric)
      for (const auto& label : m.label) EXPECT_TRUE(prometheus::CheckLabelName(label.name));
  }
}

TEST(MetricsSeries, EachFigureLandsInItsSeries) {
  const auto f = SeriesOf(FullSample());
  EXPECT_EQ(SeriesValue(f, "ombrix_samples_total"), 4);
  EXPECT_EQ(SeriesValue(f, "ombrix_indicator_ratio", {{"indicator", "memory"}}), 0.25);
  EXPECT_EQ(SeriesValue(f, "ombrix_indicator_state", {{"indicator", "memory"}}), 1);
  EXPECT_EQ(SeriesValue(f, "ombrix_indicator_state", {{"indicator", "network"}}), 0);
  EXPECT_EQ(SeriesValue(f, "ombrix_processes", {{"process", "app"}}), 2);
  EXPECT_EQ(SeriesValue(f, "ombrix_process_private_bytes", {{"process", "app"}}), 5e5);
  EXPECT_EQ(SeriesValue(f, "ombrix_process_cpu_seconds_total", {{"process", "app"}}), 12.5);
  EXPECT_EQ(SeriesValue(f, "ombrix_process_ip_bytes_total", {{"process", "app"}}), 100);
  EXPECT_EQ(SeriesValue(f, "ombrix_disk_queue_depth", {{"disk", "/"}}), 0.5);
  EXPECT_EQ(SeriesValue(f, "ombrix_adapter_errors_total", {{"adapter", "eth0"}}), 3);
  EXPECT_EQ(SeriesValue(f, "ombrix_file_transfers_per_second",
                        {{"file", "/var/log/syslog"}, {"process", "rsyslogd"}}),
            0.5);
  EXPECT_EQ(
      SeriesValue(f, "ombrix_socket_bytes_per_second",
                  {{"remote", "example.org"}, {"service", "https - 443"}, {"process", "curl"}}),
      1500);
}

TEST(MetricsSeries, LabelValuesAreValidTextWhateverTheFileName) {
  EXPECT_EQ(LabelValue("plain.txt"), "plain.txt");
  EXPECT_EQ(LabelValue("M\xC3\xBCller.txt"), "M\xC3\xBCller.txt");  // valid UTF-8 stays
  EXPECT_EQ(LabelValue("bad\xFF.bin"), "bad\xEF\xBF\xBD.bin");      // U+FFFD in its place
  EXPECT_EQ(LabelValue("cut\xC3"), "cut\xEF\xBF\xBD");              // a character cut short

  TMetricsSample s;
  s.Files = {{"/tmp/a\"b\\c\nd\xFE", "sh", 1, 1}};
  const std::string text = prometheus::TextSerializer().Serialize(SeriesOf(s));
  EXPECT_NE(text.find(R"(file="/tmp/a\"b\\c\nd)"
                      "\xEF\xBF\xBD\""),
            std::string::npos)
      << text;
  EXPECT_EQ(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdString(),
            text);
}

}  // namespace
}  // namespace ombrix
