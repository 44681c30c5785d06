// One moment of the machine as the history keeps it: the four indicator figures and the top
// consumers of each resource, by name and process id. A tick's sample stands for one tick; a
// folded sample for the ticks of one minute.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ombrix {

// What a consumer is ranked by. Processes by processor, working set, disk I/O bytes and IP
// bytes per second; files and sockets by bytes per second.
enum class TConsumerKind : int {
  Processor = 0,
  WorkingSet = 1,
  DiskIo = 2,
  Network = 3,
  File = 4,
  Socket = 5
};
inline constexpr int ConsumerKindCount = 6;
// How many of each kind a sample keeps.
inline constexpr std::array<int, ConsumerKindCount> ConsumersKept{5, 5, 5, 5, 3, 3};

inline int KeptOf(TConsumerKind kind) {
  return ConsumersKept[static_cast<std::size_t>(kind)];
}

struct TConsumer {
  TConsumerKind Kind = TConsumerKind::Processor;
  std::uint32_t ProcessId = 0;
  std::string Name;     // the process's name, the file's path, or the socket's remote end
  std::string Process;  // the owning process's name for files and sockets; empty for processes
  double Value = 0;     // percent (processor), bytes (working set), else bytes per second
  bool operator==(const TConsumer&) const = default;
};

// The indicator figures in percent.
struct TFigureSet {
  double Processor = 0;
  double Memory = 0;
  double Disk = 0;
  double Network = 0;
  bool operator==(const TFigureSet&) const = default;
};

inline constexpr std::int64_t MinuteMs = 60000;
inline constexpr std::int64_t DayMs = 24 * 3600 * 1000;

struct THistorySample {
  std::int64_t Time = 0;   // milliseconds since 1970 (UTC): the tick's end, or the minute's start
  std::int64_t Span = 0;   // milliseconds it covers
  std::int64_t Ticks = 1;  // ticks it stands for
  bool Folded = false;
  TFigureSet Mean;
  TFigureSet Peak;  // the largest of the ticks; a tick's own figures
  // By kind, largest first within a kind, at most KeptOf(kind) of each.
  std::vector<TConsumer> Consumers;
};

// Start of the minute that time falls in (times before 1970 round down too).
inline std::int64_t MinuteOf(std::int64_t time) {
  const std::int64_t minute = time / MinuteMs * MinuteMs;
  return minute > time ? minute - MinuteMs : minute;
}

}  // namespace ombrix
