// The performance data reader: fetches a performance data block on every sample, keeps
// the previous one beside it and walks the current block counter by counter while a
// second set of cursors stands on the matching object, instance and counter of the
// previous block. Blocks come from outside and are never trusted: every offset and length
// is checked against the block before it is followed.
#pragma once
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ombrix {

class EStatisticsError : public std::runtime_error {
 public:
  explicit EStatisticsError(const std::string& message) : std::runtime_error(message) {}
};

class TPerformanceData;
class TDataBlock;
class TObjectType;
class TInstance;

// Positions are byte offsets into a block's buffer.
inline constexpr std::uint32_t kNoPosition = 0xFFFFFFFF;

class TCounter {
 public:
  explicit TCounter(TObjectType& owner) : owner_(owner) {}

  bool HasDefinition() const { return definition_ != kNoPosition; }
  bool HasData() const { return HasDefinition() && block_ != kNoPosition; }
  std::uint32_t CounterNameTitleIndex() const;
  std::string CounterName() const;
  std::uint32_t CounterType() const;
  std::int64_t RawValue() const;
  // The raw value of the matching counter of the previous block; 0 when there is none.
  std::int64_t PreviousRawValue() const;
  // Whether the previous block has a matching counter with data (an instance new in this
  // block has none, so a difference formed with it would span the instance's whole life).
  bool HasPrevious() const;
  // The displayable value from this sample and the previous one, by counter type.
  double CounterValue();
  bool Trace = false;

  // Cursor moves, used by the walk.
  void Set(std::uint32_t definition, std::uint32_t counterBlock);
  void Clear() { definition_ = block_ = kNoPosition; }
  std::uint32_t Definition() const { return definition_; }
  std::uint32_t CounterBlockPosition() const { return block_; }
  TObjectType& Owner() const { return owner_; }

 private:
  TObjectType& owner_;
  std::uint32_t definition_ = kNoPosition;
  std::uint32_t block_ = kNoPosition;
};

class TInstance {
 public:
  explicit TInstance(TObjectType& owner) : owner_(owner) {}

  bool HasDefinition() const { return definition_ != kNoPosition; }
  std::string Name() const;
  std::uint32_t ParentObjectTitleIndex() const;
  std::string ParentObjectName() const;
  std::uint32_t ParentObjectInstance() const;
  std::int32_t UniqueID() const;
  std::uint32_t NameLength() const;
  std::uint32_t NameOffset() const;
  std::uint32_t ByteLength() const;
  std::int32_t Tag = -1;

  // Stands on the instance at the position (checked), with its counter block after it.
  void Set(std::uint32_t definition);
  // Off any instance; the counter block position is kept.
  void Clear() { definition_ = kNoPosition; }
  std::uint32_t Definition() const { return definition_; }
  std::uint32_t CounterBlockPosition() const { return block_; }
  // Position just past this instance's counter block.
  std::uint32_t Next() const;
  TObjectType& Owner() const { return owner_; }

 private:
  TObjectType& owner_;
  std::uint32_t definition_ = kNoPosition;
  std::uint32_t block_ = kNoPosition;
};

class TObjectType {
 public:
  explicit TObjectType(TDataBlock& owner);

  bool HasObject() const { return object_ != kNoPosition; }
  std::uint32_t ObjectNameTitleIndex() const;
  std::string ObjectName() const;
  std::int32_t NumInstances() const;
  std::uint32_t NumCounters() const;
  std::int64_t PerfTime() const;
  std::int64_t PerfFreq() const;
  TInstance& Instance() { return instance_; }
  TCounter& Counter() { return counter_; }
  TCounter& BaseCounter() { return base_; }
  TCounter& IdCounter() { return id_; }
  TDataBlock& Owner() const { return owner_; }

  // Stands on the object at the position after checking it and all its definitions.
  void Set(std::uint32_t object);
  void Clear();
  std::uint32_t Position() const { return object_; }
  std::uint32_t FirstDefinition() const;
  std::uint32_t FirstInstance() const;  // also the single counter block without instances
  std::uint32_t End() const;            // position just past the object
  std::uint32_t Next() const { return End(); }

  // Matching against the previous block, by position (see the walk).
  void ResetCounterMatch();
  void MatchCounter(const TCounter& current);
  bool MatchInstance(const TInstance& current);

  // Large objects keep an index of their instances by name and id while they stand as the
  // previous block's object, so matching stays linear in the number of instances. Its
  // storage is kept from walk to walk.
  struct IndexEntry {
    std::uint64_t Key;
    std::uint32_t Position;
    bool operator<(const IndexEntry& o) const {
      return Key != o.Key ? Key < o.Key : Position < o.Position;
    }
  };

 private:
  friend class TCounter;
  friend class TInstance;
  TDataBlock& owner_;
  std::uint32_t object_ = kNoPosition;
  std::uint32_t counterIterator_ = kNoPosition;
  std::uint32_t countersLeft_ = 0;  // definitions from the iterator to the end
  std::vector<IndexEntry> index_;
  bool indexed_ = false;
  std::uint64_t InstanceKey(const TDataBlock& block, std::uint32_t instance,
                            std::uint32_t counterBlock) const;
  void BuildIndex();
  bool Matches(std::uint32_t at, const std::uint8_t* name, std::uint32_t nameLength,
               std::int64_t id);
  TInstance instance_;
  TCounter counter_;
  TCounter base_;
  TCounter id_;
};

class TDataBlock {
 public:
  TDataBlock(TPerformanceData& owner);
  TDataBlock(const TDataBlock&) = delete;
  TDataBlock& operator=(const TDataBlock&) = delete;

  bool Valid() const { return valid_; }
  double IntervalSeconds() const { return intervalSeconds_; }
  std::uint32_t LastResult() const { return lastResult_; }
  std::uint32_t BufferSize() const { return static_cast<std::uint32_t>(buffer_.size()); }
  const std::uint8_t* Data() const { return buffer_.data(); }
  std::uint32_t DataSize() const { return dataSize_; }
  TDataBlock& Other() const { return *other_; }
  TObjectType& ObjectCursor() { return object_; }
  TPerformanceData& Owner() const { return owner_; }

  // Header fields (the header is checked when the block is fetched).
  std::int64_t PerfTime() const;
  std::int64_t PerfFreq() const;
  std::int64_t PerfTime100nSec() const;
  std::uint32_t HeaderLength() const;
  std::uint32_t NumObjectTypes() const;
  std::string SystemName() const;

  // Checked access to the bytes of the block.
  void Require(std::uint64_t at, std::uint64_t length, const char* what) const;
  std::uint32_t U32(std::uint64_t at, const char* what) const;
  std::int64_t I64(std::uint64_t at, const char* what) const;

  // Fetches a new block into this one (see TPerformanceData::Sample).
  void Fetch(const std::string& queryText);
  // Asks the performance data key for a block, growing the buffer as it asks; the result code.
  static std::uint32_t Query(const std::string& queryText, std::vector<std::uint8_t>& buffer,
                             std::uint32_t& bytes);
  // Puts a block in place as if fetched: used by tests, tools and the fuzzer.
  void Load(const std::vector<std::uint8_t>& bytes);
  void Pair(TDataBlock& other) { other_ = &other; }

 private:
  friend class TPerformanceData;
  void Accept(std::uint32_t bytes);
  void Take(std::uint32_t rc, std::uint32_t bytes);

  TPerformanceData& owner_;
  TDataBlock* other_ = nullptr;
  TObjectType object_;
  bool valid_ = false;
  double intervalSeconds_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::uint32_t dataSize_ = 0;
  std::uint32_t lastResult_ = 0;
  // The previous block's object iterator during a walk.
  std::uint32_t objectIterator_ = kNoPosition;
  std::uint32_t objectsLeft_ = 0;
};

// Receives each counter of the walk; true stops the rest of the instance (or object).
using CounterVisitor = std::function<bool(TObjectType& object, TInstance* instance,
                                          bool lastCounter, TCounter& counter)>;

class TPerformanceData {
 public:
  explicit TPerformanceData(const std::string& machineName = {});
  TPerformanceData(const TPerformanceData&) = delete;
  TPerformanceData& operator=(const TPerformanceData&) = delete;

  // Fetches the next block ahead into the buffer the next Sample fills, touching nothing the
  // model reads between ticks: the tick calls it before it takes the model lock, so that
  // reading /proc never holds the lock. The next Sample takes that block (and raises its error)
  // instead of fetching one.
  void Prefetch();
  bool Sample();
  void ForEachCounter(const CounterVisitor& visitor);

  double IntervalSeconds() const { return current_->IntervalSeconds(); }
  std::int64_t PerfTime() const;
  std::int64_t PerfFreq() const;
  std::int64_t PerfTime100nSec() const;
  std::string SystemName() const;
  std::string NameOf(std::uint32_t index) const;
  std::uint64_t PhysicalMemoryBytes();
  std::uint64_t MemoryFootprint() const;

  const std::string& MachineName() const { return machineName_; }
  std::string QueryText;
  bool TraceRequest = false;
  std::uint32_t FetchedBytes() const { return fetchedBytes_; }
  std::int32_t SampleCount() const { return sampleCount_; }
  std::uint32_t LastError() const { return lastError_; }
  bool CounterNamesLoaded() const { return counterNamesLoaded_; }
  bool HelpTextsLoaded() const { return helpTextsLoaded_; }

  TDataBlock& Current() { return *current_; }
  TDataBlock& Previous() { return *previous_; }
  // Puts two blocks in place as if sampled, previous first (tests, tools, the fuzzer).
  void LoadBlocks(const std::vector<std::uint8_t>& previous,
                  const std::vector<std::uint8_t>& current);

 private:
  friend class TDataBlock;
  bool IsLocal() const;
  void LoadNameTables();
  void VisitCounters(TObjectType& object, TInstance* instance, std::uint32_t counterBlock,
                     const CounterVisitor& visitor);

  std::string machineName_;
  TDataBlock blockA_;
  TDataBlock blockB_;
  TDataBlock* current_;
  TDataBlock* previous_;
  std::vector<char> counterNames_;
  std::uint32_t counterNamesSize_ = 0;
  bool counterNamesLoaded_ = false;
  std::vector<char> helpTexts_;
  std::uint32_t helpTextsSize_ = 0;
  bool helpTextsLoaded_ = false;
  std::uint32_t fetchedBytes_ = 0;
  std::int32_t sampleCount_ = 0;
  std::uint32_t lastError_ = 0;
  bool staged_ = false;  // a block fetched ahead waits in the previous block's buffer
  std::uint32_t stagedBytes_ = 0;
  std::uint32_t stagedResult_ = 0;
};

inline double CounterValue(TCounter& counter) {
  return counter.CounterValue();
}
// The published name of a counter type, or "0x" and eight upper-case hex digits.
std::string CounterTypeName(std::uint32_t counterType);

// The process-status service as the process entity uses it: the first module of a process
// is its executable, whose file name the second call gives.
bool EnumProcessModules(std::uint32_t processId, std::uint32_t* firstModule);
std::uint32_t GetModuleFileNameExA(std::uint32_t processId, std::uint32_t module,
                                   std::string& fileName);

}  // namespace ombrix
