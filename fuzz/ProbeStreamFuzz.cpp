// Any bytes as the stream from ombrix-probe, cut into reads at the places the first bytes say:
// the reader never crashes or reads past what it holds, and what it accepts keeps the limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/kernelevents/ProbeStream.h"

namespace {

using namespace platform::probe;

void Check(const Frame& frame) {
  if (frame.Payload.size() > kMaxFrame) std::abort();
  std::string error;
  std::vector<platform::EventRecord> records;
  if (ReadRecords(frame, records, error))
    for (const auto& record : records)
      if (record.Data.size() > kMaxRecordData) std::abort();
  ReadHello(frame, error);
  ReadReady(frame, error);
  ReadFailure(frame, error);
  ReadDropped(frame, error);
  ReadTaskRequest(frame, error);
  std::uint32_t sequence = 0;
  bool last = false;
  platform::TaskTable table;
  if (ReadTasks(frame, sequence, last, table, error))
    for (const auto& p : table.Processes)
      if (p.FirstThread + p.ThreadCount > table.Threads.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = 1 + (data[0] | data[1] << 8) % 4096;
  FrameReader reader;
  for (std::size_t at = 2; at < size; at += chunk) {
    reader.Feed(data + at, std::min(chunk, size - at));
    Frame frame;
    FrameReader::Result result;
    while ((result = reader.Next(frame)) == FrameReader::Result::Frame) Check(frame);
    if (result == FrameReader::Result::Malformed) {
      if (reader.Error().empty()) std::abort();  // a malformed stream says why
      break;
    }
  }
  return 0;
}
