// A deterministic kernel event source: replays recorded batches of event records, one batch per
// poll, then waits (like a quiet real-time session) until more are added or it is woken.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/kernelevents/EventSource.h"
#include "platform/kernelevents/KernelLogger.h"

namespace ombrix::testing {

class TReplayEventSource final : public platform::EventSource {
 public:
  using Batch = std::vector<platform::EventRecord>;

  // Batches are handed out in order; with repeat they start over when all have gone, so that
  // events keep flowing.
  explicit TReplayEventSource(std::vector<Batch> batches = {}, bool repeat = false);

  // Sources behind these enable flags fail to open with error (as without a privilege).
  void FailOpen(std::uint32_t flags, std::uint32_t error);
  void Add(Batch batch);  // any thread

  std::uint32_t OpenedFlags() const;  // the enable flags Open was given
  int Polls() const;
  bool Drained() const;  // every batch handed out

  platform::SourceOpenResult Open(std::uint32_t enableFlags) override;
  void Poll(Batch& out) override;
  void Wake() override;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Batch> script_;
  std::deque<Batch> pending_;
  bool repeat_;
  bool woken_ = false;
  std::uint32_t failFlags_ = 0, failError_ = 0, openedFlags_ = 0;
  int polls_ = 0;
};

// A kernel logger whose every session replays this source (shared with the test).
std::unique_ptr<platform::KernelLogger> ReplayLogger(std::shared_ptr<TReplayEventSource> source);

}  // namespace ombrix::testing
