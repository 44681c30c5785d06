// The history file: a sample comes back as it went in, minutes fold after their day, old
// samples and their names go, the order holds when the clock went back, and files that are
// not a history of ours are told apart from damaged ones.
#include "monitor/history/HistoryStore.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

using testing::TempDir;

constexpr std::int64_t T0 = 1713999960000;  // a moment in 2024, on a whole minute

THistorySample Tick(std::int64_t time, double cpu, const std::string& busiest = "busy") {
  THistorySample s;
  s.Time = time;
  s.Span = 2000;
  s.Mean = s.Peak = {cpu, 40, 3, 0.5};
  s.Consumers = {{TConsumerKind::Processor, 4242, busiest, {}, cpu},
                 {TConsumerKind::WorkingSet, 7, "büro-viewer", {}, 123456789},
                 {TConsumerKind::File, 4242, "/home/u/ünïcode.txt", busiest, 4096},
                 {TConsumerKind::Socket, 99, "example.org (https - 443)", "fetch", 1500}};
  return s;
}

class HistoryStoreTest : public ::testing::Test {
 protected:
  THistoryStore Writer() { return THistoryStore(dir.File("h"), THistoryStore::TAccess::Write); }
  std::int64_t Count(const std::string& sql) {
    return TSqliteDatabase(dir.File("h"), TSqliteDatabase::TAccess::ReadOnly).QueryInt(sql).value();
  }
  TempDir dir;
};

TEST_F(HistoryStoreTest, ASampleComesBackWithItsConsumersAndNamesAreKeptOnce) {
  THistoryStore store = Writer();
  store.Append(Tick(T0, 12.34));
  store.Append(Tick(T0 + 2000, 56.78));
  const THistoryStore reader(dir.File("h"), THistoryStore::TAccess::Read);
  const std::optional<THistorySample> s = reader.Nearest(T0 + 1900, T0, T0 + 10000);
  ASSERT_TRUE(s);
  const THistorySample expected = Tick(T0 + 2000, 56.78);
  EXPECT_EQ(s->Time, expected.Time);
  EXPECT_EQ(s->Span, 2000);
  EXPECT_FALSE(s->Folded);
  EXPECT_EQ(s->Mean, expected.Mean);
  EXPECT_EQ(s->Peak, expected.Mean);
  EXPECT_EQ(s->Consumers, expected.Consumers);
  // "busy", "büro-viewer", the file, the socket and "fetch": each once for both samples.
  EXPECT_EQ(Count("SELECT count(*) FROM names"), 5);
}

TEST_F(HistoryStoreTest, WholeMinutesBeforeTheCutFoldAndTheRestStays) {
  THistoryStore store = Writer();
  for (std::int64_t t = T0; t < T0 + 3 * MinuteMs; t += 2000)
    store.Append(Tick(t, t < T0 + MinuteMs ? 10 : 30, t < T0 + MinuteMs ? "first" : "second"));
  EXPECT_FALSE(store.Fold(T0 + 2 * MinuteMs + 30000, 10));  // two whole minutes, then done
  const std::vector<THistorySample> all = store.Samples(T0, T0 + 3 * MinuteMs, true);
  ASSERT_EQ(all.size(), 2u + 30u);
  EXPECT_TRUE(all[0].Folded);
  EXPECT_EQ(all[0].Time, T0);
  EXPECT_EQ(all[0].Ticks, 30);
  EXPECT_DOUBLE_EQ(all[0].Mean.Processor, 10);
  EXPECT_EQ(all[0].Consumers.front().Name, "first");
  EXPECT_EQ(all[1].Time, T0 + MinuteMs);
  EXPECT_EQ(all[1].Consumers.front().Name, "second");
  EXPECT_FALSE(all[2].Folded);
  EXPECT_EQ(all[2].Time, T0 + 2 * MinuteMs);
  EXPECT_EQ(Count("SELECT count(*) FROM consumers"), 2 * 4 + 30 * 4);
}

TEST_F(HistoryStoreTest, FoldingTakesAFewMinutesAtATimeAndSaysWhenMoreRemain) {
  THistoryStore store = Writer();
  for (int m = 0; m < 5; ++m) store.Append(Tick(T0 + m * MinuteMs, 1));
  EXPECT_TRUE(store.Fold(T0 + 10 * MinuteMs, 3));
  EXPECT_FALSE(store.Fold(T0 + 10 * MinuteMs, 3));
  EXPECT_EQ(Count("SELECT count(*) FROM samples WHERE folded = 1"), 5);
}

// A clock set back by more than a day puts new ticks into minutes folded already: they are
// kept, and the next fold merges them with what the minute held.
TEST_F(HistoryStoreTest, AClockSetBackKeepsEveryTickInTimeOrder) {
  THistoryStore store = Writer();
  store.Append(Tick(T0 + 10000, 10));
  store.Append(Tick(T0 + 12000, 20));
  ASSERT_FALSE(store.Fold(T0 + MinuteMs, 10));
  store.Append(Tick(T0 + 4000, 60));  // the clock went back
  store.Append(Tick(T0 + 2000, 70));
  std::vector<THistorySample> all = store.Samples(T0, T0 + MinuteMs, false);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].Time, T0);  // the folded minute, then the late ticks in their order
  EXPECT_EQ(all[1].Time, T0 + 2000);
  EXPECT_EQ(all[2].Time, T0 + 4000);
  ASSERT_FALSE(store.Fold(T0 + MinuteMs, 10));
  all = store.Samples(T0, T0 + MinuteMs, false);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].Ticks, 4);
  EXPECT_DOUBLE_EQ(all[0].Mean.Processor, (10 + 20 + 60 + 70) / 4.0);
  EXPECT_DOUBLE_EQ(all[0].Peak.Processor, 70);
}

