#include "platform/kernelevents/ProbeStream.h"

#include <cstring>

namespace platform::probe {
namespace {

constexpr std::size_t kRecordPrefix = 4 + sizeof(EVENT_TRACE_HEADER);  // length, header

void Append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}

void Append64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (int k = 0; k < 8; ++k) out.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}

// Starts a frame in out; FinishFrame fills in its length once the payload is appended.
std::size_t BeginFrame(std::vector<std::uint8_t>& out, TFrameType type) {
  const std::size_t start = out.size();
  Append32(out, 0);
  const auto code = static_cast<std::uint16_t>(type);
  out.push_back(static_cast<std::uint8_t>(code));
  out.push_back(static_cast<std::uint8_t>(code >> 8));
  out.push_back(static_cast<std::uint8_t>(kVersion));
  out.push_back(static_cast<std::uint8_t>(kVersion >> 8));
  return start;
}

void FinishFrame(std::vector<std::uint8_t>& out, std::size_t start) {
  const auto length = static_cast<std::uint32_t>(out.size() - start - kHeaderSize);
  for (int k = 0; k < 4; ++k) out[start + k] = static_cast<std::uint8_t>(length >> (8 * k));
}

std::uint32_t Load32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Load16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Reads fields off a payload, never past its end.
class TCursor {
 public:
  explicit TCursor(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
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
  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
};

bool IsType(const TFrame& frame, TFrameType type, std::string& error) {
  if (frame.Type == type) return true;
  error = "unexpected frame type " + std::to_string(static_cast<unsigned>(frame.Type));
  return false;
}

bool ReadOneRecord(TCursor& in, std::vector<TEventRecord>& out, std::string& error) {
  std::uint32_t length = 0;
  if (!in.U32(length) || length < sizeof(EVENT_TRACE_HEADER) || length > in.Left()) {
    error = "record length outside its frame";
    return false;
  }
  const std::size_t data = length - sizeof(EVENT_TRACE_HEADER);
  if (data > kMaxRecordData) {
    error = "record data of " + std::to_string(data) + " bytes";
    return false;
  }
  TEventRecord record;
  std::memcpy(&record.Header, in.Here(), sizeof record.Header);
  in.Skip(sizeof record.Header);
  record.Data.assign(in.Here(), in.Here() + data);
  in.Skip(data);
  out.push_back(std::move(record));
  return true;
}

}  // namespace

std::vector<std::uint8_t> HelloFrame(const THello& hello) {
  std::vector<std::uint8_t> out;
  const std::size_t start = BeginFrame(out, TFrameType::Hello);
  Append32(out, kHelloMagic);
  Append32(out, hello.EnableFlags);
  FinishFrame(out, start);
  return out;
}

std::vector<std::uint8_t> ReadyFrame(const TReady& ready) {
  std::vector<std::uint8_t> out;
  const std::size_t start = BeginFrame(out, TFrameType::Ready);
  Append32(out, ready.FirstError);
  Append32(out, static_cast<std::uint32_t>(ready.Scope));
  FinishFrame(out, start);
  return out;
}

std::vector<std::uint8_t> FailureFrame(const TFailure& failure) {
  std::vector<std::uint8_t> out;
  const std::size_t start = BeginFrame(out, TFrameType::Failure);
  Append32(out, failure.Error);
  const std::string_view reason = std::string_view(failure.Reason).substr(0, 4096);
  out.insert(out.end(), reason.begin(), reason.end());
  FinishFrame(out, start);
  return out;
}

std::vector<std::uint8_t> DroppedFrame(std::uint64_t dropped) {
  std::vector<std::uint8_t> out;
  const std::size_t start = BeginFrame(out, TFrameType::Dropped);
  Append64(out, dropped);
  FinishFrame(out, start);
  return out;
}

void AppendRecordsFrames(const std::vector<TEventRecord>& records, std::vector<std::uint8_t>& out) {
  std::size_t start = 0;
  bool open = false;
  for (const TEventRecord& record : records) {
    if (record.Data.size() > kMaxRecordData) continue;
    const std::size_t size = kRecordPrefix + record.Data.size();
    if (open && out.size() - start - kHeaderSize + size > kMaxFrame) {
      FinishFrame(out, start);
      open = false;
    }
    if (!open) start = BeginFrame(out, TFrameType::Records), open = true;
    Append32(out, static_cast<std::uint32_t>(sizeof record.Header + record.Data.size()));
    const auto* header = reinterpret_cast<const std::uint8_t*>(&record.Header);
    out.insert(out.end(), header, header + sizeof record.Header);
    out.insert(out.end(), record.Data.begin(), record.Data.end());
  }
  if (open) FinishFrame(out, start);
}

