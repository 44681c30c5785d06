#include "monitor/diagnostics/PerfDataDump.h"

#include <cinttypes>
#include <cstddef>
#include <cstdio>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/PerfLayout.h"

namespace ombrix {

namespace {

using platform::PERF_DATA_BLOCK;
using platform::PERF_OBJECT_TYPE;

constexpr const char* kEol = "\r\n";

std::string U16Field(const TDataBlock& b, std::size_t at) {
  std::string s;
  for (std::size_t i = 0; i < 4; ++i) {
    b.Require(at + 2 * i, 2, "block header");
    const std::uint8_t* p = b.Data() + at + 2 * i;
    const unsigned c = p[0] | (p[1] << 8);
    s += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return s;
}

std::string Two(unsigned v) {
  char t[8];
  std::snprintf(t, sizeof t, "%02u", v % 100);
  return t;
}

std::string Hex8(std::uint64_t v) {
  char t[24];
  std::snprintf(t, sizeof t, "%08" PRIX64, v);
  return t;
}

std::string Header(TDataBlock& b) {
  const auto u32 = [&](std::size_t at) { return std::to_string(b.U32(at, "block header")); };
  const auto i64 = [&](std::size_t at) { return std::to_string(b.I64(at, "block header")); };
  const auto time = [&](int i) {
    const std::size_t at = offsetof(PERF_DATA_BLOCK, SystemTime) + 2 * static_cast<std::size_t>(i);
    b.Require(at, 2, "block header");
    return static_cast<unsigned>(b.Data()[at] | (b.Data()[at + 1] << 8));
  };
  std::string t = "PerfDataBlock @ 0x" + Hex8(reinterpret_cast<std::uintptr_t>(b.Data()));
  t += kEol + std::string("  Signature: ") + U16Field(b, 0);
  t += kEol + std::string("  LittleEndian: ") + u32(offsetof(PERF_DATA_BLOCK, LittleEndian));
  t += kEol + std::string("  Version: ") + u32(offsetof(PERF_DATA_BLOCK, Version));
  t += kEol + std::string("  Revision: ") + u32(offsetof(PERF_DATA_BLOCK, Revision));
  t += kEol + std::string("  TotalByteLength: ") + u32(offsetof(PERF_DATA_BLOCK, TotalByteLength));
  t += kEol + std::string("  HeaderLength: ") + u32(offsetof(PERF_DATA_BLOCK, HeaderLength));
  t += kEol + std::string("  DefaultObject: ") +
       std::to_string(static_cast<std::int32_t>(
           b.U32(offsetof(PERF_DATA_BLOCK, DefaultObject), "block header")));
  t += kEol + std::string("  SystemTime: ") + Two(time(1)) + "/" + Two(time(3)) + "/" +
       std::to_string(time(0)) + " @ " + Two(time(4)) + ":" + Two(time(5)) + ":" + Two(time(6));
  t += kEol + std::string("  PerfTime: ") + i64(offsetof(PERF_DATA_BLOCK, PerfTime));
  t += kEol + std::string("  PerfFreq: ") + i64(offsetof(PERF_DATA_BLOCK, PerfFreq));
  t += kEol + std::string("  PerfTime100nSec: ") + i64(offsetof(PERF_DATA_BLOCK, PerfTime100nSec));
  t += kEol + std::string("  SystemName: \"") + b.SystemName() + "\"";
  t += kEol + std::string("  NumObjectTypes: ") + u32(offsetof(PERF_DATA_BLOCK, NumObjectTypes));
  return t;
}

std::string ObjectLines(TObjectType& o) {
  const TDataBlock& b = o.Owner();
  const auto u32 = [&](std::size_t field) { return b.U32(o.Position() + field, "object"); };
  std::string t =
      "Object \"" + o.ObjectName() + "\" (" + std::to_string(o.ObjectNameTitleIndex()) + "):";
  t += kEol + std::string("  TotalByteLength: ") +
       std::to_string(u32(offsetof(PERF_OBJECT_TYPE, TotalByteLength)));
  t += kEol + std::string("  DefinitionLength: ") +
       std::to_string(u32(offsetof(PERF_OBJECT_TYPE, DefinitionLength)));
  t += kEol + std::string("  HeaderLength: ") +
       std::to_string(u32(offsetof(PERF_OBJECT_TYPE, HeaderLength)));
  const std::uint32_t level = u32(offsetof(PERF_OBJECT_TYPE, DetailLevel));
  const char* levels[] = {"NOVICE", "ADVANCED", "EXPERT", "WIZARD"};
  t += kEol + std::string("  DetailLevel: ") +
       (level % 100 == 0 && level >= 100 && level <= 400 ? levels[level / 100 - 1]
                                                         : std::to_string(level));
  t += kEol + std::string("  DefaultCounter: ") +
       std::to_string(static_cast<std::int32_t>(u32(offsetof(PERF_OBJECT_TYPE, DefaultCounter))));
  t += kEol + std::string("  CodePage: ") +
       std::to_string(u32(offsetof(PERF_OBJECT_TYPE, CodePage)));
  t += kEol + std::string("  PerfTime: ") + std::to_string(o.PerfTime());
  t += kEol + std::string("  PerfFreq: ") + std::to_string(o.PerfFreq());
  t += kEol + std::string("  NumCounters: ") + std::to_string(o.NumCounters());
  t += kEol + std::string("  NumInstances: ") +
       (o.NumInstances() == platform::PERF_NO_INSTANCES ? std::string("PERF_NO_INSTANCES")
                                                        : std::to_string(o.NumInstances()));
  return t;
}

std::string InstanceLines(TInstance& i) {
  const TDataBlock& b = i.Owner().Owner();
  const std::uint32_t blockLength = b.U32(i.CounterBlockPosition(), "counter block");
  std::string t = "  Instance \"" + i.Name() + "\":";
  t += kEol + std::string("    TotalLength: ") +
       std::to_string(std::uint64_t{i.ByteLength()} + blockLength);
  t += kEol + std::string("    ByteLength: ") + std::to_string(i.ByteLength());
  t += kEol + std::string("    ParentObjectName: \"") + i.ParentObjectName() + "\"";
  t += kEol + std::string("    ParentObjectInstance: ") + std::to_string(i.ParentObjectInstance());
  t += kEol + std::string("    UniquieID: ") +
       (i.UniqueID() == platform::PERF_NO_UNIQUE_ID
            ? std::string("PERF_NO_UNIQUE_ID")
            : "0x" + Hex8(static_cast<std::uint32_t>(i.UniqueID())));
  t += kEol + std::string("    NameLength: ") + std::to_string(i.NameLength());
  t += kEol + std::string("    NameOffset: ") + std::to_string(i.NameOffset());
  return t;
}

void CounterLines(TObjectType& o, std::uint32_t counterBlock,
                  const std::function<void(const std::string&)>& writeLine) {
  TCounter& c = o.Counter();
  std::uint32_t def = o.FirstDefinition();
  for (std::uint32_t n = o.NumCounters(); n > 0; --n) {
    c.Set(def, counterBlock);
    writeLine("  > \"" + c.CounterName() + "\" (" + CounterTypeName(c.CounterType()) +
              ") = " + std::to_string(c.RawValue()));
    def += o.Owner().U32(def, "counter definition");
  }
  c.Clear();
}

}  // namespace

void DumpPerformanceData(TDataBlock& block,
                         const std::function<void(const std::string&)>& writeLine) {
  if (!block.Valid()) return;
  writeLine("**** PerformanceData Trace ****");
  writeLine(Header(block));
  TObjectType object(block);  // a cursor of its own: the walk's cursors stay where they are
  std::uint32_t at = block.HeaderLength();
  for (std::uint32_t n = block.NumObjectTypes(); n > 0; --n) {
    object.Set(at);
    at = object.Next();
    if (object.ObjectNameTitleIndex() == 232) continue;  // threads would swamp the file
    writeLine(ObjectLines(object));
    if (object.NumInstances() == platform::PERF_NO_INSTANCES) {
      CounterLines(object, object.FirstInstance(), writeLine);
      continue;
    }
    TInstance& instance = object.Instance();
    std::uint32_t inst = object.FirstInstance();
    for (std::int32_t i = object.NumInstances(); i > 0; --i) {
      instance.Set(inst);
      writeLine(InstanceLines(instance));
      CounterLines(object, instance.CounterBlockPosition(), writeLine);
      inst = instance.Next();
    }
  }
  writeLine("**** end PerformanceData Trace ****");
}

void DumpPerformanceData(TDataBlock& block) {
  if (!block.Valid()) return;
  if (!TraceFile.IsOpen()) TraceFile.Rewrite();
  DumpPerformanceData(block, [](const std::string& text) { TraceFile.WriteLine(text); });
}

}  // namespace ombrix
