// Counter values by counter type, with the guards that decide when a value can be formed.
#include <cinttypes>
#include <cstdio>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/perfdata/Statistics.h"
#include "platform/checked/Checked.h"
#include "platform/perfdata/PerfLayout.h"

namespace ombrix {

namespace {

using namespace platform;

// Collects the inputs of one computation for the counter's trace line.
class TraceLine {
 public:
  TraceLine(TCounter& counter) : counter_(counter), on_(counter.Trace) {}

  void Add(std::int64_t v) {
    if (!on_) return;
    if (prefix_.empty()) {
      if (!TraceFile.IsOpen()) TraceFile.Rewrite();
      prefix_ = Quote(TimeStampText()) + "," + Quote(counter_.CounterName()) + "," +
                Quote(CounterTypeName(counter_.CounterType()));
    }
    fields_ += ",";
    fields_ += Quote(std::to_string(v));
  }
  void Add3(std::int64_t now, std::int64_t before) {
    Add(now);
    Add(before);
    Add(CheckedSub(now, before));
  }
  void Write(double value) {
    if (!on_ || prefix_.empty()) return;
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    TraceFile.WriteLine(prefix_ + "," + Quote(text) + fields_);
  }

 private:
  static std::string Quote(const std::string& s) { return "\"" + s + "\""; }
  TCounter& counter_;
  bool on_;
  std::string prefix_;
  std::string fields_;
};

// Types whose value uses the previous sample (a difference of raw values, times or bases).
bool NeedsPrevious(std::uint32_t type) {
  switch (type) {
    case PERF_COUNTER_RAWCOUNT_HEX:
    case PERF_COUNTER_LARGE_RAWCOUNT_HEX:
    case PERF_COUNTER_RAWCOUNT:
    case PERF_COUNTER_LARGE_RAWCOUNT:
    case PERF_RAW_FRACTION:
    case PERF_LARGE_RAW_FRACTION:
    case PERF_ELAPSED_TIME:
      return false;
    default:
      return true;
  }
}

struct Inputs {
  std::int64_t X1, D;
  std::int64_t T1, T0, F, N1, N0, O1, O0, OF, B1, B0;
};

double Ratio(std::int64_t a, std::int64_t b) {
  return static_cast<double>(a) / static_cast<double>(b);
}

// The table of types; `t` records each input as the guards read it.
double Compute(std::uint32_t type, const Inputs& in, TraceLine& t) {
  const auto timeGuard = [&] { return t.Add3(in.T1, in.T0), in.T1 > in.T0; };
  const auto nsGuard = [&] { return t.Add3(in.N1, in.N0), in.N1 > in.N0; };
  const auto objGuard = [&] { return t.Add3(in.O1, in.O0), in.O1 > in.O0; };
  const auto freqGuard = [&] { return t.Add(in.F), in.F > 0; };
  const auto baseAbove0 = [&] { return t.Add3(in.B1, in.B0), in.B1 > 0; };
  // A zero base difference gives 0 rather than a division by zero.
  const auto baseGrew = [&] { return t.Add3(in.B1, in.B0), in.B1 > in.B0; };
  const std::int64_t D = in.D;
  switch (type) {
    case PERF_COUNTER_RAWCOUNT_HEX:
    case PERF_COUNTER_LARGE_RAWCOUNT_HEX:
    case PERF_COUNTER_RAWCOUNT:
    case PERF_COUNTER_LARGE_RAWCOUNT:
      return static_cast<double>(in.X1);
    case PERF_COUNTER_DELTA:
    case PERF_COUNTER_LARGE_DELTA:
      return static_cast<double>(D);
    case PERF_COUNTER_QUEUELEN_TYPE:
    case PERF_COUNTER_LARGE_QUEUELEN_TYPE:
      return timeGuard() ? Ratio(D, CheckedSub(in.T1, in.T0)) : 0;
    case PERF_COUNTER_100NS_QUEUELEN_TYPE:
      return nsGuard() ? Ratio(D, CheckedSub(in.N1, in.N0)) : 0;
    case PERF_COUNTER_OBJ_TIME_QUEUELEN_TYPE:
      return objGuard() ? Ratio(D, CheckedSub(in.O1, in.O0)) : 0;
    case PERF_COUNTER_COUNTER:
    case PERF_COUNTER_BULK_COUNT:
      if (!freqGuard() || !timeGuard()) return 0;
      return static_cast<double>(D) / Ratio(CheckedSub(in.T1, in.T0), in.F);
    case PERF_COUNTER_TIMER:
      return timeGuard() ? Ratio(CheckedMul<std::int64_t>(D, 100), CheckedSub(in.T1, in.T0)) : 0;
    case PERF_COUNTER_TIMER_INV:
      return timeGuard() ? (1 - Ratio(D, CheckedSub(in.T1, in.T0))) * 100 : 0;
    case PERF_100NSEC_TIMER:
      return nsGuard() ? Ratio(CheckedMul<std::int64_t>(D, 100), CheckedSub(in.N1, in.N0)) : 0;
    case PERF_100NSEC_TIMER_INV:
      return nsGuard() ? (1 - Ratio(D, CheckedSub(in.N1, in.N0))) * 100 : 0;
    case PERF_OBJ_TIME_TIMER:
      return timeGuard() ? Ratio(D, CheckedSub(in.T1, in.T0)) : 0;
    case PERF_COUNTER_MULTI_TIMER:
      if (!freqGuard() || !timeGuard() || !baseAbove0()) return 0;
      return static_cast<double>(D) / Ratio(CheckedSub(in.T1, in.T0), in.F) * 100 /
             static_cast<double>(in.B1);
    case PERF_COUNTER_MULTI_TIMER_INV:
      if (!freqGuard() || !timeGuard() || !baseAbove0()) return 0;
      return (static_cast<double>(in.B1) -
              static_cast<double>(D) / Ratio(CheckedSub(in.T1, in.T0), in.F)) *
             100 / static_cast<double>(in.B1);
    case PERF_100NSEC_MULTI_TIMER:
      if (!nsGuard() || !baseAbove0()) return 0;
      return Ratio(D, CheckedSub(in.N1, in.N0)) * 100 / static_cast<double>(in.B1);
    case PERF_100NSEC_MULTI_TIMER_INV:
      if (!nsGuard() || !baseAbove0()) return 0;
      return (static_cast<double>(in.B1) - Ratio(D, CheckedSub(in.N1, in.N0))) * 100 /
             static_cast<double>(in.B1);
    case PERF_AVERAGE_TIMER:
      if (!freqGuard() || !baseGrew()) return 0;
      return Ratio(D, in.F) / static_cast<double>(CheckedSub(in.B1, in.B0));
    case PERF_AVERAGE_BULK:
      return baseGrew() ? Ratio(D, CheckedSub(in.B1, in.B0)) : 0;
    case PERF_RAW_FRACTION:
    case PERF_LARGE_RAW_FRACTION:
      return baseAbove0() ? Ratio(CheckedMul<std::int64_t>(in.X1, 100), in.B1) : 0;
    case PERF_SAMPLE_FRACTION:
      return baseGrew() ? Ratio(CheckedMul<std::int64_t>(D, 100), CheckedSub(in.B1, in.B0)) : 0;
    case PERF_SAMPLE_COUNTER:
      return baseGrew() ? Ratio(D, CheckedSub(in.B1, in.B0)) : 0;
    case PERF_PRECISION_SYSTEM_TIMER:
    case PERF_PRECISION_100NS_TIMER:
      return baseGrew() ? Ratio(CheckedMul<std::int64_t>(D, 100), CheckedSub(in.B1, in.B0)) : 0;
    case PERF_PRECISION_OBJECT_TIMER:
      if (!baseGrew()) return 0;
      t.Add(in.F);
      return Ratio(CheckedMul(D, in.F), CheckedSub(in.B1, in.B0));
    case PERF_ELAPSED_TIME:
      return in.OF > 0 ? Ratio(CheckedSub(in.O1, in.X1), in.OF) : 0;
    default:
      return 0;
  }
}

}  // namespace

double TCounter::CounterValue() {
  if (!HasData()) return 0;
  TObjectType& object = owner_;
  TDataBlock& block = object.Owner();
  TDataBlock& prevBlock = block.Other();
  TObjectType& prevObject = prevBlock.ObjectCursor();
  const std::uint32_t type = CounterType();
  TraceLine trace(*this);
  const std::int64_t X1 = RawValue();
  const std::int64_t X0 = PreviousRawValue();
  if (X1 < X0) return 0;
  // See TObjectType::MatchCounter: no previous counter, no difference to form.
  if (!HasPrevious() && NeedsPrevious(type)) return 0;
  Inputs in{};
  in.X1 = X1;
  in.D = CheckedSub(X1, X0);
  trace.Add3(X1, X0);
  in.T1 = block.PerfTime();
  in.T0 = prevBlock.PerfTime();
  in.F = block.PerfFreq();
  in.N1 = block.PerfTime100nSec();
  in.N0 = prevBlock.PerfTime100nSec();
  in.O1 = object.PerfTime();
  in.O0 = prevObject.PerfTime();
  in.OF = object.PerfFreq();
  in.B1 = object.BaseCounter().RawValue();
  in.B0 = prevObject.BaseCounter().RawValue();
  const double value = Compute(type, in, trace);
  trace.Write(value);
  return value;
}

std::string CounterTypeName(std::uint32_t counterType) {
  struct Name {
    std::uint32_t code;
    const char* text;
  };
  static constexpr Name kNames[] = {
      {PERF_COUNTER_COUNTER, "PERF_COUNTER_COUNTER"},
      {PERF_COUNTER_TIMER, "PERF_COUNTER_TIMER"},
      {PERF_COUNTER_QUEUELEN_TYPE, "PERF_COUNTER_QUEUELEN_TYPE"},
      {PERF_COUNTER_LARGE_QUEUELEN_TYPE, "PERF_COUNTER_LARGE_QUEUELEN_TYPE"},
      {PERF_COUNTER_100NS_QUEUELEN_TYPE, "PERF_COUNTER_100NS_QUEUELEN_TYPE"},
      {PERF_COUNTER_OBJ_TIME_QUEUELEN_TYPE, "PERF_COUNTER_OBJ_TIME_QUEUELEN_TYPE"},
      {PERF_COUNTER_BULK_COUNT, "PERF_COUNTER_BULK_COUNT"},
      {PERF_COUNTER_TEXT, "PERF_COUNTER_TEXT"},
      {PERF_COUNTER_RAWCOUNT, "PERF_COUNTER_RAWCOUNT"},
      {PERF_COUNTER_LARGE_RAWCOUNT, "PERF_COUNTER_LARGE_RAWCOUNT"},
      {PERF_COUNTER_RAWCOUNT_HEX, "PERF_COUNTER_RAWCOUNT_HEX"},
      {PERF_COUNTER_LARGE_RAWCOUNT_HEX, "PERF_COUNTER_LARGE_RAWCOUNT_HEX"},
      {PERF_SAMPLE_FRACTION, "PERF_SAMPLE_FRACTION"},
      {PERF_SAMPLE_COUNTER, "PERF_SAMPLE_COUNTER"},
      {PERF_COUNTER_NODATA, "PERF_COUNTER_NODATA"},
      {PERF_COUNTER_TIMER_INV, "PERF_COUNTER_TIMER_INV"},
      {PERF_SAMPLE_BASE, "PERF_SAMPLE_BASE"},
      {PERF_AVERAGE_TIMER, "PERF_AVERAGE_TIMER"},
      {PERF_AVERAGE_BASE, "PERF_AVERAGE_BASE"},
      {PERF_AVERAGE_BULK, "PERF_AVERAGE_BULK"},
      {PERF_OBJ_TIME_TIMER, "PERF_OBJ_TIME_TIMER"},
      {PERF_100NSEC_TIMER, "PERF_100NSEC_TIMER"},
      {PERF_100NSEC_TIMER_INV, "PERF_100NSEC_TIMER_INV"},
      {PERF_COUNTER_MULTI_TIMER, "PERF_COUNTER_MULTI_TIMER"},
      {PERF_COUNTER_MULTI_TIMER_INV, "PERF_COUNTER_MULTI_TIMER_INV"},
      {PERF_COUNTER_MULTI_BASE, "PERF_COUNTER_MULTI_BASE"},
      {PERF_100NSEC_MULTI_TIMER, "PERF_100NSEC_MULTI_TIMER"},
      {PERF_100NSEC_MULTI_TIMER_INV, "PERF_100NSEC_MULTI_TIMER_INV"},
      {PERF_RAW_FRACTION, "PERF_RAW_FRACTION"},
      {PERF_LARGE_RAW_FRACTION, "PERF_LARGE_RAW_FRACTION"},
      {PERF_RAW_BASE, "PERF_RAW_BASE"},
      {PERF_ELAPSED_TIME, "PERF_ELAPSED_TIME"},
      {PERF_COUNTER_DELTA, "PERF_COUNTER_DELTA"},
      {PERF_COUNTER_LARGE_DELTA, "PERF_COUNTER_LARGE_DELTA"},
      {PERF_PRECISION_SYSTEM_TIMER, "PERF_PRECISION_SYSTEM_TIMER"},
      {PERF_PRECISION_100NS_TIMER, "PERF_PRECISION_100NS_TIMER"},
      {PERF_PRECISION_OBJECT_TIMER, "PERF_PRECISION_OBJECT_TIMER"},
      {PERF_PRECISION_TIMESTAMP, "PERF_PRECISION_TIMESTAMP"},
  };
  static_assert(std::size(kNames) == 38);
  for (const Name& n : kNames)
    if (n.code == counterType) return n.text;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, counterType);
  return text;
}

}  // namespace ombrix
