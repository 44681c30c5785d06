#include "monitor/history/HistoryText.h"

#include <QDateTime>

#include "monitor/history/HistoryRecorder.h"

#include "monitor/shell/views/ViewFormat.h"

namespace ombrix {

QString RecorderStateText(const THistoryRecorder* recorder) {
  if (recorder == nullptr) return QStringLiteral("Not recorded by this monitor");
  const THistoryStatus s = recorder->Status();
  const QString path = QString::fromStdString(s.Path);
  const QString reason = QString::fromStdString(s.Reason);
  switch (s.State) {
    case THistoryState::Off:
      return QStringLiteral("History is off (HistoryDays=0)");
    case THistoryState::Recording:
      return QStringLiteral("Recording to ") + path;
    case THistoryState::OtherRecorder:
      return QStringLiteral("Not recording: ") + reason;
    default:
      return QStringLiteral("Recording stopped: ") + reason;
  }
}

QString KindName(TConsumerKind kind) {
  static const char* const names[] = {"Processor", "Memory", "Disk", "Network", "File", "Socket"};
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(names) ? QString::fromLatin1(names[index]) : QString();
}

QString ConsumerValueText(TConsumerKind kind, double value, const QLocale& locale) {
  switch (kind) {
    case TConsumerKind::Processor:
      return FormatPercent(value, locale);
    case TConsumerKind::WorkingSet:
      return FormatKilobytes(value, locale);
    default:
      return FormatKilobytes(value, locale) + QStringLiteral("/s");
  }
}

QString ProcessText(const std::string& name, std::uint32_t processId) {
  return QString::fromStdString(name) + QStringLiteral(" [%1]").arg(processId);
}

QString MomentText(std::int64_t time, bool seconds) {
  return QDateTime::fromMSecsSinceEpoch(time).toString(
      seconds ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString FiguresText(const THistorySample& s, const QLocale& locale) {
  const double means[] = {s.Mean.Processor, s.Mean.Memory, s.Mean.Disk, s.Mean.Network};
  const double peaks[] = {s.Peak.Processor, s.Peak.Memory, s.Peak.Disk, s.Peak.Network};
  QStringList parts;
  for (int i = 0; i < 4; ++i) {
    QString part = KindName(static_cast<TConsumerKind>(i)) + QLatin1Char(' ') +
                   FormatPercent(means[i], locale);
    if (s.Folded) part += QStringLiteral(" (peak %1)").arg(FormatPercent(peaks[i], locale));
    parts << part;
  }
  return parts.join(QStringLiteral("  "));
}

const TConsumer* TopConsumer(const THistorySample& sample, TConsumerKind kind) {
  for (const TConsumer& c : sample.Consumers)
    if (c.Kind == kind) return &c;
  return nullptr;
}

QString SampleText(const THistorySample& sample, const QLocale& locale) {
  QString text = MomentText(sample.Time) +
                 (sample.Folded ? QStringLiteral(" (the minute)") : QString()) + QLatin1Char('\n') +
                 FiguresText(sample, locale) + QLatin1Char('\n');
  for (const TConsumer& c : sample.Consumers) {
    const bool owned = c.Kind == TConsumerKind::File || c.Kind == TConsumerKind::Socket;
    text += KindName(c.Kind) + QStringLiteral("  ") +
            (owned ? QString::fromStdString(c.Name) + QStringLiteral("  ") +
                         ProcessText(c.Process, c.ProcessId)
                   : ProcessText(c.Name, c.ProcessId)) +
            QStringLiteral("  ") + ConsumerValueText(c.Kind, c.Value, locale) + QLatin1Char('\n');
  }
  return text;
}

}  // namespace ombrix
