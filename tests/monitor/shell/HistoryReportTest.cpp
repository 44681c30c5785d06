// The text front end's look back: the moments it takes and its line per minute.
#include "monitor/cli/HistoryReport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QRegularExpression>

#include "monitor/history/HistoryStore.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

std::int64_t Local(int year, int month, int day, int hour, int minute) {
  return QDateTime(QDate(year, month, day), QTime(hour, minute)).toMSecsSinceEpoch();
}

TEST(HistoryReport, MomentsByClockDateOrTimeBack) {
  const std::int64_t now = Local(2024, 5, 1, 14, 30) + 17000;
  std::int64_t when = 0;
  ASSERT_TRUE(ParseWhen("-10m", now, true, when));
  EXPECT_EQ(when, now - 600000);
  ASSERT_TRUE(ParseWhen("-2h", now, true, when));
  EXPECT_EQ(when, now - 7200000);
  ASSERT_TRUE(ParseWhen("-1d", now, true, when));
  EXPECT_EQ(when, now - 86400000);
  ASSERT_TRUE(ParseWhen("2024-04-30 09:05", now, true, when));
  EXPECT_EQ(when, Local(2024, 4, 30, 9, 5));
  ASSERT_TRUE(ParseWhen("14:03", now, true, when));
  EXPECT_EQ(when, Local(2024, 5, 1, 14, 3));
  // A start still to come today means yesterday's; an end may lie ahead.
  ASSERT_TRUE(ParseWhen("23:30", now, true, when));
  EXPECT_EQ(when, Local(2024, 4, 30, 23, 30));
  ASSERT_TRUE(ParseWhen("23:30", now, false, when));
  EXPECT_EQ(when, Local(2024, 5, 1, 23, 30));
  for (const char* refused : {"", "10m", "-10", "-10x", "24:00", "14:60", "2024-13-01 10:00",
                              "2024-05-01", "now", "-99999999999m"})
    EXPECT_FALSE(ParseWhen(refused, now, true, when)) << refused;
}

THistorySample Tick(std::int64_t time, double cpu, const std::string& busiest) {
  THistorySample s;
  s.Time = time;
  s.Span = 2000;
  s.Mean = s.Peak = {cpu, 40, 2.5, 0};
  s.Consumers = {{TConsumerKind::Processor, 4242, busiest, {}, cpu},
                 {TConsumerKind::WorkingSet, 7, "editor", {}, 2048 * 1024},
                 {TConsumerKind::File, 4242, "/tmp/x", busiest, 1024}};
  return s;
}

TEST(HistoryReport, OneLinePerMinuteWithItsFiguresAndTopProcesses) {
  const std::int64_t minute = Local(2024, 5, 1, 14, 3);
  const std::string text =
      MinuteLines({Tick(minute + 1000, 10, "cc1plus"), Tick(minute + 3000, 30, "cc1plus"),
                   Tick(minute + 61000, 90, "spin")});
  const auto lines = QString::fromStdString(text).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith("Minute")) << text;
  EXPECT_TRUE(lines[1].startsWith("2024-05-01 14:03")) << text;
  EXPECT_TRUE(lines[1].contains(QRegularExpression(" 20\\.00%  +40\\.00%  +2\\.50%  +0\\.00%")))
      << text;
  EXPECT_TRUE(lines[1].contains("cc1plus [4242] 20.00%")) << text;
  EXPECT_TRUE(lines[1].contains("editor [7] 2,048 K")) << text;
  EXPECT_TRUE(lines[1].endsWith(" -")) << text;  // no network traffic
  EXPECT_TRUE(lines[2].startsWith("2024-05-01 14:04")) << text;
  EXPECT_TRUE(lines[2].contains("spin [4242] 90.00%")) << text;
}

TEST(HistoryReport, MinutesOfAStoreAcrossHoursAndNoneOutsideTheRange) {
  ombrix::testing::TempDir dir;
  const std::int64_t start = Local(2024, 5, 1, 13, 58);
  {
    THistoryStore store(dir.File("h"), THistoryStore::TAccess::Write);
    for (int m = 0; m < 4; ++m) store.Append(Tick(start + m * 60000 + 500, m, "p"));
  }
  const THistoryStore store(dir.File("h"), THistoryStore::TAccess::Read);
  const std::string text = MinuteLines(store, start + 30000, start + 3 * 60000);
  EXPECT_NE(text.find("13:58"), std::string::npos) << text;  // the minute it starts in
  EXPECT_NE(text.find("14:00"), std::string::npos) << text;
  EXPECT_EQ(text.find("14:01"), std::string::npos) << text;
  EXPECT_EQ(MinuteLines(store, start + 3600000, start + 7200000), "");
}

}  // namespace
}  // namespace ombrix
