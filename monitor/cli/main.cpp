// ombrix-cli: the text front end over the monitor's core. It samples like the window does
// and prints the chosen view and the indicator texts after every tick.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>

#include "monitor/cli/CliFrontEnd.h"
#include "monitor/cli/HistoryReport.h"
#include "monitor/cli/ServeFrontEnd.h"
#include "monitor/history/HistoryRecorder.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/history/HistoryText.h"
#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/ModelLock.h"
#include "monitor/settings/Settings.h"
#include "platform/heap/HeapStatus.h"
#include "platform/kernelevents/EventBackend.h"
#include "platform/paths/Paths.h"

namespace {

using namespace ombrix;

// 0 running, SIGINT: the user's exit (logged), SIGTERM: the end of the session (not).
std::atomic<int> StopSignal{0};

void OnSignal(int signal) {
  StopSignal = signal;
}

void PrintHistoryStats(const TMonitorCore& core) {
  const THistoryRecorder* history = core.History();
  if (history == nullptr) return;
  const THistoryStatus s = history->Status();
  switch (s.State) {
    case THistoryState::Off:
      std::printf("History: off (HistoryDays=0)\n");
      break;
    case THistoryState::Recording:
      std::printf("History: recording to %s; %llu samples written, %llu let go, %.3f ms CPU each\n",
                  s.Path.c_str(), static_cast<unsigned long long>(s.Written),
                  static_cast<unsigned long long>(s.Dropped), s.CpuMsPerSample);
      break;
    case THistoryState::OtherRecorder:
      std::printf("History: not recording: %s\n", s.Reason.c_str());
      break;
    case THistoryState::Stopped:
      std::printf("History: stopped: %s\n", s.Reason.c_str());
      break;
  }
}

void PrintStats(TMonitorCore& core, double tickMs) {
  const TEventCounts& n = core.EventCounts();
  const TKernelEventTrace* trace = core.KernelTrace();
  const platform::EventSourceState source = platform::EventSourceStats();
  std::string backend = source.Backend;
  if (!source.Reason.empty()) backend += " (" + source.Reason + ")";
  if (!core.TraceStarted()) backend += " (trace not started)";
  const std::uint32_t status = source.Status != 0 ? source.Status
                               : trace != nullptr ? trace->LastStatus.load()
                                                  : 0u;
  std::printf(
      "Kernel events: backend %s, LastStatus %u; delivered: disk %llu, file %llu, "
      "process %llu, network %llu, registry %llu; dropped %llu\n",
      backend.c_str(), static_cast<unsigned>(status),
      static_cast<unsigned long long>(n.DiskIo.load()),
      static_cast<unsigned long long>(n.FileIo.load()),
      static_cast<unsigned long long>(n.Process.load()),
      static_cast<unsigned long long>(n.Network.load()),
      static_cast<unsigned long long>(n.Registry.load()),
      static_cast<unsigned long long>(source.Dropped));
  PrintHistoryStats(core);
  std::printf("Tick: %.3f ms, model lock held %.3f ms\n\n", tickMs, core.LockHeldMs());
  std::fflush(stdout);
}

int Run(int argc, char** argv, const TCliOptions& options) {
  QCoreApplication app(argc, argv);
  // The port first: one that cannot be had ends the run before anything starts or is logged.
  const std::unique_ptr<TCliFrontEnd> frontEnd = MakeFrontEnd(options, stdout);
  SettingsOwner = platform::ProgramDir() + "Ombrix";
  const std::string program = platform::ProgramPath();
  OpenProcessLog(platform::ProgramFile("Ombrix.log"), program);
  int result = 0;
  {
    TKernelEventTrace trace;
    TMonitorCore core(*frontEnd, &trace);
    frontEnd->SetCore(&core);
    core.Start();
    core.StartHistory(platform::ProgramFile("Ombrix.history"));

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::int64_t samples = 0;
    QTimer timer1;
    timer1.setInterval(options.Interval > 0 ? options.Interval : Settings.Interval);
    QObject::connect(&timer1, &QTimer::timeout, [&] {
      QElapsedTimer clock;
      clock.start();
      core.RunTick();
      const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
      if (options.Stats) PrintStats(core, ms);
      if (options.Samples > 0 && ++samples >= options.Samples) app.quit();
    });
    // Signals only set a flag; the loop looks at it between ticks.
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (StopSignal != 0) app.quit();
    });
    timer1.start();
    watch.start();
    result = app.exec();
    timer1.stop();
    core.StopTrace();
    if (StopSignal != SIGTERM) core.WriteStopRecord();
  }
  CloseProcessLog();
  return result;
}

int RunHistory(int argc, char** argv, const TCliOptions& options) {
  QCoreApplication app(argc, argv);
  const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
  std::int64_t since = now - 3600000, until = now;
  if (!options.Since.empty()) ParseWhen(options.Since, now, true, since);
  if (!options.Until.empty()) ParseWhen(options.Until, now, false, until);
  const std::string path = platform::ProgramFile("Ombrix.history");
  if (!platform::FileExists(path)) {
    std::fprintf(stderr, "ombrix-cli: no history at %s\n", path.c_str());
    return 1;
  }
  const std::string lines =
      MinuteLines(THistoryStore(path, THistoryStore::TAccess::Read), since, until);
  if (lines.empty()) {
    std::printf("Nothing recorded from %s to %s\n", qPrintable(MomentText(since, false)),
                qPrintable(MomentText(until, false)));
  }
  std::fputs(lines.c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseOneHeap();
  TCliOptions options;
  std::string error;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!ParseCliOptions(args, options, error)) {
    std::fprintf(stderr, "ombrix-cli: %s\n\n%s", error.c_str(), CliUsage().c_str());
    return 2;
  }
  if (options.Help) {
    std::fputs(CliUsage().c_str(), stdout);
    return 0;
  }
  try {
    if (options.History) return RunHistory(argc, argv, options);
    return Run(argc, argv, options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
