#include "tests/support/ReplayEventSource.h"

namespace ombrix::testing {

using namespace platform;

namespace {

// The logger owns its session's source; the test keeps the replay itself.
class TSharedSource final : public EventSource {
 public:
  explicit TSharedSource(std::shared_ptr<TReplayEventSource> source) : source_(std::move(source)) {}
  SourceOpenResult Open(std::uint32_t enableFlags) override { return source_->Open(enableFlags); }
  void Poll(std::vector<EventRecord>& out) override { source_->Poll(out); }
  void Wake() override { source_->Wake(); }

 private:
  std::shared_ptr<TReplayEventSource> source_;
};

}  // namespace

TReplayEventSource::TReplayEventSource(std::vector<Batch> batches, bool repeat)
    : script_(std::move(batches)), pending_(script_.begin(), script_.end()), repeat_(repeat) {}

void TReplayEventSource::FailOpen(std::uint32_t flags, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  failFlags_ = flags;
  failError_ = error;
}

void TReplayEventSource::Add(Batch batch) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(batch));
  }
  changed_.notify_all();
}

std::uint32_t TReplayEventSource::OpenedFlags() const {
  std::lock_guard lock(mutex_);
  return openedFlags_;
}

int TReplayEventSource::Polls() const {
  std::lock_guard lock(mutex_);
  return polls_;
}

bool TReplayEventSource::Drained() const {
  std::lock_guard lock(mutex_);
  return pending_.empty();
}

SourceOpenResult TReplayEventSource::Open(std::uint32_t enableFlags) {
  std::lock_guard lock(mutex_);
  openedFlags_ = enableFlags;
  const std::uint32_t failing = enableFlags & failFlags_;
  if (failing == 0) return {true, 0};
  return {(enableFlags & ~failFlags_) != 0, failError_};
}

void TReplayEventSource::Poll(Batch& out) {
  std::unique_lock lock(mutex_);
  ++polls_;
  if (pending_.empty() && repeat_) pending_.assign(script_.begin(), script_.end());
  changed_.wait(lock, [this] { return woken_ || !pending_.empty(); });
  if (woken_) {
    woken_ = false;
    return;
  }
  out.insert(out.end(), pending_.front().begin(), pending_.front().end());
  pending_.pop_front();
}

void TReplayEventSource::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  changed_.notify_all();
}

std::unique_ptr<KernelLogger> ReplayLogger(std::shared_ptr<TReplayEventSource> source) {
  return std::make_unique<KernelLogger>(
      [source] { return std::make_unique<TSharedSource>(source); });
}

}  // namespace ombrix::testing
