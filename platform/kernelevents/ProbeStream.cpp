#include "platform/kernelevents/ProbeStream.h"

#include <cstring>

namespace platform::probe {
namespace {

// A record on the wire: its data's length (u32), class (u8, an index into kClasses), type (u8),
// two zero bytes, process id (u32), thread id (u32), time stamp (i64), then the data in its
// class's published layout. The rest of the published header is the same for every record the
// sources make (its size, zeros), so it is rebuilt rather than sent: half the bytes a record.
constexpr std::size_t kRecordPrefix = 24;
constexpr GUID kClasses[] = {DiskIoGuid, FileIoGuid, ProcessGuid,  TcpIpGuid,
                             UdpIpGuid,  ThreadGuid, RegistryGuid, EventTraceConfigGuid};
constexpr std::size_t kClassCount = sizeof kClasses / sizeof kClasses[0];
constexpr std::size_t kDiskIoClass = 0, kTcpIpClass = 3, kUdpIpClass = 4;
static_assert(kClasses[kDiskIoClass] == DiskIoGuid && kClasses[kTcpIpClass] == TcpIpGuid &&
              kClasses[kUdpIpClass] == UdpIpGuid);

std::size_t ClassOf(const GUID& guid) {
  std::size_t k = 0;
  while (k < kClassCount && !(kClasses[k] == guid)) ++k;
  return k;
}

void Store16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

void Store32(std::uint8_t* p, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

void Store64(std::uint8_t* p, std::uint64_t value) {
  for (int k = 0; k < 8; ++k) p[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.resize(out.size() + 4);
  Store32(out.data() + out.size() - 4, value);
}

// Starts a frame in out; FinishFrame fills in its length once the payload is appended.
std::size_t BeginFrame(std::vector<std::uint8_t>& out, FrameType type) {
  const std::size_t start = out.size();
  out.resize(start + kHeaderSize);
  Store16(out.data() + start + 4, static_cast<std::uint16_t>(type));
  Store16(out.data() + start + 6, kVersion);
  return start;
}

void FinishFrame(std::vector<std::uint8_t>& out, std::size_t start) {
  Store32(out.data() + start, static_cast<std::uint32_t>(out.size() - start - kHeaderSize));
}

std::uint32_t Load32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Load16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Reads fields off a payload, never past its end.
class Cursor {
 public:
  explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool U32(std::uint32_t& value) {
    if (Left() < 4) return false;
    value = Load32(bytes_.data() + at_);
    at_ += 4;
    return true;
  }
  bool U64(std::uint64_t& value) {
    std::uint32_t low = 0, high = 0;
    if (Left() < 8 || !U32(low) || !U32(high)) return false;
    value = static_cast<std::uint64_t>(high) << 32 | low;
    return true;
  }
  std::size_t Left() const { return bytes_.size() - at_; }
  const std::uint8_t* Here() const { return bytes_.data() + at_; }
  void Skip(std::size_t n) { at_ += n; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

bool IsType(const Frame& frame, FrameType type, std::string& error) {
  if (frame.Type == type) return true;
  error = "unexpected frame type " + std::to_string(static_cast<unsigned>(frame.Type));
  return false;
}

// A frame of the type that carries one number and nothing else.
template <typename Number>
std::optional<Number> ReadNumber(const Frame& frame, FrameType type, const char* malformed,
                                 std::string& error) {
  if (!IsType(frame, type, error)) return std::nullopt;
  Cursor in(frame.Payload);
  Number value = 0;
  bool read = false;
  if constexpr (sizeof(Number) == 8) {
    read = in.U64(value);
  } else {
    read = in.U32(value);
  }
  if (!read || in.Left() != 0) {
    error = malformed;
    return std::nullopt;
  }
  return value;
}

std::uint64_t Load64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Load32(p + 4)) << 32 | Load32(p);
}

bool ReadOneRecord(Cursor& in, std::vector<EventRecord>& out, std::string& error) {
  if (in.Left() < kRecordPrefix) {
    error = "record cut short";
    return false;
  }
  const std::uint8_t* prefix = in.Here();
  const std::uint32_t length = Load32(prefix);
  if (length > kMaxRecordData || length > in.Left() - kRecordPrefix) {
    error = "record of " + std::to_string(length) + " bytes outside its frame";
    return false;
  }
  if (prefix[4] >= kClassCount || prefix[6] != 0 || prefix[7] != 0) {
    error = "record of an unknown class";
    return false;
  }
  EventRecord& record = out.emplace_back();
  record.Header.Size = sizeof record.Header;
  record.Header.Guid = kClasses[prefix[4]];
  record.Header.Class.Type = prefix[5];
  record.Header.ProcessId = Load32(prefix + 8);
  record.Header.ThreadId = Load32(prefix + 12);
  record.Header.TimeStamp = static_cast<std::int64_t>(Load64(prefix + 16));
  record.Data.assign(prefix + kRecordPrefix, prefix + kRecordPrefix + length);
  in.Skip(kRecordPrefix + length);
  return true;
}

// A frame of its own whose payload is the words, in their order.
std::vector<std::uint8_t> WordsFrame(FrameType type, std::initializer_list<std::uint32_t> words) {
  std::vector<std::uint8_t> out;
  const std::size_t start = BeginFrame(out, type);
  for (const std::uint32_t word : words) Append32(out, word);
  FinishFrame(out, start);
  return out;
}

}  // namespace

std::vector<std::uint8_t> HelloFrame(const Hello& hello) {
  return WordsFrame(FrameType::Hello, {kHelloMagic, hello.EnableFlags});
}

std::vector<std::uint8_t> ReadyFrame(const Ready& ready) {
  return WordsFrame(FrameType::Ready, {ready.FirstError, static_cast<std::uint32_t>(ready.Scope)});
}

std::vector<std::uint8_t> FailureFrame(const Failure& failure) {
  std::vector<std::uint8_t> out = WordsFrame(FrameType::Failure, {failure.Error});
  const std::string_view reason = std::string_view(failure.Reason).substr(0, 4096);
  out.insert(out.end(), reason.begin(), reason.end());
  FinishFrame(out, 0);
  return out;
}

std::vector<std::uint8_t> DroppedFrame(std::uint64_t dropped) {
  std::vector<std::uint8_t> out;
  const std::size_t start = BeginFrame(out, FrameType::Dropped);
  out.resize(out.size() + 8);
  Store64(out.data() + out.size() - 8, dropped);
  FinishFrame(out, start);
  return out;
}

void AppendRecordsFrames(const std::vector<EventRecord>& records, std::vector<std::uint8_t>& out) {
  RecordsWriter writer(out, 0);
  for (const EventRecord& record : records) writer.Append(record);
  writer.Finish();
}

std::uint8_t* RecordsWriter::Room(std::size_t classIndex, std::uint8_t type, std::uint32_t pid,
                                  std::uint32_t thread, std::int64_t stamp, std::size_t dataSize) {
  const std::size_t size = kRecordPrefix + dataSize;
  if (open_ && out_.size() - frameStart_ - kHeaderSize + size > kMaxFrame) Finish();
  if (!open_) {
    frameStart_ = BeginFrame(out_, FrameType::Records);
    open_ = true;
  }
  const std::size_t at = out_.size();
  if (out_.capacity() < at + size) out_.reserve(2 * (at + size));
  out_.resize(at + size);  // zeroed: the fields a record leaves alone are 0
  std::uint8_t* record = out_.data() + at;
  Store32(record, static_cast<std::uint32_t>(dataSize));
  record[4] = static_cast<std::uint8_t>(classIndex);
  record[5] = type;
  Store32(record + 8, pid);
  Store32(record + 12, thread);
  Store64(record + 16, static_cast<std::uint64_t>(stamp));
  return record + kRecordPrefix;
}

void RecordsWriter::Append(const EventRecord& record) {
  const std::size_t classIndex = ClassOf(record.Header.Guid);
  if (record.Data.size() > kMaxRecordData || classIndex == kClassCount) return;
  const EVENT_TRACE_HEADER& h = record.Header;
  std::uint8_t* data =
      Room(classIndex, h.Class.Type, h.ProcessId, h.ThreadId, h.TimeStamp, record.Data.size());
  if (!record.Data.empty()) std::memcpy(data, record.Data.data(), record.Data.size());
}

// The same layout as DiskIoRecord builds.
void RecordsWriter::AddDiskIo(std::uint8_t type, std::uint32_t processId, std::uint32_t diskNumber,
                              std::uint32_t bytes, std::uint32_t response, std::uint64_t byteOffset,
                              std::uint32_t fileObject) {
  std::uint8_t* data = Room(kDiskIoClass, type, processId, 0, stamp_, diskio::Length);
  Store32(data + diskio::DiskNumber, diskNumber);
  Store32(data + diskio::TransferSize, bytes);
  Store32(data + diskio::Response, response);
  Store64(data + diskio::ByteOffset, byteOffset);
  Store32(data + diskio::FileObject, fileObject);
}

// The same layout as NetworkRecord builds: addresses and ports in network order.
void RecordsWriter::AddNetwork(const GUID& guid, std::uint8_t type, std::uint32_t pid,
                               std::uint32_t size, std::uint32_t daddr, std::uint32_t saddr,
                               std::uint16_t dport, std::uint16_t sport) {
  const std::size_t classIndex = guid == TcpIpGuid ? kTcpIpClass : ClassOf(guid);
  std::uint8_t* data = Room(classIndex, type, pid, 0, stamp_, netio::Length);
  Store32(data + netio::Pid, pid);
  Store32(data + netio::Size, size);
  Store32(data + netio::DestAddr, __builtin_bswap32(daddr));
  Store32(data + netio::SourceAddr, __builtin_bswap32(saddr));
  Store16(data + netio::DestPort, __builtin_bswap16(dport));
  Store16(data + netio::SourcePort, __builtin_bswap16(sport));
}

void RecordsWriter::Finish() {
  if (!open_) return;
  FinishFrame(out_, frameStart_);
  open_ = false;
}

std::optional<Hello> ReadHello(const Frame& frame, std::string& error) {
  if (!IsType(frame, FrameType::Hello, error)) return std::nullopt;
  Cursor in(frame.Payload);
  std::uint32_t magic = 0;
  Hello hello;
  if (!in.U32(magic) || magic != kHelloMagic || !in.U32(hello.EnableFlags) || in.Left() != 0) {
    error = "not a hello";
    return std::nullopt;
  }
  return hello;
}

std::optional<Ready> ReadReady(const Frame& frame, std::string& error) {
  if (!IsType(frame, FrameType::Ready, error)) return std::nullopt;
  Cursor in(frame.Payload);
  Ready ready;
  std::uint32_t scope = 0;
  if (!in.U32(ready.FirstError) || !in.U32(scope) || in.Left() != 0 || scope > 1) {
    error = "malformed ready frame";
    return std::nullopt;
  }
  ready.Scope = static_cast<ViewScope>(scope);
  return ready;
}

std::optional<Failure> ReadFailure(const Frame& frame, std::string& error) {
  if (!IsType(frame, FrameType::Failure, error)) return std::nullopt;
  Cursor in(frame.Payload);
  Failure failure;
  if (!in.U32(failure.Error)) {
    error = "malformed failure frame";
    return std::nullopt;
  }
  failure.Reason.assign(reinterpret_cast<const char*>(in.Here()), in.Left());
  return failure;
}

std::optional<std::uint64_t> ReadDropped(const Frame& frame, std::string& error) {
  return ReadNumber<std::uint64_t>(frame, FrameType::Dropped, "malformed drop count", error);
}

bool ReadRecords(const Frame& frame, std::vector<EventRecord>& out, std::string& error) {
  if (!IsType(frame, FrameType::Records, error)) return false;
  Cursor in(frame.Payload);
  const std::size_t before = out.size();
  while (in.Left() != 0) {
    if (!ReadOneRecord(in, out, error)) {
      out.resize(before);
      return false;
    }
  }
  return true;
}

void FrameReader::Feed(const std::uint8_t* bytes, std::size_t size) {
  if (size != 0) std::memcpy(Room(size), bytes, size);
  Commit(size);
}

std::uint8_t* FrameReader::Room(std::size_t size) {
  // What was taken goes first, so the buffer holds at most one frame and one read. The buffer
  // itself only grows: it is not cleared for every read.
  if (at_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + at_, end_ - at_);
    end_ -= at_;
    at_ = 0;
  }
  if (buffer_.size() < end_ + size) buffer_.resize(end_ + size);
  return buffer_.data() + end_;
}

void FrameReader::Commit(std::size_t size) {
  end_ = std::min(end_ + size, buffer_.size());
  if (!error_.empty()) at_ = end_;  // a broken stream keeps nothing
}

FrameReader::Result FrameReader::Next(Frame& frame) {
  if (!error_.empty()) return Result::Malformed;
  if (Buffered() < kHeaderSize) return Result::NeedMore;
  const std::uint8_t* header = buffer_.data() + at_;
  const std::uint32_t length = Load32(header);  // Buffered() holds the whole header
  const std::uint16_t type = Load16(header + 4);
  const std::uint16_t version = Load16(header + 6);
  if (version != kVersion) {
    error_ = "stream version " + std::to_string(version) + ", expected " + std::to_string(kVersion);
    return Result::Malformed;
  }
  if (length > kMaxFrame || type < 1 || type > static_cast<std::uint16_t>(kLastFrameType)) {
    error_ = "frame of type " + std::to_string(type) + " and " + std::to_string(length) + " bytes";
    return Result::Malformed;
  }
  if (Buffered() - kHeaderSize < length) return Result::NeedMore;
  frame.Type = static_cast<FrameType>(type);
  frame.Payload = {header + kHeaderSize, length};
  at_ += kHeaderSize + length;
  return Result::Frame;
}

// --- the task table ---------------------------------------------------------------------------

namespace {

constexpr std::size_t kTasksPrefix = 12;   // sequence, last, process count
constexpr std::size_t kProcessFixed = 88;  // ids, flags, eight counters, name lengths, threads
constexpr std::size_t kThreadSize = 20;    // tid, run time, switches
constexpr std::size_t kMostNameBytes = 255;
constexpr std::uint32_t kKernelThread = 1, kZombie = 2, kIoKnown = 4;

void Append64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  out.resize(out.size() + 8);
  Store64(out.data() + out.size() - 8, value);
}

std::size_t ProcessSize(const TaskProcess& p, std::uint32_t threads) {
  return kProcessFixed + std::min(p.Comm.size(), kMostNameBytes) +
         std::min(p.Exe.size(), kMostNameBytes) + threads * kThreadSize;
}

void AppendProcess(const TaskProcess& p, const TaskTable& table, std::uint32_t threads,
                   std::vector<std::uint8_t>& out) {
  for (const std::uint32_t v : {p.Pid, p.ParentId, p.Uid}) Append32(out, v);
  Append32(out, (p.KernelThread ? kKernelThread : 0) | (p.Zombie ? kZombie : 0) |
                    (p.IoKnown ? kIoKnown : 0));
  for (const std::uint64_t v : {p.StartNs, p.RuntimeNs, p.ResidentPages, p.SharedPages, p.ReadChars,
                                p.WriteChars, p.ReadCalls, p.WriteCalls})
    Append64(out, v);
  const std::string_view comm = std::string_view(p.Comm).substr(0, kMostNameBytes);
  const std::string_view exe = std::string_view(p.Exe).substr(0, kMostNameBytes);
  Append32(out, static_cast<std::uint32_t>(comm.size() | exe.size() << 8));
  Append32(out, threads);
  out.insert(out.end(), comm.begin(), comm.end());
  out.insert(out.end(), exe.begin(), exe.end());
  for (std::uint32_t k = 0; k < threads; ++k) {
    const TaskThread& t = table.Threads[p.FirstThread + k];
    Append32(out, t.Tid);
    Append64(out, t.RuntimeNs);
    Append64(out, t.Switches);
  }
}

bool ReadProcess(Cursor& in, TaskTable& table, std::string& error) {
  TaskProcess p;
  std::uint32_t flags = 0, names = 0, threads = 0;
  if (in.Left() < kProcessFixed) return error = "process cut short", false;
  in.U32(p.Pid), in.U32(p.ParentId), in.U32(p.Uid), in.U32(flags);
  for (std::uint64_t* v : {&p.StartNs, &p.RuntimeNs, &p.ResidentPages, &p.SharedPages, &p.ReadChars,
                           &p.WriteChars, &p.ReadCalls, &p.WriteCalls})
    in.U64(*v);
  in.U32(names), in.U32(threads);
  const std::size_t comm = names & 0xFF, exe = names >> 8 & 0xFF;
  if ((names >> 16) != 0 || (flags & ~7u) != 0) return error = "process fields out of range", false;
  if (comm + exe > in.Left() || threads > (in.Left() - comm - exe) / kThreadSize)
    return error = "process of " + std::to_string(threads) + " threads outside its frame", false;
  p.KernelThread = flags & kKernelThread, p.Zombie = flags & kZombie, p.IoKnown = flags & kIoKnown;
  p.Comm.assign(reinterpret_cast<const char*>(in.Here()), comm);
  in.Skip(comm);
  p.Exe.assign(reinterpret_cast<const char*>(in.Here()), exe);
  in.Skip(exe);
  p.FirstThread = static_cast<std::uint32_t>(table.Threads.size());
  p.ThreadCount = threads;
  for (std::uint32_t k = 0; k < threads; ++k) {
    TaskThread& t = table.Threads.emplace_back();
    in.U32(t.Tid), in.U64(t.RuntimeNs), in.U64(t.Switches);
  }
  table.Processes.push_back(std::move(p));
  return true;
}

}  // namespace

std::vector<std::uint8_t> TaskRequestFrame(std::uint32_t sequence) {
  std::vector<std::uint8_t> out;
  const std::size_t start = BeginFrame(out, FrameType::TaskRequest);
  Append32(out, sequence);
  FinishFrame(out, start);
  return out;
}

void AppendTasksFrames(std::uint32_t sequence, const TaskTable& table,
                       std::vector<std::uint8_t>& out) {
  const auto begin = [&] {
    const std::size_t start = BeginFrame(out, FrameType::Tasks);
    Append32(out, sequence);
    Append32(out, 0);  // last: set on the last frame
    Append32(out, 0);  // processes: counted as they go in
    return start;
  };
  std::size_t start = begin();
  std::uint32_t count = 0;
  const auto finish = [&](bool last) {
    Store32(out.data() + start + kHeaderSize + 4, last ? 1 : 0);
    Store32(out.data() + start + kHeaderSize + 8, count);
    FinishFrame(out, start);
  };
  constexpr std::size_t kRoom = kMaxFrame - kTasksPrefix;
  for (const TaskProcess& p : table.Processes) {
    const std::uint32_t fits = static_cast<std::uint32_t>(
        std::min<std::size_t>(p.ThreadCount, (kRoom - ProcessSize(p, 0)) / kThreadSize));
    if (out.size() - start - kHeaderSize - kTasksPrefix + ProcessSize(p, fits) > kRoom) {
      finish(false);
      start = begin();
      count = 0;
    }
    AppendProcess(p, table, fits, out);
    ++count;
  }
  finish(true);
}

std::optional<std::uint32_t> ReadTaskRequest(const Frame& frame, std::string& error) {
  return ReadNumber<std::uint32_t>(frame, FrameType::TaskRequest, "malformed task request", error);
}

bool ReadTasks(const Frame& frame, std::uint32_t& sequence, bool& last, TaskTable& table,
               std::string& error) {
  if (!IsType(frame, FrameType::Tasks, error)) return false;
  Cursor in(frame.Payload);
  std::uint32_t lastWord = 0, count = 0;
  if (!in.U32(sequence) || !in.U32(lastWord) || !in.U32(count) || lastWord > 1)
    return error = "malformed task table", false;
  last = lastWord == 1;
  for (std::uint32_t k = 0; k < count; ++k)
    if (!ReadProcess(in, table, error)) return false;
  if (in.Left() != 0) return error = "task table longer than its processes", false;
  return true;
}

}  // namespace platform::probe
