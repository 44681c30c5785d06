// Counter values by type: every row of the table with its formula and its guards, the
// drop rule, the trace line and the type names.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

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

struct Inputs {
  std::int64_t X0 = 100, X1 = 300;
  std::int64_t B0 = 1000, B1 = 1500;
  std::int64_t T0 = 1'000'000'000, T1 = 3'000'000'000, F = 1'000'000'000;
  std::int64_t N0 = 10'000'000, N1 = 30'000'000;
  std::int64_t O0 = 10, O1 = 50, OF = 0;
};

PerfBlockSpec OneCounter(std::uint32_t type, std::int64_t x, std::int64_t base, std::int64_t t,
                         std::int64_t f, std::int64_t n, std::int64_t o, std::int64_t of) {
  PerfBlockSpec b;
  b.PerfTime = t;
  b.PerfFreq = f;
  b.PerfTime100nSec = n;
  PerfObjectSpec obj;
  obj.Index = 900;
  obj.Counters = {{10, type}, {10, PTS}};
  obj.Values = {x, base};
  obj.PerfTime = o;
  obj.PerfFreq = of;
  b.Objects = {obj};
  return b;
}

// The value of the object's first counter computed from two blocks.
double ValueOf(std::uint32_t type, const Inputs& in, bool trace = false) {
  FakePerfSource source;
  TPerformanceData reader;
  reader.LoadBlocks(
      BuildPerfBlock(OneCounter(type, in.X0, in.B0, in.T0, in.F, in.N0, in.O0, in.OF)),
      BuildPerfBlock(OneCounter(type, in.X1, in.B1, in.T1, in.F, in.N1, in.O1, in.OF)));
  double value = -1;
  reader.ForEachCounter([&](TObjectType&, TInstance*, bool, TCounter& c) {
    c.Trace = trace;
    value = c.CounterValue();
    c.Trace = false;
    return true;
  });
  return value;
}

struct Row {
  std::uint32_t Type;
  double Expected;
};

TEST(CounterValue, EveryTypeOfTheTableWithDefaultInputs) {
  // D = 200 over 2 s of PerfTime and of 100-ns time; base 1000 -> 1500; object time 10 -> 50.
  const Row rows[] = {
      {PERF_COUNTER_RAWCOUNT_HEX, 300},
      {PERF_COUNTER_LARGE_RAWCOUNT_HEX, 300},
      {PERF_COUNTER_RAWCOUNT, 300},
      {PERF_COUNTER_LARGE_RAWCOUNT, 300},
      {PERF_COUNTER_DELTA, 200},
      {PERF_COUNTER_LARGE_DELTA, 200},
      {PERF_COUNTER_QUEUELEN_TYPE, 200.0 / 2e9},
      {PERF_COUNTER_LARGE_QUEUELEN_TYPE, 200.0 / 2e9},
      {PERF_COUNTER_100NS_QUEUELEN_TYPE, 200.0 / 2e7},
      {PERF_COUNTER_OBJ_TIME_QUEUELEN_TYPE, 200.0 / 40},
      {PERF_COUNTER_COUNTER, 100},
      {PERF_COUNTER_BULK_COUNT, 100},
      {PERF_COUNTER_TIMER, 20000.0 / 2e9},
      {PERF_COUNTER_TIMER_INV, (1 - 200.0 / 2e9) * 100},
      {PERF_100NSEC_TIMER, 20000.0 / 2e7},
      {PERF_100NSEC_TIMER_INV, (1 - 200.0 / 2e7) * 100},
      {PERF_OBJ_TIME_TIMER, 200.0 / 2e9},
      {PERF_COUNTER_MULTI_TIMER, 100.0 * 100 / 1500},
      {PERF_COUNTER_MULTI_TIMER_INV, (1500 - 100.0) * 100 / 1500},
      {PERF_100NSEC_MULTI_TIMER, (200.0 / 2e7) * 100 / 1500},
      {PERF_100NSEC_MULTI_TIMER_INV, (1500 - 200.0 / 2e7) * 100 / 1500},
      {PERF_AVERAGE_TIMER, (200.0 / 1e9) / 500},
      {PERF_AVERAGE_BULK, 200.0 / 500},
      {PERF_RAW_FRACTION, 300.0 * 100 / 1500},
      {PERF_LARGE_RAW_FRACTION, 300.0 * 100 / 1500},
      {PERF_SAMPLE_FRACTION, 200.0 * 100 / 500},
      {PERF_SAMPLE_COUNTER, 200.0 / 500},
      {PERF_PRECISION_SYSTEM_TIMER, 200.0 * 100 / 500},
      {PERF_PRECISION_100NS_TIMER, 200.0 * 100 / 500},
      {PERF_PRECISION_OBJECT_TIMER, 200.0 * 1e9 / 500},
      {PERF_COUNTER_TEXT, 0},            // text
      {PERF_COUNTER_NODATA, 0},          // no data
      {PERF_COUNTER_HISTOGRAM_TYPE, 0},  // histogram
  };
  for (const Row& r : rows)
    EXPECT_DOUBLE_EQ(ValueOf(r.Type, {}), r.Expected) << CounterTypeName(r.Type);
}

