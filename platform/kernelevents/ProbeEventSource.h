// The event source that runs the kernel programs in ombrix-probe, the privileged helper: it
// starts the probe beside the program, asks it for the classes the session wants and reads its
// records over a pipe. While it serves, it also offers the probe's task table to the
// performance data (see TaskTable.h). The stream is untrusted input; when it breaks or the probe
// ends, the source says why and serves nothing more (the caller then falls back to polling).
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/kernelevents/EventSource.h"
#include "platform/kernelevents/ProbeStream.h"
#include "platform/kernelevents/ProbeTasks.h"
#include "platform/linux/Handle.h"
#include "platform/linux/Wake.h"

namespace platform {

// The capabilities the probe needs on this kernel, in setcap's syntax.
std::string ProbeCapabilities();

// ombrix-probe beside the running program.
std::string DefaultProbePath();

class ProbeEventSource final : public EventSource {
 public:
  explicit ProbeEventSource(std::string probePath, int answerTimeoutMs = 10000);
  ~ProbeEventSource() override;
  ProbeEventSource(const ProbeEventSource&) = delete;
  ProbeEventSource& operator=(const ProbeEventSource&) = delete;

  SourceOpenResult Open(std::uint32_t enableFlags) override;
  void Poll(std::vector<EventRecord>& out) override;
  void Wake() override;

  // While serving: nothing. After a failed Open or once the probe stopped serving: why, as a
  // line for the user ("probe: not permitted (run: ...)"), and an errno for LastStatus.
  std::string Fault() const;
  std::uint32_t LastStatus() const { return status_; }
  bool Serving() const { return fd_.Valid(); }
  std::uint64_t Dropped() const { return dropped_; }
  probe::ViewScope Scope() const { return scope_; }
  pid_t ProbePid() const { return pid_; }

 private:
  bool Spawn();
  bool AwaitAnswer(SourceOpenResult& opened);
  void OfferTasks();
  bool TakeFrames(std::vector<EventRecord>& out);
  bool HandleFrame(const probe::Frame& frame, std::vector<EventRecord>& out);
  void Fail(std::uint32_t status, const std::string& why);
  std::string ExitText();
  void Stop();

  std::string path_;
  int answerTimeoutMs_;
  os::Fd fd_;         // the stream from the probe
  os::Fd requestFd_;  // our end of the probe's standard input; closing it ends the probe
  os::WakeEvent wake_;
  pid_t pid_ = -1;
  int exitStatus_ = -1;  // as waitpid gave it, once reaped
  probe::FrameReader reader_;
  probe::ViewScope scope_ = probe::ViewScope::OwnProcesses;
  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<std::uint32_t> status_{0};
  mutable std::mutex faultMutex_;
  std::string fault_;
  std::shared_ptr<ProbeTaskChannel> tasks_;  // offered to the performance data while serving
};

}  // namespace platform
