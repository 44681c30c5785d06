#include "monitor/history/HistoryRecorder.h"

#include <sqlite3.h>

#include <QDateTime>
#include <chrono>
#include <filesystem>

#include "monitor/history/HistoryStore.h"
#include "platform/clock/ThreadTime.h"
#include "platform/filelock/FileLock.h"

namespace ombrix {

namespace {

// Samples waiting for the writer: twenty minutes of ticks at the default interval. A writer
// that is further behind than that lets the newest go rather than grow without bound.
constexpr std::size_t MostQueued = 600;
constexpr int FoldedPerSample = 30;  // minutes folded per sample while catching up
constexpr std::int64_t HourMs = 3600 * 1000;

std::int64_t SystemNow() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// "Ombrix.history.damaged-20240501-140312", with a number added when that name is taken.
std::string AsideName(const std::string& path, std::int64_t now) {
  const QString stamp = QDateTime::fromMSecsSinceEpoch(now).toString("yyyyMMdd-HHmmss");
  const std::string base = path + ".damaged-" + stamp.toStdString();
  std::string name = base;
  for (int n = 2; std::filesystem::exists(name); ++n) name = base + "-" + std::to_string(n);
  return name;
}

}  // namespace

THistoryRecorder::THistoryRecorder(THistoryOptions options) : options_(std::move(options)) {
  status_.Path = options_.Path;
  if (options_.Days <= 0) return;  // Off: not even the file is made
  Open();
  if (status_.State == THistoryState::Recording) writer_ = std::thread([this] { Run(); });
}

THistoryRecorder::~THistoryRecorder() {
  if (writer_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
  }
  store_.reset();
  lock_.reset();  // after the connection: closing the lock's handle must not meet it open
}

// Taken at once, so that a second monitor knows from its start that it records nothing.
void THistoryRecorder::Open() {
  lock_ = std::make_unique<platform::FileLock>(options_.Path);
  switch (lock_->Result()) {
    case platform::FileLock::LockResult::Held:
      status_.State = THistoryState::Recording;
      return;
    case platform::FileLock::LockResult::HeldByOther:
      status_.State = THistoryState::OtherRecorder;
      status_.Reason = "another Ombrix records to " + options_.Path;
      break;
    case platform::FileLock::LockResult::Failed:
      status_.State = THistoryState::Stopped;
      status_.Reason = "cannot open " + options_.Path + " (" + lock_->Error() + ")";
      notices_.push_back("History stopped: " + status_.Reason);
      break;
  }
  lock_.reset();
}

std::int64_t THistoryRecorder::Now() const {
  return options_.Now ? options_.Now() : SystemNow();
}

void THistoryRecorder::Add(THistorySample sample) {
  {
    std::lock_guard lock(mutex_);
    if (status_.State != THistoryState::Recording) return;
    if (queue_.size() >= MostQueued) {
      ++status_.Dropped;
      return;
    }
    queue_.push_back(std::move(sample));
  }
  wake_.notify_one();
}

std::vector<std::string> THistoryRecorder::TakeNotices() {
  std::lock_guard lock(mutex_);
  return std::exchange(notices_, {});
}

THistoryStatus THistoryRecorder::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void THistoryRecorder::Flush() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !writer_.joinable() || (queue_.empty() && !writing_); });
}

// What fell due while no monitor ran is done with the first sample.
void THistoryRecorder::Run() {
  OpenStore();
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) break;  // stopping, and all is written
    std::deque<THistorySample> batch;
    batch.swap(queue_);
    writing_ = true;
    lock.unlock();
    const std::uint64_t written = WriteBatch(batch);
    lock.lock();
    writing_ = false;
    status_.Written += written;
    status_.Dropped += batch.size() - written;
    if (status_.Written > 0)
      status_.CpuMsPerSample =
          static_cast<double>(cpuNs_) / 1e6 / static_cast<double>(status_.Written);
    idle_.notify_all();
  }
  idle_.notify_all();
}

