// How the history speaks: the names of the consumer kinds, their values, the time of a
// sample and a sample's whole description. Shared by the History view, its tool tips and
// the text front end; numbers follow the given locale as the grid's do.
#pragma once
#include <QLocale>
#include <QString>
#include <cstdint>

#include "monitor/history/HistorySample.h"

namespace ombrix {

class THistoryRecorder;

// What a recorder is doing, for the History view: "Recording to <path>", "Not recording:
// another Ombrix records to <path>", "History is off (HistoryDays=0)", "Recording stopped:
// <reason>"; none is "Not recorded by this monitor".
QString RecorderStateText(const THistoryRecorder* recorder);

// "Processor", "Memory", "Disk", "Network", "File", "Socket".
QString KindName(TConsumerKind kind);
// "12.50%" for processor, "1,234 K" for working set, "1,234 K/s" for rates.
QString ConsumerValueText(TConsumerKind kind, double value, const QLocale& locale = QLocale());
// "busy [4242]": a process by name and id.
QString ProcessText(const std::string& name, std::uint32_t processId);
// Local time of a moment: "2024-05-01 14:03:12" (seconds only when asked for).
QString MomentText(std::int64_t time, bool seconds = true);
// The figures on one line: "Processor 55.81%  Memory 43.20%  Disk 2.24%  Network 0.00%";
// a folded minute adds each figure's peak ("Processor 55.81% (peak 98.00%)").
QString FiguresText(const THistorySample& sample, const QLocale& locale = QLocale());
// The first consumer of kind, or none.
const TConsumer* TopConsumer(const THistorySample& sample, TConsumerKind kind);
// A sample as text, for a tool tip or the clipboard: its time, its figures, then one line per
// consumer ("Processor  busy [4242]  97.50%"; files and sockets with their process).
QString SampleText(const THistorySample& sample, const QLocale& locale = QLocale());

}  // namespace ombrix