TEST(CounterValue, ElapsedTimeFromTheObjectClock) {
  Inputs in;
  in.O1 = 10'000'000;
  in.X0 = 1'000'000;
  in.X1 = 4'000'000;
  in.OF = 1'000'000;
  EXPECT_DOUBLE_EQ(ValueOf(PERF_ELAPSED_TIME, in), 6.0);
  in.OF = 0;
  EXPECT_EQ(ValueOf(PERF_ELAPSED_TIME, in), 0.0);
}

TEST(CounterValue, AFallingRawValueGivesZeroForEveryType) {
  Inputs in;
  in.X0 = 5;
  in.X1 = 3;
  EXPECT_EQ(ValueOf(PERF_COUNTER_RAWCOUNT, in), 0.0);
  EXPECT_EQ(ValueOf(PERF_RAW_FRACTION, in), 0.0);
  in.X0 = 3;
  in.X1 = 5;
  EXPECT_EQ(ValueOf(PERF_COUNTER_RAWCOUNT, in), 5.0);
}

TEST(CounterValue, HundredNanosecondInverseTimerBounds) {
  Inputs in;
  in.X0 = 0;
  in.X1 = in.N1 - in.N0;  // busy the whole time: fully idle inverse
  EXPECT_DOUBLE_EQ(ValueOf(PERF_100NSEC_TIMER_INV, in), 0.0);
  in.X1 = 0;
  EXPECT_DOUBLE_EQ(ValueOf(PERF_100NSEC_TIMER_INV, in), 100.0);
}

TEST(CounterValue, GuardsGiveZero) {
  Inputs sameN;
  sameN.N1 = sameN.N0;
  for (std::uint32_t t :
       {PERF_COUNTER_100NS_QUEUELEN_TYPE, PERF_100NSEC_TIMER, PERF_100NSEC_TIMER_INV,
        PERF_100NSEC_MULTI_TIMER, PERF_100NSEC_MULTI_TIMER_INV})
    EXPECT_EQ(ValueOf(t, sameN), 0.0) << CounterTypeName(t);
  Inputs sameT;
  sameT.T1 = sameT.T0;
  for (std::uint32_t t :
       {PERF_COUNTER_QUEUELEN_TYPE, PERF_COUNTER_LARGE_QUEUELEN_TYPE, PERF_COUNTER_BULK_COUNT,
        PERF_COUNTER_TIMER, PERF_COUNTER_TIMER_INV, PERF_OBJ_TIME_TIMER, PERF_COUNTER_MULTI_TIMER,
        PERF_COUNTER_MULTI_TIMER_INV})
    EXPECT_EQ(ValueOf(t, sameT), 0.0) << CounterTypeName(t);
  Inputs noFreq;
  noFreq.F = 0;
  for (std::uint32_t t : {PERF_COUNTER_COUNTER, PERF_COUNTER_MULTI_TIMER,
                          PERF_COUNTER_MULTI_TIMER_INV, PERF_AVERAGE_TIMER})
    EXPECT_EQ(ValueOf(t, noFreq), 0.0) << CounterTypeName(t);
  Inputs zeroBase;
  zeroBase.B0 = 0;
  zeroBase.B1 = 0;
  for (std::uint32_t t :
       {PERF_COUNTER_MULTI_TIMER, PERF_COUNTER_MULTI_TIMER_INV, PERF_100NSEC_MULTI_TIMER,
        PERF_100NSEC_MULTI_TIMER_INV, PERF_RAW_FRACTION})
    EXPECT_EQ(ValueOf(t, zeroBase), 0.0) << CounterTypeName(t);
  Inputs fallingBase;
  fallingBase.B1 = 900;
  Inputs sameBase;
  sameBase.B1 = sameBase.B0;  // no base difference: 0 rather than a division by zero
  for (std::uint32_t t :
       {PERF_AVERAGE_TIMER, PERF_AVERAGE_BULK, PERF_SAMPLE_FRACTION, PERF_SAMPLE_COUNTER,
        PERF_PRECISION_SYSTEM_TIMER, PERF_PRECISION_100NS_TIMER, PERF_PRECISION_OBJECT_TIMER}) {
    EXPECT_EQ(ValueOf(t, fallingBase), 0.0) << CounterTypeName(t);
    EXPECT_EQ(ValueOf(t, sameBase), 0.0) << CounterTypeName(t);
  }
  Inputs sameO;
  sameO.O1 = sameO.O0;
  EXPECT_EQ(ValueOf(PERF_COUNTER_OBJ_TIME_QUEUELEN_TYPE, sameO), 0.0);
}

TEST(CounterValue, RawFractionIgnoresThePreviousSample) {
  Inputs in;
  in.X0 = 1;
  in.X1 = 1;
  in.B0 = 1'000'000;
  in.B1 = 4;
  EXPECT_DOUBLE_EQ(ValueOf(PERF_RAW_FRACTION, in), 25.0);
}

