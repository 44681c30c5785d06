#include "platform/perfdata/PerfBlockWriter.h"

#include <cstring>

namespace platform {

namespace {
constexpr std::size_t RoundUp8(std::size_t n) {
  return (n + 7) & ~std::size_t{7};
}
}  // namespace

template <typename T>
void PerfBlockWriter::Put(std::size_t at, T value) {
  std::memcpy(buf_.data() + at, &value, sizeof value);
}

std::size_t PerfBlockWriter::Reserve(std::size_t bytes) {
  const std::size_t at = buf_.size();
  buf_.resize(at + bytes, 0);
  return at;
}

void PerfBlockWriter::Utf16Of(std::string_view s, std::u16string& out) {
  out.clear();
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if (c >= 0xC2 && c <= 0xF4) {
      len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      char32_t v = c & (0x3F >> (len - 1));
      bool ok = i + len <= s.size();
      for (std::size_t k = 1; ok && k < len; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        ok = (cc & 0xC0) == 0x80;
        v = (v << 6) | (cc & 0x3F);
      }
      const char32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
      if (ok && v >= min && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF))
        cp = v;
      else
        len = 1;
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  out.push_back(u'\0');
}

void PerfBlockWriter::BeginBlock(const PerfBlockTimes& times, std::string_view systemName) {
  buf_.clear();
  objects_ = 0;
  times_ = times;
  Reserve(sizeof(PERF_DATA_BLOCK));
  Utf16Of(systemName, name_);
  const std::size_t nameBytes = name_.size() * 2;
  const std::size_t at = Reserve(RoundUp8(nameBytes));
  std::memcpy(buf_.data() + at, name_.data(), nameBytes);
  Put<std::uint32_t>(offsetof(PERF_DATA_BLOCK, SystemNameLength),
                     static_cast<std::uint32_t>(nameBytes));
  Put<std::uint32_t>(offsetof(PERF_DATA_BLOCK, SystemNameOffset), static_cast<std::uint32_t>(at));
  Put<std::uint32_t>(offsetof(PERF_DATA_BLOCK, HeaderLength),
                     static_cast<std::uint32_t>(buf_.size()));
}

void PerfBlockWriter::BeginObject(std::uint32_t nameIndex) {
  object_ = Reserve(sizeof(PERF_OBJECT_TYPE));
  defs_.clear();
  counterBlockLength_ = 8;  // ByteLength and 4 bytes of padding come first
  instances_ = PERF_NO_INSTANCES;
  hasCounterBlock_ = false;
  definitionsClosed_ = false;
  Put<std::uint32_t>(object_ + offsetof(PERF_OBJECT_TYPE, HeaderLength), sizeof(PERF_OBJECT_TYPE));
  Put<std::uint32_t>(object_ + offsetof(PERF_OBJECT_TYPE, ObjectNameTitleIndex), nameIndex);
  Put<std::uint32_t>(object_ + offsetof(PERF_OBJECT_TYPE, ObjectHelpTitleIndex), nameIndex + 1);
  Put<std::uint32_t>(object_ + offsetof(PERF_OBJECT_TYPE, DetailLevel), PERF_DETAIL_NOVICE);
  Put<std::int32_t>(object_ + offsetof(PERF_OBJECT_TYPE, DefaultCounter), 0);
  Put<std::int64_t>(object_ + offsetof(PERF_OBJECT_TYPE, PerfTime), times_.PerfTime);
  Put<std::int64_t>(object_ + offsetof(PERF_OBJECT_TYPE, PerfFreq), times_.PerfFreq);
}

std::size_t PerfBlockWriter::AddCounter(std::uint32_t nameIndex, std::uint32_t type) {
  const std::uint32_t size = (type & PERF_SIZE_MASK) == PERF_SIZE_LARGE ? 8 : 4;
  if (size == 8) counterBlockLength_ = static_cast<std::uint32_t>(RoundUp8(counterBlockLength_));
  const std::uint32_t offset = counterBlockLength_;
  counterBlockLength_ += size;
  const std::size_t d = Reserve(sizeof(PERF_COUNTER_DEFINITION));
  Put<std::uint32_t>(d + offsetof(PERF_COUNTER_DEFINITION, ByteLength),
                     sizeof(PERF_COUNTER_DEFINITION));
  Put<std::uint32_t>(d + offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex), nameIndex);
  Put<std::uint32_t>(d + offsetof(PERF_COUNTER_DEFINITION, CounterHelpTitleIndex), nameIndex + 1);
  Put<std::uint32_t>(d + offsetof(PERF_COUNTER_DEFINITION, DetailLevel), PERF_DETAIL_NOVICE);
  Put<std::uint32_t>(d + offsetof(PERF_COUNTER_DEFINITION, CounterType), type);
  Put<std::uint32_t>(d + offsetof(PERF_COUNTER_DEFINITION, CounterSize), size);
  Put<std::uint32_t>(d + offsetof(PERF_COUNTER_DEFINITION, CounterOffset), offset);
  defs_.push_back({offset, size});
  return defs_.size() - 1;
}

