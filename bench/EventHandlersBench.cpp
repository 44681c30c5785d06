// Handler throughput under the model lock with full tables: 10 000 files and 5 000 sockets.
#include <benchmark/benchmark.h>

#include <vector>

#include "monitor/kerneltrace/EventHandlers.h"
#include "monitor/model/Tables.h"
#include "monitor/network/IpHelper.h"
#include "tests/support/EventRecordBuilder.h"

namespace {

using namespace ombrix::testing;

struct Model {
  Model() : handlers(tables, ip) {
    ip.LocalAddresses = {Ip(192, 0, 2, 2)};
    for (std::uint32_t i = 0; i < 10000; ++i) tables.FindOrCreateFile(1000 + i % 200, i);
    for (std::uint32_t i = 0; i < 5000; ++i)
      tables.FindOrCreateSocket(1000 + i % 200, Ip(198, 51, 100, 1) + i, 443);
  }
  ombrix::TEntityTables tables;
  ombrix::TIpHelper ip;
  ombrix::TEventHandlers handlers;
};

void BM_DiskIoEvents(benchmark::State& state) {
  Model m;
  std::vector<platform::EventRecord> records;
  for (std::uint32_t i = 0; i < 1024; ++i)
    records.push_back(DiskIo(1000 + i * 7 % 200, i * 9 % 10000, 4096));
  std::vector<platform::EVENT_TRACE> events;
  for (const auto& r : records) events.push_back(r.View());
  std::size_t i = 0;
  for (auto _ : state) m.handlers.DiskIoEvent(&events[i++ & 1023]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiskIoEvents);

void BM_NetworkEvents(benchmark::State& state) {
  Model m;
  std::vector<platform::EventRecord> records;
  for (std::uint32_t i = 0; i < 1024; ++i) {
    const std::uint32_t k = i * 13 % 5000;
    records.push_back(Tcp(platform::EVENT_TYPE_NET_SEND, 1000 + k % 200, 1460,
                          Ip(198, 51, 100, 1) + k, Ip(192, 0, 2, 2), 443, 40000));
  }
  std::vector<platform::EVENT_TRACE> events;
  for (const auto& r : records) events.push_back(r.View());
  std::size_t i = 0;
  for (auto _ : state) m.handlers.NetworkEvent(&events[i++ & 1023]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NetworkEvents);

void BM_FileNameEvents(benchmark::State& state) {
  Model m;
  std::vector<platform::EventRecord> records;
  for (std::uint32_t i = 0; i < 1024; ++i)
    records.push_back(FileName(i * 9 % 10000, "/home/user/projects/data/file" + std::to_string(i)));
  std::vector<platform::EVENT_TRACE> events;
  for (const auto& r : records) events.push_back(r.View());
  std::size_t i = 0;
  for (auto _ : state) m.handlers.FileIoEvent(&events[i++ & 1023]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FileNameEvents);

}  // namespace
