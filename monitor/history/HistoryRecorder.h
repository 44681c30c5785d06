// The history's writer: takes each tick's sample and writes it to the history file on a
// thread of its own, folds what is older than a day into minutes and drops what is older
// than the days kept. One recorder per file: a second finds the file held and records
// nothing. A fault never reaches the tick: recording stops (or starts a new file in place of
// a damaged one) and says so once.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/history/HistorySample.h"

namespace platform {
class FileLock;
}

namespace ombrix {

class THistoryStore;

struct THistoryOptions {
  std::string Path;
  std::int32_t Days = 7;  // 0 records nothing
  // Milliseconds since 1970, the samples' stamps; the system's wall clock when none is
  // given. Asked on the caller's thread only (Now()); the recorder goes by the samples' times.
  std::function<std::int64_t()> Now;
  std::int64_t FullResolution = DayMs;  // ticks younger than this are not folded
};

enum class THistoryState {
  Off,  // HistoryDays is 0
  Recording,
  OtherRecorder,  // another monitor holds the file
  Stopped,        // a fault ended the recording (Reason says which)
};

struct THistoryStatus {
  THistoryState State = THistoryState::Off;
  std::string Path;
  std::string Reason;
  std::uint64_t Written = 0;  // samples written by this recorder
  std::uint64_t Dropped = 0;  // samples let go while the writer was behind or stopped
  double CpuMsPerSample = 0;  // the writer's processor time per sample written
};

class THistoryRecorder {
 public:
  explicit THistoryRecorder(THistoryOptions options);
  // Writes what is still queued, then closes the file.
  ~THistoryRecorder();
  THistoryRecorder(const THistoryRecorder&) = delete;
  THistoryRecorder& operator=(const THistoryRecorder&) = delete;

  // Queues one tick's sample; never waits for the disk.
  void Add(THistorySample sample);
  // What the user is to be told, each message once: the recording stopped, or a damaged
  // file was moved aside.
  std::vector<std::string> TakeNotices();
  THistoryStatus Status() const;
  // Waits until every sample added so far is written or let go.
  void Flush();
  // The wall clock the samples are stamped with, in milliseconds since 1970.
  std::int64_t Now() const;

 private:
  void Run();
  void Open();
  void OpenStore();
  std::uint64_t WriteBatch(const std::deque<THistorySample>& batch);
  void Write(const THistorySample& sample);
  void Maintain(std::int64_t now);
  void Fault(const std::exception& error);
  void ReplaceDamaged();
  void Stop(const std::string& reason);
  void Notify(const std::string& text);

  THistoryOptions options_;
  std::unique_ptr<platform::FileLock> lock_;
  std::unique_ptr<THistoryStore> store_;  // the writer thread's alone
  bool replaced_ = false;                 // a damaged file was replaced in this run
  std::int64_t lastTime_ = 0, nextFold_ = 0, nextDrop_ = 0, nextNames_ = 0;
  std::int64_t cpuNs_ = 0;  // the writer's processor time spent on samples

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable wake_, idle_;
  std::deque<THistorySample> queue_;
  bool stopping_ = false;
  bool writing_ = false;
  THistoryStatus status_;
  std::vector<std::string> notices_;
  std::thread writer_;
};

}  // namespace ombrix