std::optional<THello> ReadHello(const TFrame& frame, std::string& error) {
  if (!IsType(frame, TFrameType::Hello, error)) return std::nullopt;
  TCursor in(frame.Payload);
  std::uint32_t magic = 0;
  THello hello;
  if (!in.U32(magic) || magic != kHelloMagic || !in.U32(hello.EnableFlags) || in.Left() != 0) {
    error = "not a hello";
    return std::nullopt;
  }
  return hello;
}

std::optional<TReady> ReadReady(const TFrame& frame, std::string& error) {
  if (!IsType(frame, TFrameType::Ready, error)) return std::nullopt;
  TCursor in(frame.Payload);
  TReady ready;
  std::uint32_t scope = 0;
  if (!in.U32(ready.FirstError) || !in.U32(scope) || in.Left() != 0 || scope > 1) {
    error = "malformed ready frame";
    return std::nullopt;
  }
  ready.Scope = static_cast<TScope>(scope);
  return ready;
}

std::optional<TFailure> ReadFailure(const TFrame& frame, std::string& error) {
  if (!IsType(frame, TFrameType::Failure, error)) return std::nullopt;
  TCursor in(frame.Payload);
  TFailure failure;
  if (!in.U32(failure.Error)) {
    error = "malformed failure frame";
    return std::nullopt;
  }
  failure.Reason.assign(reinterpret_cast<const char*>(in.Here()), in.Left());
  return failure;
}

std::optional<std::uint64_t> ReadDropped(const TFrame& frame, std::string& error) {
  if (!IsType(frame, TFrameType::Dropped, error)) return std::nullopt;
  TCursor in(frame.Payload);
  std::uint64_t dropped = 0;
  if (!in.U64(dropped) || in.Left() != 0) {
    error = "malformed drop count";
    return std::nullopt;
  }
  return dropped;
}

bool ReadRecords(const TFrame& frame, std::vector<TEventRecord>& out, std::string& error) {
  if (!IsType(frame, TFrameType::Records, error)) return false;
  TCursor in(frame.Payload);
  const std::size_t before = out.size();
  while (in.Left() != 0) {
    if (!ReadOneRecord(in, out, error)) {
      out.resize(before);
      return false;
    }
  }
  return true;
}

void TFrameReader::Feed(const std::uint8_t* bytes, std::size_t size) {
  if (!error_.empty()) return;
  // Consumed bytes go before new ones are kept, so the buffer holds at most one frame and a bit.
  if (at_ > 0 && at_ == buffer_.size()) {
    buffer_.clear();
    at_ = 0;
  } else if (at_ > kMaxFrame) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at_));
    at_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
}

TFrameReader::TResult TFrameReader::Next(TFrame& frame) {
  if (!error_.empty()) return TResult::Malformed;
  if (Buffered() < kHeaderSize) return TResult::NeedMore;
  const std::uint8_t* header = buffer_.data() + at_;
  const std::uint32_t length = Load32(header);
  const std::uint16_t type = Load16(header + 4);
  const std::uint16_t version = Load16(header + 6);
  if (version != kVersion) {
    error_ = "stream version " + std::to_string(version) + ", expected " + std::to_string(kVersion);
    return TResult::Malformed;
  }
  if (length > kMaxFrame || type < 1 || type > static_cast<std::uint16_t>(TFrameType::Dropped)) {
    error_ = "frame of type " + std::to_string(type) + " and " + std::to_string(length) + " bytes";
    return TResult::Malformed;
  }
  if (Buffered() - kHeaderSize < length) return TResult::NeedMore;
  frame.Type = static_cast<TFrameType>(type);
  frame.Payload.assign(header + kHeaderSize, header + kHeaderSize + length);
  at_ += kHeaderSize + length;
  return TResult::Frame;
}

}  // namespace platform::probe