TEST(CounterValue, ProductsThatOverflowRaiseInsteadOfWrapping) {
  Inputs in;
  in.X0 = 0;
  in.X1 = INT64_MAX / 10;
  EXPECT_THROW(ValueOf(PERF_PRECISION_100NS_TIMER, in), std::exception);
}

class CounterTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceFile.Close();
    TraceFile.SetFileName(dir.File("trace.txt"));
  }
  void TearDown() override { TraceFile.Close(); }
  std::string Lines() {
    TraceFile.Close();
    return FileExists() ? dir.Read("trace.txt") : std::string("<none>");
  }
  bool FileExists() { return std::ifstream(dir.File("trace.txt")).good(); }
  TempDir dir;
};

TEST_F(CounterTrace, LineHoldsPrefixValueAndTheInputsInTheOrderRead) {
  EXPECT_DOUBLE_EQ(ValueOf(PERF_COUNTER_BULK_COUNT, {}, true), 100.0);
  const std::string text = Lines();
  EXPECT_TRUE(std::regex_search(text, std::regex(",\"PERF_COUNTER_BULK_COUNT\",\"100\",\"300\","
                                                 "\"100\",\"200\",\"1000000000\",\"3000000000\","
                                                 "\"1000000000\",\"2000000000\"\r\n$")))
      << text;
  EXPECT_TRUE(std::regex_search(text, std::regex("^\"\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\",\"")))
      << text;
}

TEST_F(CounterTrace, FailedGuardStillWritesTheFieldsReadSoFar) {
  Inputs in;
  in.F = 0;
  EXPECT_EQ(ValueOf(PERF_COUNTER_MULTI_TIMER, in, true), 0.0);
  EXPECT_TRUE(std::regex_search(Lines(), std::regex(",\"PERF_COUNTER_MULTI_TIMER\",\"0\",\"300\","
                                                    "\"100\",\"200\",\"0\"\r\n$")));
}

TEST_F(CounterTrace, BaseFieldsAndElapsedTimeWithoutObjectTimes) {
  ValueOf(PERF_PRECISION_100NS_TIMER, {}, true);
  Inputs in;
  in.O1 = 10'000'000;
  in.X1 = 4'000'000;
  in.OF = 1'000'000;
  ValueOf(PERF_ELAPSED_TIME, in, true);
  const std::string text = Lines();
  EXPECT_TRUE(std::regex_search(text, std::regex(",\"PERF_PRECISION_100NS_TIMER\",\"40\",\"300\","
                                                 "\"100\",\"200\",\"1500\",\"1000\",\"500\"\r\n")))
      << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(",\"PERF_ELAPSED_TIME\",\"6\",\"4000000\","
                                                 "\"100\",\"3999900\"\r\n$")))
      << text;
}

TEST_F(CounterTrace, NoLineWhenTheValueIsCutShort) {
  Inputs in;
  in.X0 = 5;
  in.X1 = 3;
  ValueOf(PERF_COUNTER_BULK_COUNT, in, true);
  FakePerfSource source;
  TPerformanceData reader;
  reader.LoadBlocks(BuildPerfBlock(OneCounter(PERF_COUNTER_BULK_COUNT, 1, 1, 1, 1, 1, 1, 1)),
                    BuildPerfBlock(OneCounter(PERF_COUNTER_BULK_COUNT, 2, 1, 2, 1, 1, 1, 1)));
  reader.ForEachCounter([&](TObjectType& o, TInstance*, bool, TCounter& c) {
    TCounter noBlock(o);
    noBlock.Set(c.Definition(), kNoPosition);
    noBlock.Trace = true;
    EXPECT_EQ(noBlock.CounterValue(), 0.0);
    return true;
  });
  EXPECT_FALSE(FileExists());
}

TEST(CounterTypeName, NamedAndUnnamedCodes) {
  EXPECT_EQ(CounterTypeName(PERF_COUNTER_RAWCOUNT), "PERF_COUNTER_RAWCOUNT");
  EXPECT_EQ(CounterTypeName(PERF_PRECISION_TIMESTAMP), "PERF_PRECISION_TIMESTAMP");
  EXPECT_EQ(CounterTypeName(PERF_PRECISION_100NS_TIMER), "PERF_PRECISION_100NS_TIMER");
  EXPECT_EQ(CounterTypeName(PERF_COUNTER_MULTI_BASE), "PERF_COUNTER_MULTI_BASE");
  EXPECT_EQ(CounterTypeName(PERF_COUNTER_TEXT), "PERF_COUNTER_TEXT");
  EXPECT_EQ(CounterTypeName(0x0000000B), "0x0000000B");
  EXPECT_EQ(CounterTypeName(0x80000000), "0x80000000");
  EXPECT_EQ(CounterTypeName(0xABCDEF01), "0xABCDEF01");
}

}  // namespace
}  // namespace ombrix
