#include "monitor/perfdata/Statistics.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "monitor/diagnostics/PerfDataDump.h"
#include "platform/perfdata/PerfDataKey.h"
#include "platform/perfdata/PerfLayout.h"
#include "platform/procstatus/ProcessStatus.h"

namespace ombrix {

using platform::PERF_COUNTER_DEFINITION;
using platform::PERF_DATA_BLOCK;
using platform::PERF_INSTANCE_DEFINITION;
using platform::PERF_OBJECT_TYPE;

namespace {

constexpr std::uint32_t kInitialBufferSize = 65536;
constexpr std::uint32_t kBlockGrowth = 32768;
constexpr std::uint32_t kNameTableGrowth = 65536;
constexpr std::uint32_t kResourceMapSize = 1024;
constexpr std::uint32_t kProcessObject = 230;
constexpr std::uint32_t kThreadObject = 232;
constexpr std::uint32_t kIdProcess = 784;
constexpr std::uint32_t kIdThread = 804;

#define FIELD(type, field) static_cast<std::uint32_t>(offsetof(type, field))

std::string Utf8Of(const std::uint8_t* p, std::uint32_t bytes) {
  std::string out;
  for (std::uint32_t i = 0; i + 1 < bytes; i += 2) {
    char32_t c = static_cast<char32_t>(p[i] | (p[i + 1] << 8));
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes) {
      const char32_t lo = static_cast<char32_t>(p[i + 2] | (p[i + 3] << 8));
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // a lone surrogate
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The value of a counter whose definition lies in `defBlock` and whose counter block lies
// in `dataBlock` (the same block, except when instance ids are compared across blocks).
std::int64_t ReadCounter(const TDataBlock& defBlock, std::uint32_t definition,
                         const TDataBlock& dataBlock, std::uint32_t counterBlock) {
  const std::uint32_t type =
      defBlock.U32(definition + FIELD(PERF_COUNTER_DEFINITION, CounterType), "counter type");
  const std::uint32_t kind = type & platform::PERF_TYPE_MASK;
  if (kind != platform::PERF_TYPE_NUMBER && kind != platform::PERF_TYPE_COUNTER) return 0;
  const std::uint32_t size = type & platform::PERF_SIZE_MASK;
  if (size != platform::PERF_SIZE_DWORD && size != platform::PERF_SIZE_LARGE) return 0;
  const std::uint32_t width = size == platform::PERF_SIZE_LARGE ? 8 : 4;
  const std::uint64_t offset =
      defBlock.U32(definition + FIELD(PERF_COUNTER_DEFINITION, CounterOffset), "counter offset");
  const std::uint32_t blockLength = dataBlock.U32(counterBlock, "counter block");
  if (offset + width > blockLength)
    throw EStatisticsError(
        "Performance data block is damaged: counter value outside its "
        "counter block at offset " +
        std::to_string(counterBlock));
  return width == 8
             ? dataBlock.I64(counterBlock + offset, "counter value")
             : static_cast<std::int64_t>(dataBlock.U32(counterBlock + offset, "counter value"));
}

[[noreturn]] void Damaged(const char* what, std::uint64_t at) {
  throw EStatisticsError(std::string("Performance data block is damaged: ") + what + " at offset " +
                         std::to_string(at));
}

}  // namespace

// ---- TCounter ----

void TCounter::Set(std::uint32_t definition, std::uint32_t counterBlock) {
  definition_ = definition;
  block_ = counterBlock;
}

std::uint32_t TCounter::CounterNameTitleIndex() const {
  if (!HasDefinition()) return 0;
  return owner_.Owner().U32(definition_ + FIELD(PERF_COUNTER_DEFINITION, CounterNameTitleIndex),
                            "counter definition");
}

std::string TCounter::CounterName() const {
  return owner_.Owner().Owner().NameOf(CounterNameTitleIndex());
}

std::uint32_t TCounter::CounterType() const {
  if (!HasDefinition()) return 0;
  return owner_.Owner().U32(definition_ + FIELD(PERF_COUNTER_DEFINITION, CounterType),
                            "counter definition");
}

std::int64_t TCounter::RawValue() const {
  if (!HasData()) return 0;
  const TDataBlock& block = owner_.Owner();
  return ReadCounter(block, definition_, block, block_);
}

std::int64_t TCounter::PreviousRawValue() const {
  return owner_.Owner().Other().ObjectCursor().Counter().RawValue();
}

bool TCounter::HasPrevious() const {
  return owner_.Owner().Other().ObjectCursor().Counter().HasData();
}

// ---- TInstance ----

void TInstance::Set(std::uint32_t definition) {
  const TDataBlock& b = owner_.Owner();
  const std::uint64_t end = owner_.End();
  const std::uint64_t at = definition;
  if (at + sizeof(PERF_INSTANCE_DEFINITION) > end) Damaged("instance outside its object", at);
  const std::uint32_t length = b.U32(at, "instance");
  const std::uint64_t nameEnd =
      at + std::uint64_t{b.U32(at + FIELD(PERF_INSTANCE_DEFINITION, NameOffset), "instance")} +
      b.U32(at + FIELD(PERF_INSTANCE_DEFINITION, NameLength), "instance");
  if (length < sizeof(PERF_INSTANCE_DEFINITION) || nameEnd > end) Damaged("instance length", at);
  const std::uint64_t counterBlock = at + length;
  if (counterBlock + sizeof(platform::PERF_COUNTER_BLOCK) > end) Damaged("counter block", at);
  const std::uint32_t blockLength = b.U32(counterBlock, "counter block");
  if (blockLength < sizeof(platform::PERF_COUNTER_BLOCK) || counterBlock + blockLength > end)
    Damaged("counter block length", counterBlock);
  definition_ = definition;
  block_ = static_cast<std::uint32_t>(counterBlock);
}

std::uint32_t TInstance::Next() const {
  return block_ + owner_.Owner().U32(block_, "counter block");
}

std::string TInstance::Name() const {
  const std::uint32_t length = NameLength();
  if (!HasDefinition() || length == 0) return {};
  const std::uint64_t at = std::uint64_t{definition_} + NameOffset();
  owner_.Owner().Require(at, length, "instance name");
  return Utf8Of(owner_.Owner().Data() + at, length);
}

#define INSTANCE_FIELD(name, type)                                                            \
  type TInstance::name() const {                                                              \
    if (!HasDefinition()) return 0;                                                           \
    return static_cast<type>(                                                                 \
        owner_.Owner().U32(definition_ + FIELD(PERF_INSTANCE_DEFINITION, name), "instance")); \
  }
INSTANCE_FIELD(ParentObjectTitleIndex, std::uint32_t)
INSTANCE_FIELD(ParentObjectInstance, std::uint32_t)
INSTANCE_FIELD(UniqueID, std::int32_t)
INSTANCE_FIELD(NameLength, std::uint32_t)
INSTANCE_FIELD(NameOffset, std::uint32_t)
INSTANCE_FIELD(ByteLength, std::uint32_t)
#undef INSTANCE_FIELD

std::string TInstance::ParentObjectName() const {
  return owner_.Owner().Owner().NameOf(ParentObjectTitleIndex());
}

// ---- TObjectType ----

TObjectType::TObjectType(TDataBlock& owner)
    : owner_(owner), instance_(*this), counter_(*this), base_(*this), id_(*this) {}

void TObjectType::Clear() {
  object_ = kNoPosition;
  indexed_ = false;
  counterIterator_ = kNoPosition;
  countersLeft_ = 0;
  instance_.Clear();
  counter_.Clear();
  base_.Clear();
  id_.Clear();
}

void TObjectType::Set(std::uint32_t object) {
  Clear();
  const TDataBlock& b = owner_;
  const std::uint64_t at = object;
  b.Require(at, sizeof(PERF_OBJECT_TYPE), "object");
  const std::uint32_t total = b.U32(at, "object");
  const std::uint32_t definitionLength =
      b.U32(at + FIELD(PERF_OBJECT_TYPE, DefinitionLength), "object");
  const std::uint32_t headerLength = b.U32(at + FIELD(PERF_OBJECT_TYPE, HeaderLength), "object");
  if (total < sizeof(PERF_OBJECT_TYPE) || at + total > b.DataSize()) Damaged("object length", at);
  if (headerLength > definitionLength || definitionLength > total)
    Damaged("object definition length", at);
  const auto instances =
      static_cast<std::int32_t>(b.U32(at + FIELD(PERF_OBJECT_TYPE, NumInstances), "object"));
  if (instances < platform::PERF_NO_INSTANCES) Damaged("instance count", at);
  if (instances == platform::PERF_NO_INSTANCES) {
    // The single counter block follows the definitions.
    const std::uint64_t block = at + definitionLength;
    if (block + sizeof(platform::PERF_COUNTER_BLOCK) > at + total) Damaged("counter block", block);
    const std::uint32_t blockLength = b.U32(block, "counter block");
    if (blockLength < sizeof(platform::PERF_COUNTER_BLOCK) || block + blockLength > at + total)
      Damaged("counter block length", block);
  }
  // Every definition must lie inside the definition area.
  const std::uint32_t count = b.U32(at + FIELD(PERF_OBJECT_TYPE, NumCounters), "object");
  const std::uint32_t index = b.U32(at + FIELD(PERF_OBJECT_TYPE, ObjectNameTitleIndex), "object");
  const std::uint32_t idIndex = index == kProcessObject  ? kIdProcess
                                : index == kThreadObject ? kIdThread
                                                         : 0;
  std::uint64_t def = at + headerLength;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (def + sizeof(PERF_COUNTER_DEFINITION) > at + definitionLength)
      Damaged("counter definition outside its object", def);
    const std::uint32_t length = b.U32(def, "counter definition");
    if (length < sizeof(PERF_COUNTER_DEFINITION) || def + length > at + definitionLength)
      Damaged("counter definition length", def);
    if (idIndex != 0 && !id_.HasDefinition() &&
        b.U32(def + FIELD(PERF_COUNTER_DEFINITION, CounterNameTitleIndex), "counter") == idIndex)
      id_.Set(static_cast<std::uint32_t>(def), kNoPosition);
    def += length;
  }
  object_ = object;
}

std::uint32_t TObjectType::ObjectNameTitleIndex() const {
  return HasObject() ? owner_.U32(object_ + FIELD(PERF_OBJECT_TYPE, ObjectNameTitleIndex), "object")
                     : 0;
}

std::string TObjectType::ObjectName() const {
  return owner_.Owner().NameOf(ObjectNameTitleIndex());
}

std::int32_t TObjectType::NumInstances() const {
  return HasObject() ? static_cast<std::int32_t>(
                           owner_.U32(object_ + FIELD(PERF_OBJECT_TYPE, NumInstances), "object"))
                     : 0;
}

std::uint32_t TObjectType::NumCounters() const {
  return HasObject() ? owner_.U32(object_ + FIELD(PERF_OBJECT_TYPE, NumCounters), "object") : 0;
}

std::int64_t TObjectType::PerfTime() const {
  return HasObject() ? owner_.I64(object_ + FIELD(PERF_OBJECT_TYPE, PerfTime), "object") : 0;
}

std::int64_t TObjectType::PerfFreq() const {
  return HasObject() ? owner_.I64(object_ + FIELD(PERF_OBJECT_TYPE, PerfFreq), "object") : 0;
}

std::uint32_t TObjectType::FirstDefinition() const {
  return object_ + owner_.U32(object_ + FIELD(PERF_OBJECT_TYPE, HeaderLength), "object");
}

std::uint32_t TObjectType::FirstInstance() const {
  return object_ + owner_.U32(object_ + FIELD(PERF_OBJECT_TYPE, DefinitionLength), "object");
}

std::uint32_t TObjectType::End() const {
  return object_ + owner_.U32(object_, "object");
}

void TObjectType::ResetCounterMatch() {
  counter_.Clear();
  base_.Clear();
  countersLeft_ = NumCounters();
  counterIterator_ = HasObject() && countersLeft_ > 0 ? FirstDefinition() : kNoPosition;
}

// Positional: the previous definition at the iterator is compared with exactly one
// current definition. This cursor belongs to the previous block.
void TObjectType::MatchCounter(const TCounter& current) {
  counter_.Clear();
  base_.Clear();
  if (counterIterator_ == kNoPosition) return;
  const std::uint32_t def = counterIterator_;
  const auto index =
      owner_.U32(def + FIELD(PERF_COUNTER_DEFINITION, CounterNameTitleIndex), "counter");
  const auto type = owner_.U32(def + FIELD(PERF_COUNTER_DEFINITION, CounterType), "counter");
  if (index == current.CounterNameTitleIndex() && type == current.CounterType()) {
    std::uint32_t block = kNoPosition;
    if (NumInstances() == platform::PERF_NO_INSTANCES) {
      block = FirstInstance();
    } else if (instance_.HasDefinition()) {
      if (instance_.CounterBlockPosition() == kNoPosition)
        throw EStatisticsError("Assertion failure");
      block = instance_.CounterBlockPosition();
    }
    // An instance that has no match in the previous block has no previous counter at all:
    // neither a raw value of 0 (which would turn its whole lifetime into one interval) nor
    // another instance's counters. Its delta-based values are 0 for this sample.
    if (block != kNoPosition) counter_.Set(def, block);
  }
  const auto advance = [&] {
    --countersLeft_;
    counterIterator_ = countersLeft_ == 0
                           ? kNoPosition
                           : counterIterator_ + owner_.U32(counterIterator_, "counter");
  };
  advance();
  if (counterIterator_ != kNoPosition &&
      platform::IsBaseCounterType(
          owner_.U32(counterIterator_ + FIELD(PERF_COUNTER_DEFINITION, CounterType), "counter"))) {
    if (counter_.HasDefinition()) base_.Set(counterIterator_, counter_.CounterBlockPosition());
    advance();
  }
}

// The match key of an instance: its name bytes and, for processes and threads, its id.
std::uint64_t TObjectType::InstanceKey(const TDataBlock& block, std::uint32_t instance,
                                       std::uint32_t counterBlock) const {
  const std::uint32_t length =
      block.U32(instance + FIELD(PERF_INSTANCE_DEFINITION, NameLength), "instance");
  const std::uint64_t at =
      std::uint64_t{instance} +
      block.U32(instance + FIELD(PERF_INSTANCE_DEFINITION, NameOffset), "instance");
  block.Require(at, length, "instance name");
  std::uint64_t h = 1469598103934665603ull ^ length;  // FNV-1a
  for (const std::uint8_t* p = block.Data() + at; p != block.Data() + at + length; ++p)
    h = (h ^ *p) * 1099511628211ull;
  if (id_.HasDefinition())
    h = (h ^
         static_cast<std::uint64_t>(ReadCounter(owner_, id_.Definition(), block, counterBlock))) *
        1099511628211ull;
  return h;
}

void TObjectType::BuildIndex() {
  index_.clear();
  std::uint32_t at = FirstInstance();
  for (std::int32_t i = NumInstances(); i > 0; --i) {
    instance_.Set(at);
    index_.push_back({InstanceKey(owner_, at, instance_.CounterBlockPosition()), at});
    at = instance_.Next();
  }
  std::sort(index_.begin(), index_.end());
  indexed_ = true;
}

bool TObjectType::Matches(std::uint32_t at, const std::uint8_t* name, std::uint32_t nameLength,
                          std::int64_t id) {
  instance_.Set(at);
  const std::uint64_t prevName = std::uint64_t{at} + instance_.NameOffset();
  return instance_.NameLength() == nameLength &&
         std::memcmp(owner_.Data() + prevName, name, nameLength) == 0 &&
         (!id_.HasDefinition() ||
          ReadCounter(owner_, id_.Definition(), owner_, instance_.CounterBlockPosition()) == id);
}

// Looks for the current instance among this (previous) object's instances: same name bytes
// and, for processes and threads, the same id. The first match in block order wins.
bool TObjectType::MatchInstance(const TInstance& current) {
  constexpr std::int32_t kIndexFrom = 16;  // below this a plain scan is cheaper
  instance_.Clear();
  if (!HasObject()) return false;
  const std::int32_t count = NumInstances();
  const TDataBlock& curBlock = current.Owner().Owner();
  const std::uint32_t nameLength = current.NameLength();
  const std::uint64_t curName = std::uint64_t{current.Definition()} + current.NameOffset();
  curBlock.Require(curName, nameLength, "instance name");
  const std::uint8_t* name = curBlock.Data() + curName;
  std::int64_t id = 0;
  if (id_.HasDefinition())
    id = ReadCounter(owner_, id_.Definition(), curBlock, current.CounterBlockPosition());
  if (count >= kIndexFrom) {
    if (!indexed_) BuildIndex();
    const std::uint64_t key =
        InstanceKey(curBlock, current.Definition(), current.CounterBlockPosition());
    // Entries of one key are in block order, so the first true match is the first match.
    for (auto it = std::lower_bound(index_.begin(), index_.end(), IndexEntry{key, 0});
         it != index_.end() && it->Key == key; ++it)
      if (Matches(it->Position, name, nameLength, id)) return true;
    instance_.Clear();
    return false;
  }
  std::uint32_t at = FirstInstance();
  for (std::int32_t i = 0; i < count; ++i) {
    if (Matches(at, name, nameLength, id)) return true;
    at = instance_.Next();
  }
  instance_.Clear();
  return false;
}

// ---- TDataBlock ----

TDataBlock::TDataBlock(TPerformanceData& owner)
    : owner_(owner), object_(*this), buffer_(kInitialBufferSize) {}

void TDataBlock::Require(std::uint64_t at, std::uint64_t length, const char* what) const {
  if (at > dataSize_ || length > dataSize_ - at) Damaged(what, at);
}

std::uint32_t TDataBlock::U32(std::uint64_t at, const char* what) const {
  Require(at, 4, what);
  std::uint32_t v;
  std::memcpy(&v, buffer_.data() + at, 4);
  return v;
}

std::int64_t TDataBlock::I64(std::uint64_t at, const char* what) const {
  Require(at, 8, what);
  std::int64_t v;
  std::memcpy(&v, buffer_.data() + at, 8);
  return v;
}

std::int64_t TDataBlock::PerfTime() const {
  return valid_ ? I64(FIELD(PERF_DATA_BLOCK, PerfTime), "block header") : 0;
}

std::int64_t TDataBlock::PerfFreq() const {
  return valid_ ? I64(FIELD(PERF_DATA_BLOCK, PerfFreq), "block header") : 0;
}

std::int64_t TDataBlock::PerfTime100nSec() const {
  return valid_ ? I64(FIELD(PERF_DATA_BLOCK, PerfTime100nSec), "block header") : 0;
}

std::uint32_t TDataBlock::HeaderLength() const {
  return U32(FIELD(PERF_DATA_BLOCK, HeaderLength), "block header");
}

std::uint32_t TDataBlock::NumObjectTypes() const {
  return U32(FIELD(PERF_DATA_BLOCK, NumObjectTypes), "block header");
}

std::string TDataBlock::SystemName() const {
  if (!valid_) return {};
  const std::uint32_t at = U32(FIELD(PERF_DATA_BLOCK, SystemNameOffset), "block header");
  const std::uint32_t length = U32(FIELD(PERF_DATA_BLOCK, SystemNameLength), "block header");
  // The name is zero-terminated; its length field is not relied on beyond the block.
  const std::uint32_t usable = at < dataSize_ ? std::min(length, dataSize_ - at) : 0;
  return Utf8Of(buffer_.data() + std::min(at, dataSize_), usable);
}

void TDataBlock::Accept(std::uint32_t bytes) {
  dataSize_ = std::min<std::uint32_t>(bytes, BufferSize());
  if (dataSize_ < sizeof(PERF_DATA_BLOCK)) {
    dataSize_ = 0;
    throw EStatisticsError("Performance data block is damaged: " + std::to_string(bytes) +
                           " bytes are too short for its header");
  }
  valid_ = true;
  owner_.fetchedBytes_ = dataSize_;
  const TDataBlock& other = *other_;
  const std::int64_t freq = PerfFreq();
  std::int64_t elapsed = 0;
  // Times so far apart that their difference overflows cannot be an interval.
  if (other.valid_ && freq > 0 && !__builtin_sub_overflow(PerfTime(), other.PerfTime(), &elapsed))
    intervalSeconds_ = static_cast<double>(elapsed) / static_cast<double>(freq);
}

std::uint32_t TDataBlock::Query(const std::string& queryText, std::vector<std::uint8_t>& buffer,
                                std::uint32_t& bytes) {
  std::uint32_t rc;
  for (;;) {
    bytes = static_cast<std::uint32_t>(buffer.size());
    rc = platform::QueryPerformanceData(queryText, buffer.data(), bytes, &bytes);
    if (rc != platform::ERROR_MORE_DATA) return rc;
    // Grow in fixed steps, enough of them at once to hold the size the key asked for.
    std::uint64_t size = std::uint64_t{buffer.size()} + kBlockGrowth;
    while (size < bytes) size += kBlockGrowth;
    if (size > 0xFFFFFFFFu) return 8;  // not enough memory
    buffer.resize(static_cast<std::size_t>(size));
  }
}

void TDataBlock::Fetch(const std::string& queryText) {
  std::uint32_t bytes = 0;
  const std::uint32_t rc = Query(queryText, buffer_, bytes);
  Take(rc, bytes);
}

void TDataBlock::Take(std::uint32_t rc, std::uint32_t bytes) {
  valid_ = false;
  intervalSeconds_ = 0;
  owner_.fetchedBytes_ = 0;
  dataSize_ = 0;
  lastResult_ = rc;
  if (rc != platform::ERROR_SUCCESS)
    throw EStatisticsError("RegQueryValueEx call error = " + std::to_string(rc));
  Accept(bytes);
}

void TDataBlock::Load(const std::vector<std::uint8_t>& bytes) {
  valid_ = false;
  intervalSeconds_ = 0;
  dataSize_ = 0;
  if (bytes.size() > buffer_.size()) buffer_.resize(bytes.size());
  std::copy(bytes.begin(), bytes.end(), buffer_.begin());
  lastResult_ = 0;
  Accept(static_cast<std::uint32_t>(bytes.size()));
}

// ---- TPerformanceData ----

TPerformanceData::TPerformanceData(const std::string& machineName)
    : blockA_(*this), blockB_(*this), current_(&blockA_), previous_(&blockB_) {
  machineName_ = machineName;
  std::transform(machineName_.begin(), machineName_.end(), machineName_.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  blockA_.Pair(blockB_);
  blockB_.Pair(blockA_);
  QueryText = "Global ";
  if (!IsLocal()) lastError_ = platform::ConnectPerformanceData(machineName_);
  if (lastError_ == 0) LoadNameTables();
}

bool TPerformanceData::IsLocal() const {
  return machineName_.empty() || machineName_ == "localhost";
}

void TPerformanceData::LoadNameTables() {
  lastError_ = platform::OpenNameTable();
  if (lastError_ != 0) return;
  const auto load = [](std::string_view value, std::vector<char>& buffer, std::uint32_t& size) {
    buffer.assign(kInitialBufferSize, '\0');
    std::uint32_t bytes = 0;
    std::uint32_t rc;
    while ((rc = platform::QueryNameTable(value, buffer.data(),
                                          static_cast<std::uint32_t>(buffer.size()), &bytes)) ==
           platform::ERROR_MORE_DATA)
      buffer.resize(buffer.size() + kNameTableGrowth);
    size = rc == 0 ? std::min<std::uint32_t>(bytes, static_cast<std::uint32_t>(buffer.size())) : 0;
    return rc == 0;
  };
  counterNamesLoaded_ = load("Counters", counterNames_, counterNamesSize_);
  helpTextsLoaded_ = load("Help", helpTexts_, helpTextsSize_);
}

std::string TPerformanceData::NameOf(std::uint32_t index) const {
  if (!counterNamesLoaded_) return "[Name index " + std::to_string(index) + "]";
  const std::string key = std::to_string(index);
  const char* p = counterNames_.data();
  const char* end = p + counterNamesSize_;
  const auto next = [&](std::string_view& s) {
    const char* z = std::find(p, end, '\0');
    s = std::string_view(p, static_cast<std::size_t>(z - p));
    p = z == end ? end : z + 1;
  };
  std::string_view number, name;
  for (;;) {
    next(number);
    if (number.empty()) return {};
    next(name);
    if (number == key) return std::string(name);
  }
}

std::int64_t TPerformanceData::PerfTime() const {
  return current_->PerfTime();
}

std::int64_t TPerformanceData::PerfFreq() const {
  return current_->PerfFreq();
}

std::int64_t TPerformanceData::PerfTime100nSec() const {
  return current_->PerfTime100nSec();
}

std::string TPerformanceData::SystemName() const {
  return current_->SystemName();
}

// Fetched into the previous block's buffer: that block is done with once the last tick ended,
// and it is the one the next Sample fills.
void TPerformanceData::Prefetch() {
  if (lastError_ != 0) return;
  staged_ = true;
  stagedResult_ = TDataBlock::Query(QueryText, previous_->buffer_, stagedBytes_);
}

bool TPerformanceData::Sample() {
  if (lastError_ != 0) return false;
  std::swap(current_, previous_);
  ++sampleCount_;
  if (staged_) {
    staged_ = false;
    current_->Take(stagedResult_, stagedBytes_);
  } else {
    current_->Fetch(QueryText);
  }
  lastError_ = current_->LastResult();
  if (TraceRequest) DumpPerformanceData(*current_);
  return true;
}

void TPerformanceData::LoadBlocks(const std::vector<std::uint8_t>& previous,
                                  const std::vector<std::uint8_t>& current) {
  previous_->valid_ = false;
  current_->valid_ = false;
  previous_->Load(previous);
  current_->Load(current);
}

void TPerformanceData::ForEachCounter(const CounterVisitor& visitor) {
  if (lastError_ != 0 || !current_->Valid()) return;
  TDataBlock& cur = *current_;
  TDataBlock& prev = *previous_;
  TObjectType& object = cur.ObjectCursor();
  TObjectType& prevObject = prev.ObjectCursor();
  prevObject.Clear();
  prev.objectsLeft_ = prev.Valid() ? prev.NumObjectTypes() : 0;
  prev.objectIterator_ = prev.objectsLeft_ > 0 ? prev.HeaderLength() : kNoPosition;
  std::uint32_t at = cur.HeaderLength();
  for (std::uint32_t n = cur.NumObjectTypes(); n > 0; --n) {
    object.Set(at);
    // Objects match by position only.
    prevObject.Clear();
    if (prev.objectIterator_ != kNoPosition) {
      prevObject.Set(prev.objectIterator_);
      const std::uint32_t next = prevObject.Next();
      if (prevObject.ObjectNameTitleIndex() != object.ObjectNameTitleIndex()) prevObject.Clear();
      prev.objectIterator_ = --prev.objectsLeft_ > 0 ? next : kNoPosition;
    }
    TInstance& instance = object.Instance();
    instance.Clear();
    if (object.NumInstances() == platform::PERF_NO_INSTANCES) {
      VisitCounters(object, nullptr, object.FirstInstance(), visitor);
    } else {
      std::uint32_t inst = object.FirstInstance();
      for (std::int32_t i = object.NumInstances(); i > 0; --i) {
        instance.Set(inst);
        prevObject.MatchInstance(instance);
        instance.Tag = -1;
        VisitCounters(object, &instance, instance.CounterBlockPosition(), visitor);
        inst = instance.Next();
      }
    }
    at = object.Next();
  }
}

void TPerformanceData::VisitCounters(TObjectType& object, TInstance* instance,
                                     std::uint32_t counterBlock, const CounterVisitor& visitor) {
  TObjectType& prevObject = object.Owner().Other().ObjectCursor();
  TDataBlock& block = object.Owner();
  prevObject.ResetCounterMatch();
  TCounter& counter = object.Counter();
  TCounter& base = object.BaseCounter();
  const std::uint32_t count = object.NumCounters();
  std::uint32_t def = object.FirstDefinition();
  std::uint32_t p = 0;
  while (p < count) {
    counter.Set(def, counterBlock);
    prevObject.MatchCounter(counter);
    base.Clear();
    ++p;
    def += block.U32(def, "counter definition");
    if (p < count &&
        platform::IsBaseCounterType(
            block.U32(def + FIELD(PERF_COUNTER_DEFINITION, CounterType), "counter definition"))) {
      base.Set(def, counterBlock);
      ++p;
      def += block.U32(def, "counter definition");
    }
    if (visitor(object, instance, p >= count, counter)) break;
  }
}

std::uint64_t TPerformanceData::PhysicalMemoryBytes() {
  lastError_ = platform::OpenResourceMap();
  if (lastError_ != 0) return 0;
  // Machines with very much memory need more ranges than the customary 1024 bytes hold,
  // so the buffer grows like the other queries' buffers instead of giving up.
  std::vector<std::uint8_t> buffer(kResourceMapSize);
  std::uint32_t bytes = 0;
  std::uint32_t rc;
  while ((rc = platform::QueryResourceMap(".Translated", buffer.data(),
                                          static_cast<std::uint32_t>(buffer.size()), &bytes)) ==
         platform::ERROR_MORE_DATA)
    buffer.resize(std::max<std::size_t>(buffer.size() + kResourceMapSize, bytes));
  if (rc != 0) return 0;
  bytes = std::min<std::uint32_t>(bytes, static_cast<std::uint32_t>(buffer.size()));
  const auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    if (at + 4 <= bytes) std::memcpy(&v, buffer.data() + at, 4);
    return v;
  };
  const std::uint32_t count = u32(platform::kResourceListPartialCountOffset);
  std::uint64_t sum = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t at = platform::kResourceListFirstPartial +
                             i * platform::kPartialDescriptorSize +
                             platform::kPartialMemoryLengthOffset;
    if (at + 4 > bytes) break;  // the count claims more than the value holds
    sum += u32(static_cast<std::size_t>(at));
  }
  return sum;
}

std::uint64_t TPerformanceData::MemoryFootprint() const {
  const std::uint64_t cursors = sizeof(TObjectType) + sizeof(TInstance) + 3 * sizeof(TCounter);
  return sizeof(TPerformanceData) + 2 * (sizeof(TDataBlock) + cursors) + blockA_.BufferSize() +
         blockB_.BufferSize() + counterNames_.size() + helpTexts_.size() + machineName_.size() +
         QueryText.size();
}

// ---- process status ----

bool EnumProcessModules(std::uint32_t processId, std::uint32_t* firstModule) {
  if (platform::ProcessImagePath(processId).empty()) return false;
  if (firstModule) *firstModule = 1;  // the executable is the only module named here
  return true;
}

std::uint32_t GetModuleFileNameExA(std::uint32_t processId, std::uint32_t module,
                                   std::string& fileName) {
  fileName.clear();
  if (module != 1) return 0;
  fileName = platform::ProcessImagePath(processId);
  return static_cast<std::uint32_t>(fileName.size());
}

}  // namespace ombrix
