#include "tools/perfdata/BlockFiles.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/PerfBlockWriter.h"

namespace ombrix::tools {

std::vector<std::uint8_t> ReadBlockFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBlockFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {

void CopyCounters(TObjectType& object, std::uint32_t counterBlock,
                  platform::PerfBlockWriter& writer) {
  TCounter& c = object.Counter();
  std::uint32_t def = object.FirstDefinition();
  for (std::uint32_t k = 0; k < object.NumCounters(); ++k) {
    c.Set(def, counterBlock);
    writer.SetValue(k, c.RawValue());
    def += object.Owner().U32(def, "counter definition");
  }
  c.Clear();
}

}  // namespace

std::vector<std::uint8_t> TrimBlock(const std::vector<std::uint8_t>& bytes,
                                    std::int32_t maxProcesses) {
  TPerformanceData reader;
  reader.LoadBlocks(bytes, bytes);
  TDataBlock& block = reader.Current();
  platform::PerfBlockTimes times;
  times.PerfTime = block.PerfTime();
  times.PerfFreq = block.PerfFreq();
  times.PerfTime100nSec = block.PerfTime100nSec();
  std::memcpy(times.SystemTime, block.Data() + offsetof(platform::PERF_DATA_BLOCK, SystemTime),
              sizeof times.SystemTime);
  platform::PerfBlockWriter writer;
  writer.BeginBlock(times, block.SystemName());
  TObjectType object(block);
  std::uint32_t at = block.HeaderLength();
  for (std::uint32_t n = block.NumObjectTypes(); n > 0; --n) {
    object.Set(at);
    at = object.Next();
    writer.BeginObject(object.ObjectNameTitleIndex());
    std::uint32_t def = object.FirstDefinition();
    for (std::uint32_t k = 0; k < object.NumCounters(); ++k) {
      object.Counter().Set(def, kNoPosition);
      writer.AddCounter(object.Counter().CounterNameTitleIndex(), object.Counter().CounterType());
      def += block.U32(def, "counter definition");
    }
    if (object.NumInstances() == platform::PERF_NO_INSTANCES) {
      writer.CounterBlock();
      CopyCounters(object, object.FirstInstance(), writer);
    } else {
      TInstance& inst = object.Instance();
      std::uint32_t ip = object.FirstInstance();
      for (std::int32_t i = 0; i < object.NumInstances(); ++i, ip = inst.Next()) {
        inst.Set(ip);
        const std::uint32_t index = object.ObjectNameTitleIndex();
        if (index == 230 && i >= maxProcesses) continue;
        if (index == 232 && static_cast<std::int64_t>(inst.ParentObjectInstance()) >= maxProcesses)
          continue;
        writer.Instance(inst.Name(), inst.ParentObjectTitleIndex(), inst.ParentObjectInstance(),
                        inst.UniqueID());
        CopyCounters(object, inst.CounterBlockPosition(), writer);
      }
    }
    writer.EndObject();
  }
  return writer.EndBlock();
}

}  // namespace ombrix::tools
