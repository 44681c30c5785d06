// The stream between the monitor and ombrix-probe: length-prefixed, versioned frames over a
// socket pair. The monitor sends one Hello; the probe answers Ready (or Failure and ends), then
// sends Records and Dropped frames for as long as the monitor keeps its end open. Either side
// treats what it reads as untrusted: every length is checked against the frame, every frame
// against kMaxFrame.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernelevents/EventRecord.h"

namespace platform::probe {

inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::uint32_t kHelloMagic = 0x58424D4F;  // "OMBX" in the first frame
inline constexpr std::size_t kHeaderSize = 8;             // u32 length, u16 type, u16 version
inline constexpr std::uint32_t kMaxFrame = 1u << 20;      // payload bytes
inline constexpr std::uint32_t kMaxRecordData = 64u << 10;

enum class TFrameType : std::uint16_t {
  Hello = 1,    // monitor -> probe: magic, enable flags
  Ready = 2,    // probe -> monitor: sources opened, first errno, what the caller may see
  Failure = 3,  // probe -> monitor: errno and a reason; the probe ends after it
  Records = 4,  // probe -> monitor: event records
  Dropped = 5,  // probe -> monitor: events lost so far (a running total)
};

// Which events the probe passes on to its caller.
enum class TScope : std::uint32_t {
  OwnProcesses = 0,  // processes whose real uid is the caller's
  Everything = 1,    // root, or a member of the group "ombrix"
};

struct THello {
  std::uint32_t EnableFlags = 0;
};
struct TReady {
  std::uint32_t FirstError = 0;  // errno of the first requested class that could not attach
  TScope Scope = TScope::OwnProcesses;
};
struct TFailure {
  std::uint32_t Error = 0;
  std::string Reason;
};

struct TFrame {
  TFrameType Type{};
  std::vector<std::uint8_t> Payload;
};

// Whole frames, ready to write.
std::vector<std::uint8_t> HelloFrame(const THello& hello);
std::vector<std::uint8_t> ReadyFrame(const TReady& ready);
std::vector<std::uint8_t> FailureFrame(const TFailure& failure);
std::vector<std::uint8_t> DroppedFrame(std::uint64_t dropped);
// Records frames, each within kMaxFrame, appended to out; records whose data exceed
// kMaxRecordData are left out (no source makes them).
void AppendRecordsFrames(const std::vector<TEventRecord>& records, std::vector<std::uint8_t>& out);

// Payload readers; nothing (with a reason) when the payload is not of that shape.
std::optional<THello> ReadHello(const TFrame& frame, std::string& error);
std::optional<TReady> ReadReady(const TFrame& frame, std::string& error);
std::optional<TFailure> ReadFailure(const TFrame& frame, std::string& error);
std::optional<std::uint64_t> ReadDropped(const TFrame& frame, std::string& error);
// Appends the frame's records to out; false (out unchanged) when any of them is malformed.
bool ReadRecords(const TFrame& frame, std::vector<TEventRecord>& out, std::string& error);

// Cuts a byte stream into frames. Feed it what was read, then take frames until Next says it
// needs more; once it reports a malformed stream it stays so.
class TFrameReader {
 public:
  enum class TResult { NeedMore, Frame, Malformed };
  void Feed(const std::uint8_t* bytes, std::size_t size);
  TResult Next(TFrame& frame);
  const std::string& Error() const { return error_; }
  std::size_t Buffered() const { return buffer_.size() - at_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace platform::probe
