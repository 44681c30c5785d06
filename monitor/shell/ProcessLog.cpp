#include "monitor/shell/ProcessLog.h"

#include <cstdio>

#include <QDate>
#include <QLocale>

#include "monitor/settings/Settings.h"
#include "platform/tickcount/TickCount.h"

namespace ombrix {

TTextFile ProcessLog;

namespace {

constexpr const char* Continuation = "                   ";  // nineteen blanks

platform::LocalTime Now(const LocalClock& clock) {
  return clock ? clock() : platform::LocalTimeNow();
}

void WriteRecord(TBaseTrace& log, const platform::LocalTime& t, const char* prefix,
                 const std::string& text) {
  log.WriteLine(LogDateLine(t));
  log.WriteLine(LogTimeStamp(t) + prefix + text);
}

}  // namespace

std::string LogTimeStamp(const platform::LocalTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.Hour % 100, t.Minute % 100, t.Second % 100);
  return text;
}

std::string LogDateLine(const platform::LocalTime& t) {
  return QLocale::system()
      .toString(QDate(t.Year, t.Month, t.Day), QLocale::ShortFormat)
      .toStdString();
}

std::int64_t WatchedSeconds(std::uint32_t createdTick, std::uint32_t now) {
  if (now < createdTick) return 0;
  const std::uint32_t ms = now - createdTick;
  std::int64_t seconds = ms / 1000;
  const std::uint32_t rest = ms % 1000;
  if (rest > 500 || (rest == 500 && seconds % 2 == 1)) ++seconds;
  return seconds;
}

void OpenProcessLog(const std::string& fileName, const std::string& programPath,
                    const LocalClock& clock) {
  ProcessLog.OpenAppend(fileName);
  WriteStartRecord(programPath, clock);
}

void WriteStartRecord(const std::string& programPath, const LocalClock& clock) {
  WriteRecord(ProcessLog, Now(clock), "  Start    ", programPath);
  ProcessLog.Flush();
}

void WriteStopRecord(const std::string& programPath, const LocalClock& clock) {
  WriteRecord(ProcessLog, Now(clock), "  Stop     ", programPath);
}

void CloseProcessLog() {
  ProcessLog.Flush();
  ProcessLog.Close();
}

TProcessLogWriter::TProcessLogWriter(TBaseTrace& log, LocalClock clock)
    : log_(log), clock_(std::move(clock)) {}

void TProcessLogWriter::ProcessDone(TProcessInfo& process) {
  unnamedFiles_ = unnamedIos_ = unnamedBytes_ = 0;
  if (!Settings.LogProcesses) return;
  const std::int64_t seconds = WatchedSeconds(process.CreatedTick, platform::GetTickCount());
  WriteRecord(log_, Now(clock_), "  Process  ",
              process.Name + (process.Partial ? "  (partial)" : ""));
  log_.WriteLine(std::string(Continuation) + "ProcessId: " + std::to_string(process.ProcessId) +
                 ", Elapsed: " + std::to_string(seconds) + " seconds");
}

void TProcessLogWriter::FileDone(TFileInfo& file) {
  if (!Settings.LogProcesses) return;
  file.ResolveName();
  if (!file.NameResolved) {
    ++unnamedFiles_;
    unnamedIos_ += file.IoCount;
    unnamedBytes_ += file.ByteCount;
    return;
  }
  if (file.IoCount <= 0) return;
  log_.WriteLine("          File     " + file.Directory + file.Name);
  log_.WriteLine(std::string(Continuation) + "Counts: " + std::to_string(file.IoCount) + " IOs, " +
                 std::to_string(file.ByteCount) + " bytes transferred");
}

void TProcessLogWriter::FilesDone(TProcessInfo& /*process*/) {
  if (!Settings.LogProcesses || unnamedIos_ <= 0) return;
  log_.WriteLine("          File     <unknown>");
  log_.WriteLine(std::string(Continuation) + "Counts: " + std::to_string(unnamedFiles_) +
                 " files, " + std::to_string(unnamedIos_) + " IOs, " +
                 std::to_string(unnamedBytes_) + " bytes transferred");
}

void TProcessLogWriter::SocketDone(TSocketInfo& socket) {
  if (!Settings.LogProcesses || socket.PacketCount == 0) return;
  log_.WriteLine("          Socket   " + socket.GetName());
  log_.WriteLine(std::string(Continuation) + "Remote Host: " + socket.RemoteHostName());
  log_.WriteLine(std::string(Continuation) + "Counts: " + std::to_string(socket.PacketCount) +
                 " packets, " + std::to_string(socket.ByteCount) + " bytes transferred");
}

}  // namespace ombrix
