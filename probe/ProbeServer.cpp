#include "probe/ProbeServer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>

namespace ombrix::probe {
namespace {

namespace stream = platform::probe;
using Clock = std::chrono::steady_clock;

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads what is there into the reader; false at the end of the stream or on an error.
bool ReadSome(int fd, stream::FrameReader& reader) {
  std::uint8_t buffer[4096];
  ssize_t n = 0;
  do {
    n = read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  reader.Feed(buffer, static_cast<std::size_t>(n));
  return true;
}

std::optional<stream::Hello> ReadHello(int fd) {
  stream::FrameReader reader;
  stream::Frame frame;
  for (;;) {
    const auto result = reader.Next(frame);
    if (result == stream::FrameReader::Result::Malformed) return std::nullopt;
    if (result == stream::FrameReader::Result::Frame) break;
    if (!ReadSome(fd, reader)) return std::nullopt;
  }
  std::string error;
  auto hello = stream::ReadHello(frame, error);
  if (hello && reader.Buffered() != 0) return std::nullopt;  // nothing may follow the hello
  return hello;
}

stream::Failure FailureOf(const platform::SourceOpenResult& opened) {
  const std::uint32_t error = opened.FirstError != 0 ? opened.FirstError : ENOSYS;
  return {error, std::strerror(static_cast<int>(error))};
}

std::int64_t Stamp() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One drain, written straight into frames in a buffer kept from drain to drain, and the drop
// count when it grew. False when the caller is gone.
bool SendDrained(ServedSource& source, int out, std::vector<std::uint8_t>& bytes,
                 std::uint64_t& sentDropped) {
  bytes.clear();
  stream::RecordsWriter writer(bytes, Stamp());
  source.Drain(writer);
  writer.Finish();
  const std::uint64_t dropped = source.Dropped();
  if (dropped != sentDropped) {
    const auto frame = stream::DroppedFrame(dropped);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    sentDropped = dropped;
  }
  return bytes.empty() || WriteAll(out, bytes);
}

// Answers what the caller sent: task table requests, each with the table (an empty one when it
// cannot be read). Nothing when all was answered; else how the probe ends (the caller closed
// its end, or sent something else).
std::optional<int> AnswerCaller(ServedSource& source, int in, int out,
                                stream::FrameReader& reader) {
  if (!ReadSome(in, reader)) return kExitDone;
  stream::Frame frame;
  for (;;) {
    const auto result = reader.Next(frame);
    if (result == stream::FrameReader::Result::NeedMore) return std::nullopt;
    std::string error;
    const auto sequence = result == stream::FrameReader::Result::Frame
                              ? stream::ReadTaskRequest(frame, error)
                              : std::nullopt;
    if (!sequence) return kExitBadRequest;
    platform::TaskTable table;
    if (!source.ReadTasks(table)) table.Clear();
    std::vector<std::uint8_t> bytes;
    stream::AppendTasksFrames(*sequence, table, bytes);
    if (!WriteAll(out, bytes)) return kExitDone;
  }
}

}  // namespace

int Serve(ServedSource& source, const ServeOptions& options) {
  const auto hello = ReadHello(options.In);
  if (!hello) return kExitBadRequest;
  const platform::SourceOpenResult opened = source.Narrow(hello->EnableFlags);
  if (!opened.Opened) {
    WriteAll(options.Out, stream::FailureFrame(FailureOf(opened)));
    return kExitNotServed;
  }
  if (!WriteAll(options.Out, stream::ReadyFrame({opened.FirstError, options.Scope})))
    return kExitDone;
  const auto period = std::chrono::milliseconds(options.DrainPeriodMs);
  auto nextDrain = Clock::now() + period;
  std::uint64_t sentDropped = 0;
  std::vector<std::uint8_t> bytes;
  stream::FrameReader requests;
  for (;;) {
    // Rounded up: a wait cut to 0 ms would spin for the rest of the millisecond.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextDrain - Clock::now());
    pollfd fd{options.In, POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(std::max<std::int64_t>(0, wait.count())));
    if (ready > 0) {
      if (const auto end = AnswerCaller(source, options.In, options.Out, requests)) return *end;
      continue;
    }
    if (ready < 0 && errno != EINTR) return kExitDone;
    if (Clock::now() < nextDrain) continue;
    if (!SendDrained(source, options.Out, bytes, sentDropped)) return kExitDone;
    nextDrain = Clock::now() + period;
  }
}

}  // namespace ombrix::probe
