// The completed-process log, Ombrix.log: the monitor's start and exit, and with LogProcesses
// on every process that finished, with the files and connections it used. It grows across
// runs; nothing here trims it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/model/Tables.h"
#include "platform/clock/LocalTime.h"

namespace ombrix {

extern TTextFile ProcessLog;

using LocalClock = std::function<platform::LocalTime()>;

// "hh:mm:ss" on the 24-hour clock.
std::string LogTimeStamp(const platform::LocalTime& t);
// The date alone in the user's short date format.
std::string LogDateLine(const platform::LocalTime& t);
// Whole seconds from one tick to another, halves to the even neighbour; 0 when the tick
// count wrapped below the start.
std::int64_t WatchedSeconds(std::uint32_t createdTick, std::uint32_t now);

// The program's start-up: opens the log (appending) at fileName and writes the start record.
void OpenProcessLog(const std::string& fileName, const std::string& programPath,
                    const LocalClock& clock = {});
void WriteStartRecord(const std::string& programPath, const LocalClock& clock = {});
void WriteStopRecord(const std::string& programPath, const LocalClock& clock = {});
// The program's close-down: flushed and closed last.
void CloseProcessLog();

// Writes the records of the processes a sweep removes, with their files and sockets.
class TProcessLogWriter : public TCompletionLog {
 public:
  explicit TProcessLogWriter(TBaseTrace& log, LocalClock clock = {});

  void ProcessDone(TProcessInfo& process) override;
  void FileDone(TFileInfo& file) override;
  void FilesDone(TProcessInfo& process) override;
  void SocketDone(TSocketInfo& socket) override;

 private:
  TBaseTrace& log_;
  LocalClock clock_;
  std::int64_t unnamedFiles_ = 0;
  std::int64_t unnamedIos_ = 0;
  std::int64_t unnamedBytes_ = 0;
};

}  // namespace ombrix
