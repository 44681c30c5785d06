#include "platform/kernelevents/ProbeTasks.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace platform {
namespace {

// A probe that is gone is an error here, not a SIGPIPE that would end the program.
bool WriteQuietly(int fd, const std::vector<std::uint8_t>& bytes) {
  sigset_t pipeSignal, before;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
  ssize_t n = 0;
  do {
    n = write(fd, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  const timespec none{};
  while (sigtimedwait(&pipeSignal, nullptr, &none) == SIGPIPE) {
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return n == static_cast<ssize_t>(bytes.size());
}

}  // namespace

ProbeTaskChannel::ProbeTaskChannel(os::Fd requestFd) : requestFd_(std::move(requestFd)) {}

ProbeTaskChannel::~ProbeTaskChannel() {
  Close();
}

bool ProbeTaskChannel::Request(TaskTable& table, int timeoutMs) {
  std::unique_lock lock(mutex_);
  if (!requestFd_) return false;
  waiting_ = true;
  ready_ = false;
  building_.Clear();
  if (!WriteQuietly(requestFd_.Get(), probe::TaskRequestFrame(++sequence_)))
    return waiting_ = false;
  const bool answered = answered_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                           [&] { return ready_ || !requestFd_; });
  waiting_ = false;
  if (!answered || !ready_ || answer_.Processes.empty()) return false;
  table = std::move(answer_);
  answer_.Clear();
  return true;
}

bool ProbeTaskChannel::Take(const probe::Frame& frame, std::string& error) {
  std::uint32_t sequence = 0;
  bool last = false;
  TaskTable part;
  if (!probe::ReadTasks(frame, sequence, last, part, error)) return false;
  std::lock_guard lock(mutex_);
  if (!waiting_ || sequence != sequence_) return true;  // the answer to a request given up
  const auto offset = static_cast<std::uint32_t>(building_.Threads.size());
  for (TaskProcess& p : part.Processes) {
    p.FirstThread += offset;
    building_.Processes.push_back(std::move(p));
  }
  building_.Threads.insert(building_.Threads.end(), part.Threads.begin(), part.Threads.end());
  if (!last) return true;
  answer_ = std::move(building_);
  building_.Clear();
  ready_ = true;
  answered_.notify_all();
  return true;
}

void ProbeTaskChannel::Close() {
  std::lock_guard lock(mutex_);
  requestFd_.Reset();
  answered_.notify_all();
}

}  // namespace platform