TEST_F(HistoryStoreTest, DroppingTakesOldSamplesTheirConsumersAndThenTheirNames) {
  THistoryStore store = Writer();
  store.Append(Tick(T0, 1, "old-only"));
  store.Append(Tick(T0 + MinuteMs, 1, "kept"));
  EXPECT_TRUE(store.Drop(T0 + 1));
  EXPECT_FALSE(store.Drop(T0 + 1));
  EXPECT_EQ(store.SampleCount(), 1);
  EXPECT_EQ(Count("SELECT count(*) FROM consumers"), 4);
  EXPECT_EQ(Count("SELECT count(*) FROM names WHERE text = 'old-only'"), 1);
  store.DropUnusedNames();
  EXPECT_EQ(Count("SELECT count(*) FROM names WHERE text = 'old-only'"), 0);
  EXPECT_EQ(Count("SELECT count(*) FROM names WHERE text = 'kept'"), 1);
  store.Append(Tick(T0 + 2 * MinuteMs, 1, "old-only"));  // a dropped name comes back anew
  EXPECT_EQ(store.Samples(T0, T0 + 3 * MinuteMs, true).back().Consumers[0].Name, "old-only");
}

TEST_F(HistoryStoreTest, ChartStretchesWeighTheirTicksAndSkipEmptyStretches) {
  THistoryStore store = Writer();
  store.Append(Tick(T0, 10));
  store.Append(Tick(T0 + 2000, 30));
  THistorySample minute = Tick(T0 + 10000, 70);
  minute.Folded = true;
  minute.Ticks = 2;
  minute.Peak.Processor = 95;
  store.Append(minute);
  const std::vector<TChartPoint> points = store.Chart(T0, T0 + 20000, 5000);
  ASSERT_EQ(points.size(), 2u);
  EXPECT_DOUBLE_EQ(points[0].Mean.Processor, 20);
  EXPECT_DOUBLE_EQ(points[0].Peak.Processor, 30);
  EXPECT_EQ(points[0].First, T0);
  EXPECT_EQ(points[0].Last, T0 + 2000);
  EXPECT_DOUBLE_EQ(points[1].Mean.Processor, 70);
  EXPECT_DOUBLE_EQ(points[1].Peak.Processor, 95);
}

TEST_F(HistoryStoreTest, TheNearestSampleIsTheFoldedMinuteThatCoversTheMoment) {
  THistoryStore store = Writer();
  THistorySample minute = Tick(T0, 5);
  minute.Folded = true;
  minute.Span = MinuteMs;
  store.Append(minute);
  store.Append(Tick(T0 + 62000, 9));
  EXPECT_EQ(store.Nearest(T0 + 55000, T0, T0 + MinuteMs * 2)->Time, T0);
  EXPECT_EQ(store.Nearest(T0 + 61500, T0, T0 + MinuteMs * 2)->Time, T0 + 62000);
  EXPECT_FALSE(store.Nearest(T0, T0 + MinuteMs * 3, T0 + MinuteMs * 4));
}

TEST_F(HistoryStoreTest, RowsThatDoNotFitASampleAreLeftOutWhenRead) {
  {
    THistoryStore store = Writer();
    store.Append(Tick(T0, 1));
  }
  TSqliteDatabase db(dir.File("h"), TSqliteDatabase::TAccess::ReadWrite);
  db.Exec("INSERT INTO consumers VALUES(1, 99, 0, 1, 1, NULL, 5)");     // no such kind
  db.Exec("INSERT INTO consumers VALUES(1, 4, 7, 1, 1, NULL, 5)");      // rank past the three
  db.Exec("INSERT INTO consumers VALUES(1, 0, 1, -5, 4711, NULL, 5)");  // no such name
  const THistoryStore reader(dir.File("h"), THistoryStore::TAccess::Read);
  const std::vector<TConsumer> read = reader.Samples(T0, T0 + 1, true).at(0).Consumers;
  ASSERT_EQ(read.size(), 5u);
  EXPECT_EQ(read[1].Name, "");
  EXPECT_EQ(read[1].ProcessId, 0u);
}

TEST_F(HistoryStoreTest, OtherDatabasesAreNotOursAndGarbageIsDamaged) {
  {
    TSqliteDatabase other(dir.File("h"), TSqliteDatabase::TAccess::ReadWrite);
    other.Exec("CREATE TABLE recipes(name TEXT)");
  }
  EXPECT_THROW(Writer(), EHistoryForeign);
  EXPECT_THROW(THistoryStore(dir.File("h"), THistoryStore::TAccess::Read), EHistoryForeign);
  dir.Write("h", std::string(8192, 'x'));
  try {
    Writer();
    FAIL() << "garbage opened as a history";
  } catch (const ESqliteError& e) {
    EXPECT_TRUE(e.Damaged()) << e.what();
  }
  EXPECT_THROW(THistoryStore(dir.File("absent"), THistoryStore::TAccess::Read), ESqliteError);
  EXPECT_FALSE(std::filesystem::exists(dir.File("absent")));
}

TEST_F(HistoryStoreTest, AnEmptyFileReadsAsNoHistoryYet) {
  dir.Write("h", "");
  const THistoryStore reader(dir.File("h"), THistoryStore::TAccess::Read);
  EXPECT_EQ(reader.SampleCount(), 0);
  EXPECT_TRUE(reader.Samples(0, T0, true).empty());
  EXPECT_TRUE(reader.Chart(0, T0, 1000).empty());
}

}  // namespace
}  // namespace ombrix
