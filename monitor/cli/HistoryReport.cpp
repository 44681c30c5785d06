#include "monitor/cli/HistoryReport.h"

#include <QDateTime>
#include <QRegularExpression>

#include "monitor/cli/TextTable.h"
#include "monitor/history/HistoryFold.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/history/HistoryText.h"
#include "monitor/shell/views/ViewFormat.h"

namespace ombrix {

namespace {

constexpr std::int64_t HourMs = 3600000;

bool RelativeWhen(const std::string& text, std::int64_t now, std::int64_t& when) {
  static const QRegularExpression form(QStringLiteral("^-(\\d{1,9})([smhd])$"));
  const QRegularExpressionMatch m = form.match(QString::fromStdString(text));
  if (!m.hasMatch()) return false;
  const std::int64_t count = m.captured(1).toLongLong();
  const char unit = m.captured(2).at(0).toLatin1();
  const std::int64_t ms = unit == 's'   ? 1000
                          : unit == 'm' ? 60000
                          : unit == 'h' ? HourMs
                                        : 86400000;
  when = now - count * ms;
  return true;
}

bool ClockWhen(const std::string& text, std::int64_t now, bool rangeStart, std::int64_t& when) {
  const QTime time = QTime::fromString(QString::fromStdString(text), QStringLiteral("H:mm"));
  if (!time.isValid()) return false;
  const QDate today = QDateTime::fromMSecsSinceEpoch(now).date();
  when = QDateTime(today, time).toMSecsSinceEpoch();
  if (rangeStart && when > now) when = QDateTime(today.addDays(-1), time).toMSecsSinceEpoch();
  return true;
}

bool DateWhen(const std::string& text, std::int64_t& when) {
  const QDateTime moment =
      QDateTime::fromString(QString::fromStdString(text), QStringLiteral("yyyy-MM-dd H:mm"));
  if (!moment.isValid()) return false;
  when = moment.toMSecsSinceEpoch();
  return true;
}

std::string TopText(const THistorySample& minute, TConsumerKind kind) {
  const TConsumer* top = TopConsumer(minute, kind);
  if (top == nullptr) return "-";
  return (ProcessText(top->Name, top->ProcessId) + QLatin1Char(' ') +
          ConsumerValueText(kind, top->Value))
      .toStdString();
}

std::vector<std::string> MinuteRow(const THistorySample& m) {
  return {
      MomentText(m.Time, false).toStdString(),     FormatPercent(m.Mean.Processor).toStdString(),
      FormatPercent(m.Mean.Memory).toStdString(),  FormatPercent(m.Mean.Disk).toStdString(),
      FormatPercent(m.Mean.Network).toStdString(), TopText(m, TConsumerKind::Processor),
      TopText(m, TConsumerKind::WorkingSet),       TopText(m, TConsumerKind::DiskIo),
      TopText(m, TConsumerKind::Network)};
}

// A row per minute, each minute's samples folded as the history folds them.
void AddMinuteRows(const std::vector<THistorySample>& samples,
                   std::vector<std::vector<std::string>>& cells) {
  std::vector<THistorySample> minute;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    minute.push_back(samples[i]);
    const std::int64_t start = MinuteOf(samples[i].Time);
    if (i + 1 < samples.size() && MinuteOf(samples[i + 1].Time) == start) continue;
    cells.push_back(MinuteRow(FoldSamples(minute, start)));
    minute.clear();
  }
}

}  // namespace

bool ParseWhen(const std::string& text, std::int64_t now, bool rangeStart, std::int64_t& when) {
  return RelativeWhen(text, now, when) || ClockWhen(text, now, rangeStart, when) ||
         DateWhen(text, when);
}

std::string MinuteLines(const std::vector<THistorySample>& samples) {
  std::vector<std::vector<std::string>> cells{{"Minute", "Processor", "Memory", "Disk", "Network",
                                               "Top processor", "Top memory", "Top disk",
                                               "Top network"}};
  AddMinuteRows(samples, cells);
  return TableText(cells, {false, true, true, true, true});
}

std::string MinuteLines(const THistoryStore& store, std::int64_t from, std::int64_t to) {
  std::vector<THistorySample> samples;
  std::vector<std::vector<std::string>> cells{{"Minute", "Processor", "Memory", "Disk", "Network",
                                               "Top processor", "Top memory", "Top disk",
                                               "Top network"}};
  // An hour at a time: a day of ticks with their consumers would take much memory at once.
  for (std::int64_t at = MinuteOf(from); at < to; at += HourMs)
    AddMinuteRows(store.Samples(at, std::min(at + HourMs, to), true), cells);
  if (cells.size() == 1) return {};
  return TableText(cells, {false, true, true, true, true});
}

}  // namespace ombrix