// The samples written; those after a fault that stopped the recording are let go.
std::uint64_t THistoryRecorder::WriteBatch(const std::deque<THistorySample>& batch) {
  const std::int64_t before = platform::ThreadCpuNanoseconds();
  std::uint64_t written = 0;
  for (const THistorySample& sample : batch) {
    if (!store_) break;
    Write(sample);
    if (store_) ++written;
  }
  cpuNs_ += platform::ThreadCpuNanoseconds() - before;
  return written;
}

// A damaged file is moved aside and a new one started, once per run; a second damage, a
// file that is not a history of ours, or any other failure stops the recording.
void THistoryRecorder::OpenStore() {
  try {
    store_ = std::make_unique<THistoryStore>(options_.Path, THistoryStore::TAccess::Write);
    if (!store_->Healthy()) throw ESqliteError(SQLITE_CORRUPT, "damaged");
  } catch (const EHistoryForeign& e) {
    store_.reset();
    Stop(options_.Path + " is " + e.what() + "; it was left as it is");
  } catch (const std::exception& e) {
    store_.reset();
    Fault(e);
  }
}

void THistoryRecorder::Write(const THistorySample& sample) {
  try {
    store_->Append(sample);
    Maintain(sample.Time);
  } catch (const std::exception& e) {
    store_.reset();
    Fault(e);
    if (store_) Write(sample);  // into the new file that replaced a damaged one
  }
}

void THistoryRecorder::Fault(const std::exception& error) {
  const auto* sqlite = dynamic_cast<const ESqliteError*>(&error);
  if (sqlite != nullptr && sqlite->Damaged()) {
    ReplaceDamaged();
  } else if (sqlite != nullptr && sqlite->DiskFull()) {
    Stop("the disk of " + options_.Path + " is full");
  } else {
    Stop("cannot write " + options_.Path + " (" + error.what() + ")");
  }
}

// Stops the recording itself where it cannot start a new file.
void THistoryRecorder::ReplaceDamaged() {
  if (replaced_) {
    Stop(options_.Path + " is damaged again");
    return;
  }
  replaced_ = true;
  const std::string aside = AsideName(options_.Path, SystemNow());
  std::error_code failed;
  std::filesystem::rename(options_.Path, aside, failed);
  if (failed) {
    Stop(options_.Path + " is damaged and cannot be moved aside (" + failed.message() + ")");
    return;
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    std::error_code ignored;  // there may be none
    if (std::filesystem::exists(options_.Path + suffix, ignored))
      std::filesystem::rename(options_.Path + suffix, aside + suffix, ignored);
  }
  Notify("History: " + options_.Path + " was damaged; it was moved aside as " + aside +
         " and a new one started");
  // The new file is held before the old one is let go, so no other monitor takes it between.
  auto lock = std::make_unique<platform::FileLock>(options_.Path);
  if (lock->Result() != platform::FileLock::LockResult::Held) {
    Stop("cannot hold the new " + options_.Path + " (" + lock->Error() + ")");
    return;
  }
  lock_ = std::move(lock);
  OpenStore();
}

// Folding once a minute (more while catching up), dropping once an hour and the names no
// longer used once a day, all timed by the samples' own clock: a clock that jumps back
// restarts the schedule rather than leaving it waiting.
void THistoryRecorder::Maintain(std::int64_t now) {
  if (now < lastTime_) nextFold_ = nextDrop_ = nextNames_ = now;
  lastTime_ = now;
  if (now >= nextFold_) {
    const bool more = store_->Fold(now - options_.FullResolution, FoldedPerSample);
    nextFold_ = more ? now : MinuteOf(now) + MinuteMs;
  }
  if (now < nextDrop_) return;
  nextDrop_ = now + HourMs;
  if (!store_->Drop(now - options_.Days * DayMs) || now < nextNames_) return;
  store_->DropUnusedNames();
  nextNames_ = now + DayMs;
}

void THistoryRecorder::Stop(const std::string& reason) {
  store_.reset();
  {
    std::lock_guard lock(mutex_);
    status_.State = THistoryState::Stopped;
    status_.Reason = reason;
  }
  Notify("History stopped: " + reason);
}

void THistoryRecorder::Notify(const std::string& text) {
  std::lock_guard lock(mutex_);
  notices_.push_back(text);
}

}  // namespace ombrix
