// Writes a PERF_DATA_BLOCK in the published layout: header, then objects, each with its
// counter definitions and either one counter block or instances with counter blocks.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/perfdata/PerfLayout.h"

namespace platform {

struct PerfBlockTimes {
  std::int64_t PerfTime = 0;
  std::int64_t PerfFreq = 0;
  std::int64_t PerfTime100nSec = 0;
  std::uint16_t SystemTime[8] = {};
};

class PerfBlockWriter {
 public:
  // Starts a new block in the writer's buffer, which is reused from block to block.
  void BeginBlock(const PerfBlockTimes& times, std::string_view systemName);

  // Counters are declared first, then either CounterBlock (an object without instances)
  // or one Instance per instance; each of those starts a zeroed counter block that
  // SetValue fills by definition ordinal.
  void BeginObject(std::uint32_t nameIndex);
  // Returns the ordinal of the definition; the size (4 or 8 bytes) follows the type.
  std::size_t AddCounter(std::uint32_t nameIndex, std::uint32_t type);
  void CounterBlock();
  void Instance(std::string_view utf8Name, std::uint32_t parentObjectIndex = 0,
                std::uint32_t parentObjectInstance = 0, std::int32_t uniqueId = PERF_NO_UNIQUE_ID);
  void SetValue(std::size_t ordinal, std::int64_t value);
  void EndObject();

  // Finishes the block and returns it; valid until the next BeginBlock.
  const std::vector<std::uint8_t>& EndBlock();

  // UTF-8 to UTF-16LE code units with the terminating zero; bytes that are not UTF-8
  // become U+FFFD.
  static void Utf16Of(std::string_view utf8, std::u16string& out);

 private:
  struct Def {
    std::uint32_t offset;  // of the value inside the counter block
    std::uint32_t size;
  };
  std::size_t Reserve(std::size_t bytes);  // appends zeroed bytes, returns their offset
  void BeginCounterBlock();
  void CloseDefinitions();  // fixes DefinitionLength and NumCounters
  template <typename T>
  void Put(std::size_t at, T value);

  std::vector<std::uint8_t> buf_;
  std::vector<Def> defs_;
  std::u16string name_;
  std::size_t object_ = 0;
  std::size_t counterBlock_ = 0;
  std::uint32_t counterBlockLength_ = 8;
  std::int32_t instances_ = PERF_NO_INSTANCES;
  std::uint32_t objects_ = 0;
  bool hasCounterBlock_ = false;
  bool definitionsClosed_ = false;
  PerfBlockTimes times_;
};

}  // namespace platform
