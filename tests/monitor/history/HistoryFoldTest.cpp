// Folding a minute: figures weighted by the ticks each sample stands for, consumers ranked
// by their share of the whole minute.
#include "monitor/history/HistoryFold.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

THistorySample Tick(double cpu, std::vector<TConsumer> consumers = {}) {
  THistorySample s;
  s.Time = 120000;
  s.Span = 2000;
  s.Mean = s.Peak = {cpu, 50, 5, 1};
  s.Consumers = std::move(consumers);
  return s;
}

TConsumer Cpu(const std::string& name, std::uint32_t pid, double value) {
  return {TConsumerKind::Processor, pid, name, {}, value};
}

TEST(HistoryFold, FiguresAreMeansOverEveryTickAndPeaksOverAll) {
  THistorySample earlier = Tick(50);  // an earlier fold of the same minute, of two ticks
  earlier.Folded = true;
  earlier.Ticks = 2;
  earlier.Peak.Processor = 90;
  const THistorySample m = FoldSamples({Tick(10), Tick(30), earlier}, 120000);
  EXPECT_TRUE(m.Folded);
  EXPECT_EQ(m.Time, 120000);
  EXPECT_EQ(m.Span, MinuteMs);
  EXPECT_EQ(m.Ticks, 4);
  EXPECT_DOUBLE_EQ(m.Mean.Processor, (10 + 30 + 2 * 50) / 4.0);
  EXPECT_DOUBLE_EQ(m.Peak.Processor, 90);
  EXPECT_DOUBLE_EQ(m.Mean.Memory, 50);
}

TEST(HistoryFold, ASteadyConsumerOutranksAShortSpike) {
  const THistorySample m =
      FoldSamples({Tick(0, {Cpu("spike", 1, 100), Cpu("steady", 2, 40)}),
                   Tick(0, {Cpu("steady", 2, 40)}), Tick(0, {Cpu("steady", 2, 40)})},
                  0);
  ASSERT_EQ(m.Consumers.size(), 2u);
  EXPECT_EQ(m.Consumers[0].Name, "steady");
  EXPECT_DOUBLE_EQ(m.Consumers[0].Value, 40);
  EXPECT_EQ(m.Consumers[1].Name, "spike");
  EXPECT_DOUBLE_EQ(m.Consumers[1].Value, 100 / 3.0);  // absent ticks count as 0
}

TEST(HistoryFold, ConsumersAreTheirNameAndProcessAndEachKindKeepsItsFew) {
  std::vector<TConsumer> many;
  for (std::uint32_t pid = 1; pid <= 7; ++pid) many.push_back(Cpu("worker", pid, pid));
  many.push_back({TConsumerKind::File, 3, "/a", "worker", 10});
  many.push_back({TConsumerKind::File, 4, "/a", "worker", 20});  // same file, other process
  const THistorySample m = FoldSamples({Tick(0, many)}, 0);
  ASSERT_EQ(m.Consumers.size(), 7u);  // five processes, then both files
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(m.Consumers[i].Kind, TConsumerKind::Processor);
    EXPECT_EQ(m.Consumers[i].ProcessId, 7 - i);
  }
  EXPECT_EQ(m.Consumers[5].ProcessId, 4u);
  EXPECT_EQ(m.Consumers[6].ProcessId, 3u);
}

TEST(HistoryFold, EqualSharesComeOutByNameAndNothingFoldsToAnEmptyMinute) {
  const THistorySample m = FoldSamples({Tick(0, {Cpu("b", 1, 5), Cpu("a", 2, 5)})}, 0);
  ASSERT_EQ(m.Consumers.size(), 2u);
  EXPECT_EQ(m.Consumers[0].Name, "a");
  const THistorySample none = FoldSamples({}, 60000);
  EXPECT_EQ(none.Ticks, 0);
  EXPECT_TRUE(none.Consumers.empty());
  EXPECT_EQ(none.Time, 60000);
}

TEST(HistoryFold, MinutesOfTimesBefore1970RoundDown) {
  EXPECT_EQ(MinuteOf(59999), 0);
  EXPECT_EQ(MinuteOf(60000), 60000);
  EXPECT_EQ(MinuteOf(-1), -60000);
}

}  // namespace
}  // namespace ombrix