void PerfBlockWriter::CloseDefinitions() {
  if (definitionsClosed_) return;
  definitionsClosed_ = true;
  const auto definitionLength = static_cast<std::uint32_t>(buf_.size() - object_);
  Put<std::uint32_t>(object_ + offsetof(PERF_OBJECT_TYPE, DefinitionLength), definitionLength);
  Put<std::uint32_t>(object_ + offsetof(PERF_OBJECT_TYPE, NumCounters),
                     static_cast<std::uint32_t>(defs_.size()));
}

void PerfBlockWriter::BeginCounterBlock() {
  CloseDefinitions();
  hasCounterBlock_ = true;
  const auto length = static_cast<std::uint32_t>(RoundUp8(counterBlockLength_));
  counterBlock_ = Reserve(length);
  Put<std::uint32_t>(counterBlock_, length);
}

void PerfBlockWriter::CounterBlock() {
  instances_ = PERF_NO_INSTANCES;
  BeginCounterBlock();
}

void PerfBlockWriter::Instance(std::string_view utf8Name, std::uint32_t parentObjectIndex,
                               std::uint32_t parentObjectInstance, std::int32_t uniqueId) {
  if (instances_ < 0) instances_ = 0;
  CloseDefinitions();
  ++instances_;
  Utf16Of(utf8Name, name_);
  const std::size_t nameBytes = name_.size() * 2;
  const std::size_t length = RoundUp8(sizeof(PERF_INSTANCE_DEFINITION) + nameBytes);
  const std::size_t at = Reserve(length);
  Put<std::uint32_t>(at + offsetof(PERF_INSTANCE_DEFINITION, ByteLength),
                     static_cast<std::uint32_t>(length));
  Put<std::uint32_t>(at + offsetof(PERF_INSTANCE_DEFINITION, ParentObjectTitleIndex),
                     parentObjectIndex);
  Put<std::uint32_t>(at + offsetof(PERF_INSTANCE_DEFINITION, ParentObjectInstance),
                     parentObjectInstance);
  Put<std::int32_t>(at + offsetof(PERF_INSTANCE_DEFINITION, UniqueID), uniqueId);
  Put<std::uint32_t>(at + offsetof(PERF_INSTANCE_DEFINITION, NameOffset),
                     sizeof(PERF_INSTANCE_DEFINITION));
  Put<std::uint32_t>(at + offsetof(PERF_INSTANCE_DEFINITION, NameLength),
                     static_cast<std::uint32_t>(nameBytes));
  std::memcpy(buf_.data() + at + sizeof(PERF_INSTANCE_DEFINITION), name_.data(), nameBytes);
  BeginCounterBlock();
}

void PerfBlockWriter::SetValue(std::size_t ordinal, std::int64_t value) {
  if (ordinal >= defs_.size() || !hasCounterBlock_) return;
  const Def& d = defs_[ordinal];
  if (d.size == 8)
    Put<std::int64_t>(counterBlock_ + d.offset, value);
  else
    Put<std::uint32_t>(counterBlock_ + d.offset, static_cast<std::uint32_t>(value));
}

void PerfBlockWriter::EndObject() {
  if (!definitionsClosed_) instances_ = 0;  // an instance object that has none this time
  CloseDefinitions();
  Put<std::uint32_t>(object_ + offsetof(PERF_OBJECT_TYPE, TotalByteLength),
                     static_cast<std::uint32_t>(buf_.size() - object_));
  Put<std::int32_t>(object_ + offsetof(PERF_OBJECT_TYPE, NumInstances), instances_);
  ++objects_;
}

const std::vector<std::uint8_t>& PerfBlockWriter::EndBlock() {
  const char16_t sig[4] = {u'P', u'E', u'R', u'F'};
  std::memcpy(buf_.data(), sig, sizeof sig);
  Put<std::uint32_t>(offsetof(PERF_DATA_BLOCK, LittleEndian), 1);
  Put<std::uint32_t>(offsetof(PERF_DATA_BLOCK, Version), 1);
  Put<std::uint32_t>(offsetof(PERF_DATA_BLOCK, Revision), 1);
  Put<std::uint32_t>(offsetof(PERF_DATA_BLOCK, TotalByteLength),
                     static_cast<std::uint32_t>(buf_.size()));
  Put<std::uint32_t>(offsetof(PERF_DATA_BLOCK, NumObjectTypes), objects_);
  Put<std::int32_t>(offsetof(PERF_DATA_BLOCK, DefaultObject), 238);
  std::memcpy(buf_.data() + offsetof(PERF_DATA_BLOCK, SystemTime), times_.SystemTime,
              sizeof times_.SystemTime);
  Put<std::int64_t>(offsetof(PERF_DATA_BLOCK, PerfTime), times_.PerfTime);
  Put<std::int64_t>(offsetof(PERF_DATA_BLOCK, PerfFreq), times_.PerfFreq);
  Put<std::int64_t>(offsetof(PERF_DATA_BLOCK, PerfTime100nSec), times_.PerfTime100nSec);
  return buf_;
}

}  // namespace platform
