#include "platform/network/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QMetaObject>
#include <QObject>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>

namespace platform {

std::string ReverseLookup(std::uint32_t address, int& error) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(address);
  char host[NI_MAXHOST] = {};
  error = getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr,
                      0, NI_NAMEREQD);
  if (error != 0) return {};
  in_addr numeric{};
  if (host[0] == '\0' || inet_pton(AF_INET, host, &numeric) == 1) {
    error = EAI_NONAME;
    return {};
  }
  return host;
}

namespace {

// What the workers and the service share; it outlives the service while a worker is still
// stuck in a lookup.
struct LookupQueue {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::pair<LookupTask, std::uint32_t>> waiting;
  std::unordered_set<LookupTask> cancelled;      // taken by a worker, answer no longer wanted
  QObject* receiver = nullptr;                   // none once the service is gone
  HostLookup::Completion* completion = nullptr;  // used on the receiver's thread only
  bool stopping = false;
};

class QueuedHostLookup final : public HostLookup {
 public:
  QueuedHostLookup() : queue_(std::make_shared<LookupQueue>()) {
    queue_->receiver = &receiver_;
    queue_->completion = &completion_;
  }

  ~QueuedHostLookup() override {
    {
      std::lock_guard guard(queue_->lock);
      queue_->stopping = true;
      queue_->receiver = nullptr;  // no worker posts after this
      queue_->completion = nullptr;
      queue_->waiting.clear();
    }
    queue_->wake.notify_all();
    // A worker may sit in a resolver timeout for seconds: let it finish on its own.
    for (auto& worker : workers_) worker.detach();
  }

  void SetCompletion(Completion completion) override { completion_ = std::move(completion); }

  LookupTask Start(std::uint32_t address) override {
    if (++lastTask_ == 0) ++lastTask_;
    const LookupTask task = lastTask_;
    {
      std::lock_guard guard(queue_->lock);
      queue_->waiting.emplace_back(task, address);
      queue_->cancelled.erase(task);
    }
    if (workers_.size() < WorkerCount) workers_.emplace_back(Work, queue_);
    queue_->wake.notify_one();
    return task;
  }

  void Cancel(LookupTask task) override {
    std::lock_guard guard(queue_->lock);
    auto& waiting = queue_->waiting;
    const auto before = waiting.size();
    std::erase_if(waiting, [task](const auto& item) { return item.first == task; });
    if (waiting.size() == before) queue_->cancelled.insert(task);
  }

 private:
  static constexpr std::size_t WorkerCount = 2;

  static void Work(std::shared_ptr<LookupQueue> queue) {
    std::unique_lock guard(queue->lock);
    for (;;) {
      queue->wake.wait(guard, [&] { return queue->stopping || !queue->waiting.empty(); });
      if (queue->stopping) return;
      const LookupTask task = queue->waiting.front().first;
      const std::uint32_t address = queue->waiting.front().second;
      queue->waiting.pop_front();
      guard.unlock();
      int error = 0;
      std::string name = ReverseLookup(address, error);
      guard.lock();
      if (queue->stopping) return;
      if (queue->cancelled.erase(task) > 0) continue;
      // Posted under the lock, so the receiver cannot be destroyed meanwhile.
      QMetaObject::invokeMethod(
          queue->receiver,
          [queue, task, error, name = std::move(name)] { Deliver(queue, task, error, name); },
          Qt::QueuedConnection);
    }
  }

  // On the receiver's thread; the receiver (and so the service) still exists.
  static void Deliver(const std::shared_ptr<LookupQueue>& queue, LookupTask task, int error,
                      const std::string& name) {
    Completion* completion = nullptr;
    {
      std::lock_guard guard(queue->lock);
      if (queue->cancelled.erase(task) > 0) return;
      completion = queue->completion;
    }
    if (completion != nullptr && *completion) (*completion)(task, error, name);
  }

  std::shared_ptr<LookupQueue> queue_;
  QObject receiver_;  // lives on the creating thread; completions are queued to it
  std::vector<std::thread> workers_;
  Completion completion_;
  LookupTask lastTask_ = 0;
};

}  // namespace

std::unique_ptr<HostLookup> CreateHostLookup() {
  return std::make_unique<QueuedHostLookup>();
}

}  // namespace platform
