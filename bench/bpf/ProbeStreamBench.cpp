// The user-space steps an event takes on its way to the monitor, without the kernel: decoding a
// raw event into a record (what an in-process reader does), writing records into the probe's
// frames, and reading them back out of a byte stream (what the monitor does).
#include <benchmark/benchmark.h>

#include <cstring>

#include "platform/kernelevents/ProbeStream.h"
#include "platform/kernelevents/bpf/BpfDecoder.h"

namespace {

using namespace platform;

constexpr int kBatch = 4096;  // about one drain at 50 000 events a second

std::vector<ombrix_net_event> RawEvents() {
  std::vector<ombrix_net_event> events(kBatch);
  for (int k = 0; k < kBatch; ++k) {
    events[k] = ombrix_net_event{};
    events[k].kind = OMBRIX_EV_NET;
    events[k].pid = 4000 + k % 7;
    events[k].size = 4096;
    events[k].daddr = events[k].saddr = 0x0100007F;
    events[k].dport = 0x5000;
    events[k].sport = static_cast<std::uint16_t>(k);
  }
  return events;
}

BpfDecoder Decoder() {
  return BpfDecoder({[](std::uint32_t) { return std::string(); }, [](std::uint32_t) { return 0u; },
                     [](std::uint32_t) { return std::string(); }},
                    EVENT_TRACE_FLAG_NETWORK_TCPIP);
}

void BM_DecodeToRecords(benchmark::State& state) {
  const auto events = RawEvents();
  BpfDecoder decoder = Decoder();
  for (auto _ : state) {
    std::vector<EventRecord> out;
    for (const auto& e : events) decoder.Decode(&e, sizeof e, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DecodeToRecords);

// What the probe does: decoding straight into frames, in a buffer kept from drain to drain.
void BM_DecodeIntoFrames(benchmark::State& state) {
  const auto events = RawEvents();
  BpfDecoder decoder = Decoder();
  std::vector<std::uint8_t> bytes;
  for (auto _ : state) {
    bytes.clear();
    probe::RecordsWriter writer(bytes, 0);
    for (const auto& e : events) decoder.Decode(&e, sizeof e, writer);
    writer.Finish();
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DecodeIntoFrames);

void BM_ReadFrames(benchmark::State& state) {
  const auto events = RawEvents();
  BpfDecoder decoder = Decoder();
  std::vector<EventRecord> records;
  for (const auto& e : events) decoder.Decode(&e, sizeof e, records);
  std::vector<std::uint8_t> bytes;
  probe::AppendRecordsFrames(records, bytes);
  for (auto _ : state) {
    probe::FrameReader reader;
    std::vector<EventRecord> out;
    for (std::size_t at = 0; at < bytes.size(); at += 65536) {
      reader.Feed(bytes.data() + at, std::min<std::size_t>(65536, bytes.size() - at));
      probe::Frame frame;
      std::string error;
      while (reader.Next(frame) == probe::FrameReader::Result::Frame)
        probe::ReadRecords(frame, out, error);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ReadFrames);

}  // namespace
