// The performance data dump: header, objects, instances and counter lines.
#include <gtest/gtest.h>

#include "monitor/diagnostics/PerfDataDump.h"
#include "monitor/diagnostics/TextFile.h"
#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/PerfLayout.h"
#include "tests/monitor/perfdata/PerfTestBlocks.h"
#include "tests/support/PerfBlockSource.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;
using namespace platform;

std::vector<std::uint8_t> DumpBlock() {
  PerfBlockSpec b;
  b.PerfTime = 42;
  b.PerfTime100nSec = 43;
  b.SystemName = "vm";
  PerfObjectSpec system;
  system.Index = kObjProcessor;
  system.Counters = {{kProcessorTime, RAW}};
  system.Values = {17};
  system.DetailLevel = 250;
  PerfObjectSpec thread;
  thread.Index = kObjThread;
  thread.Counters = {{kIdThread, RAW}};
  thread.HasInstances = true;
  thread.Instances = {{"t/1", {1}}};
  PerfObjectSpec process = ProcessObject({Proc("init", 5, 9, 1)});
  process.Instances[0].UniqueID = 5;
  process.Instances[0].ParentObjectTitleIndex = kObjProcessor;
  process.DetailLevel = 200;
  b.Objects = {system, thread, process};
  return BuildPerfBlock(b);
}

std::string DumpText() {
  FakePerfSource source;
  TPerformanceData reader;
  const auto block = DumpBlock();
  reader.LoadBlocks(block, block);
  std::string text;
  DumpPerformanceData(reader.Current(), [&](const std::string& s) { text += s + "\r\n"; });
  return text;
}

TEST(PerfDataDump, HeaderLines) {
  const std::string t = DumpText();
  EXPECT_EQ(t.find("**** PerformanceData Trace ****\r\nPerfDataBlock @ 0x"), 0u);
  for (const char* line :
       {"\r\n  Signature: PERF\r\n  LittleEndian: 1\r\n  Version: 1\r\n  Revision: 1\r\n",
        "\r\n  DefaultObject: 238\r\n  SystemTime: 03/09/2024 @ 07:05:03\r\n  PerfTime: 42\r\n"
        "  PerfFreq: 1000000000\r\n  PerfTime100nSec: 43\r\n  SystemName: \"vm\"\r\n"
        "  NumObjectTypes: 3\r\n"})
    EXPECT_NE(t.find(line), std::string::npos) << line;
  EXPECT_TRUE(t.ends_with("**** end PerformanceData Trace ****\r\n"));
}

TEST(PerfDataDump, ObjectsInstancesAndCountersWithoutThreads) {
  const std::string t = DumpText();
  EXPECT_NE(t.find("Object \"Processor\" (238):\r\n  TotalByteLength: "), std::string::npos);
  EXPECT_NE(t.find("  DetailLevel: 250\r\n"), std::string::npos);
  EXPECT_NE(t.find("  DetailLevel: ADVANCED\r\n"), std::string::npos);
  EXPECT_NE(t.find("  NumInstances: PERF_NO_INSTANCES\r\n  > \"% Processor Time\" "
                   "(PERF_COUNTER_RAWCOUNT) = 17\r\n"),
            std::string::npos);
  EXPECT_EQ(t.find("(232)"), std::string::npos);  // the Thread object is left out
  EXPECT_NE(t.find("Object \"\" (230):"), std::string::npos);
  EXPECT_NE(t.find("  Instance \"init\":\r\n    TotalLength: 72\r\n    ByteLength: 40\r\n"
                   "    ParentObjectName: \"Processor\"\r\n    ParentObjectInstance: 0\r\n"
                   "    UniquieID: 0x00000005\r\n    NameLength: 10\r\n    NameOffset: 24\r\n"
                   "  > \"% Processor Time\" (PERF_PRECISION_100NS_TIMER) = 5\r\n"
                   "  > \"% Processor Time\" (PERF_PRECISION_TIMESTAMP) = 9\r\n"
                   "  > \"\" (PERF_COUNTER_RAWCOUNT) = 1\r\n"),
            std::string::npos)
      << t;
}

TEST(PerfDataDump, TraceFileIsEmptiedByTheFirstDumpOnly) {
  TempDir dir;
  TraceFile.Close();
  dir.Write("trace.txt", "old contents\r\n");
  TraceFile.SetFileName(dir.File("trace.txt"));
  FakePerfSource source;
  TPerformanceData reader;
  const auto block = DumpBlock();
  reader.LoadBlocks(block, block);
  DumpPerformanceData(reader.Current());
  DumpPerformanceData(reader.Current());
  TraceFile.Close();
  const std::string text = dir.Read("trace.txt");
  EXPECT_EQ(text.find("old contents"), std::string::npos);
  EXPECT_EQ(text.size(), 2 * DumpText().size());
}

TEST(PerfDataDump, InvalidBlockWritesNothing) {
  FakePerfSource source;
  TPerformanceData reader;
  int lines = 0;
  DumpPerformanceData(reader.Current(), [&](const std::string&) { ++lines; });
  EXPECT_EQ(lines, 0);
}

}  // namespace
}  // namespace ombrix
