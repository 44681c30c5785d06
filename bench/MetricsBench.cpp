// What serving metrics costs on a busy machine of 2 000 processes, under 50 names or each
// under its own: the sample the tick copies out under the model lock, the series a scrape
// writes from it, and a whole scrape over HTTP on loopback.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <prometheus/text_serializer.h>

#include <memory>
#include <mutex>

#include "monitor/metrics/MetricsServer.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"

namespace {

using namespace ombrix;

// Processes with every figure a sample copies, and twice the top count of files and sockets.
void FillTables(TEntityTables& tables, int processes, int names) {
  for (int i = 0; i < processes; ++i) {
    // Ids far above any live process, so no image path is read from the system.
    const auto pid = 4000000u + static_cast<std::uint32_t>(i);
    TProcessInfo* p = tables.FindOrCreateProcess(pid, "process" + std::to_string(i % names));
    for (TAverage* a :
         {&p->ProcessorAvg, &p->WorkingSetAvg, &p->PrivateBytesAvg, &p->IoByteRateAvg})
      a->Add(1000 + i);
    p->IntervalIpBytes = i;
  }
  for (std::uint32_t i = 0; i < 20; ++i) {
    TFileInfo* f = tables.FindOrCreateFile(4000000u + i, i + 1);
    f->SetName("/var/lib/data/file" + std::to_string(i) + ".db");
    f->ByteRateAvg.Add(4096.0 * i);
    tables.FindOrCreateSocket(4000000u + i, 0x0A000001 + i, 443)->ByteRateAvg.Add(1500.0 * i);
  }
}

std::shared_ptr<const TMetricsSample> Sample(int processes, int names) {
  TEntityTables tables;
  FillTables(tables, processes, names);
  TSampleBuilder builder(10);
  builder.CountInterval(tables);
  return builder.Build({tables, {}, {}, 8, 1});
}

void BM_SampleAtTheEndOfTheTick(benchmark::State& state) {
  Settings = TSettings();
  std::lock_guard lock(ModelLock);
  TEntityTables tables;
  FillTables(tables, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  TSampleBuilder builder(10);
  for (auto _ : state) {
    builder.CountInterval(tables);
    benchmark::DoNotOptimize(builder.Build({tables, {}, {}, 8, 1}));
  }
}
BENCHMARK(BM_SampleAtTheEndOfTheTick)
    ->Args({2000, 50})
    ->Args({2000, 2000})
    ->Unit(benchmark::kMicrosecond);

void BM_ScrapeText(benchmark::State& state) {
  TMetricsExporter exporter;
  exporter.Publish(Sample(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  const prometheus::TextSerializer serializer;
  std::size_t bytes = 0;
  for (auto _ : state) bytes = serializer.Serialize(exporter.Collect()).size();
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ScrapeText)->Args({2000, 50})->Args({2000, 2000})->Unit(benchmark::kMicrosecond);

void BM_ScrapeSeries(benchmark::State& state) {
  TMetricsExporter exporter;
  exporter.Publish(Sample(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  for (auto _ : state) benchmark::DoNotOptimize(exporter.Collect());
}
BENCHMARK(BM_ScrapeSeries)->Args({2000, 2000})->Unit(benchmark::kMicrosecond);

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

// A new connection per scrape, as the scraper makes, compressed when range(2) is 1 (the
// scraper asks for gzip).
void BM_ScrapeOverHttp(benchmark::State& state) {
  auto exporter = std::make_shared<TMetricsExporter>();
  exporter->Publish(Sample(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  TMetricsServer server("127.0.0.1:0", exporter);
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/metrics";
  for (auto _ : state) {
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Discard);
    if (state.range(2) == 1) curl_easy_setopt(curl.get(), CURLOPT_ACCEPT_ENCODING, "gzip");
    const CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK) state.SkipWithError(curl_easy_strerror(result));
  }
}
BENCHMARK(BM_ScrapeOverHttp)
    ->Args({2000, 50, 0})
    ->Args({2000, 50, 1})
    ->Args({2000, 2000, 0})
    ->Args({2000, 2000, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
