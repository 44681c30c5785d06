// The series a scrape shows for a sample: names in snake case with their units, a help text
// and a type for each.
#pragma once
#include <prometheus/metric_family.h>

#include <string>
#include <vector>

#include "monitor/metrics/MetricsSample.h"

namespace ombrix {

std::vector<prometheus::MetricFamily> SeriesOf(const TMetricsSample& sample);

// A label value as the exposition format takes it: valid UTF-8, each byte that is not part
// of a character replaced by U+FFFD. File names are bytes, and one invalid sequence would
// make the scraper refuse the whole scrape.
std::string LabelValue(const std::string& text);

}  // namespace ombrix
