// The stream between the monitor and ombrix-probe: length-prefixed, versioned frames over a
// pair of pipes. The monitor sends one Hello; the probe answers Ready (or Failure and ends), then
// sends Records and Dropped frames for as long as the monitor keeps its end open. Either side
// treats what it reads as untrusted: every length is checked against the frame, every frame
// against kMaxFrame.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernelevents/EventRecord.h"
#include "platform/perfdata/TaskTable.h"

namespace platform::probe {

inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::uint32_t kHelloMagic = 0x58424D4F;  // "OMBX" in the first frame
inline constexpr std::size_t kHeaderSize = 8;             // u32 length, u16 type, u16 version
inline constexpr std::uint32_t kMaxFrame = 1u << 20;      // payload bytes
inline constexpr std::uint32_t kMaxRecordData = 64u << 10;

enum class FrameType : std::uint16_t {
  Hello = 1,        // monitor -> probe: magic, enable flags
  Ready = 2,        // probe -> monitor: sources opened, first errno, what the caller may see
  Failure = 3,      // probe -> monitor: errno and a reason; the probe ends after it
  Records = 4,      // probe -> monitor: event records
  Dropped = 5,      // probe -> monitor: events lost so far (a running total)
  TaskRequest = 6,  // monitor -> probe: the task table, please (a sequence number)
  Tasks = 7,        // probe -> monitor: part of the task table; the last part says so
};
inline constexpr FrameType kLastFrameType = FrameType::Tasks;

// Which events the probe passes on to its caller.
enum class ViewScope : std::uint32_t {
  OwnProcesses = 0,  // processes whose real uid is the caller's
  Everything = 1,    // root, or a member of the group "ombrix"
};

struct Hello {
  std::uint32_t EnableFlags = 0;
};
struct Ready {
  std::uint32_t FirstError = 0;  // errno of the first requested class that could not attach
  ViewScope Scope = ViewScope::OwnProcesses;
};
struct Failure {
  std::uint32_t Error = 0;
  std::string Reason;
};

// A frame as the reader found it: the payload stays in the reader's buffer, valid until the
// next Feed.
struct Frame {
  FrameType Type{};
  std::span<const std::uint8_t> Payload;
};

// Whole frames, ready to write.
std::vector<std::uint8_t> HelloFrame(const Hello& hello);
std::vector<std::uint8_t> ReadyFrame(const Ready& ready);
std::vector<std::uint8_t> FailureFrame(const Failure& failure);
std::vector<std::uint8_t> DroppedFrame(std::uint64_t dropped);
// Records frames, each within kMaxFrame, appended to out; records whose data exceed
// kMaxRecordData, or of a class no kernel event source has, are left out (no source makes them).
// A record read back has the header the sources build: its size, class, type, process and
// thread ids and time stamp, every other field 0.
void AppendRecordsFrames(const std::vector<EventRecord>& records, std::vector<std::uint8_t>& out);

// Writes what a decoder makes straight into Records frames appended to out: disk and socket
// records go in without a record being built for each. Finish closes the last frame.
class RecordsWriter final : public RecordSink {
 public:
  // stamp is the time stamp of the records written through the disk and socket calls.
  RecordsWriter(std::vector<std::uint8_t>& out, std::int64_t stamp) : out_(out), stamp_(stamp) {}
  void Add(EventRecord&& record) override { Append(record); }
  void Append(const EventRecord& record);
  void AddDiskIo(std::uint8_t type, std::uint32_t processId, std::uint32_t diskNumber,
                 std::uint32_t bytes, std::uint32_t response, std::uint64_t byteOffset,
                 std::uint32_t fileObject) override;
  void AddNetwork(const GUID& guid, std::uint8_t type, std::uint32_t pid, std::uint32_t size,
                  std::uint32_t daddr, std::uint32_t saddr, std::uint16_t dport,
                  std::uint16_t sport) override;
  void Finish();

 private:
  // Room for one record's data, after its prefix, at the end of an open frame that has it.
  std::uint8_t* Room(std::size_t classIndex, std::uint8_t type, std::uint32_t pid,
                     std::uint32_t thread, std::int64_t stamp, std::size_t dataSize);

  std::vector<std::uint8_t>& out_;
  std::int64_t stamp_;
  std::size_t frameStart_ = 0;
  bool open_ = false;
};

std::vector<std::uint8_t> TaskRequestFrame(std::uint32_t sequence);
// The table in Tasks frames, each within kMaxFrame, appended to out; the last one says so. A
// process with more threads than a frame holds keeps the ones that fit.
void AppendTasksFrames(std::uint32_t sequence, const TaskTable& table,
                       std::vector<std::uint8_t>& out);

// Payload readers; nothing (with a reason) when the payload is not of that shape.
std::optional<Hello> ReadHello(const Frame& frame, std::string& error);
std::optional<Ready> ReadReady(const Frame& frame, std::string& error);
std::optional<Failure> ReadFailure(const Frame& frame, std::string& error);
std::optional<std::uint64_t> ReadDropped(const Frame& frame, std::string& error);
std::optional<std::uint32_t> ReadTaskRequest(const Frame& frame, std::string& error);
// Appends the frame's processes and threads to table; false when any is malformed (the table
// may then hold part of the frame). last tells whether the table is complete with this frame.
bool ReadTasks(const Frame& frame, std::uint32_t& sequence, bool& last, TaskTable& table,
               std::string& error);
// Appends the frame's records to out; false (out unchanged) when any of them is malformed.
bool ReadRecords(const Frame& frame, std::vector<EventRecord>& out, std::string& error);

// Cuts a byte stream into frames. Feed it what was read, then take frames until Next says it
// needs more; once it reports a malformed stream it stays so.
class FrameReader {
 public:
  enum class Result { NeedMore, Frame, Malformed };
  // Frames taken before are gone from the buffer after this.
  void Feed(const std::uint8_t* bytes, std::size_t size);
  // The same without a copy: room for up to size bytes to read into, then how many were read.
  std::uint8_t* Room(std::size_t size);
  void Commit(std::size_t size);
  Result Next(Frame& frame);
  const std::string& Error() const { return error_; }
  std::size_t Buffered() const { return end_ - at_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t at_ = 0;   // taken up to here
  std::size_t end_ = 0;  // read up to here
  std::string error_;
};

}  // namespace platform::probe
