// Which kernel event source a trace session runs on: the privileged helper (ombrix-probe) where
// it is installed beside the program and may load its kernel programs, the procfs/netlink
// backend otherwise, or when the probe stops serving mid-session.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/kernelevents/EventSource.h"

namespace platform {

class ProbeEventSource;

enum class EventBackend {
  Automatic,  // the probe when it serves, else the primary backend
  Primary,    // the procfs/netlink backend only
  Probe,      // the probe only; the session fails to start when it does not serve
};

// Apply to sessions started afterwards. An empty probe path means the one beside the program.
void SelectEventBackend(EventBackend backend);
void SetProbePath(const std::string& path);

// Whether this build has the probe (and so the kernel programs) at all.
bool ProbeBackendBuilt();

struct EventSourceState {
  std::string Backend = "none";  // "probe", "procfs", or "none" while no session runs
  std::uint64_t Dropped = 0;     // events lost by the backend since its session started
  // Why the session does not run on the probe ("probe: not permitted (run: ...)"); empty
  // while it does.
  std::string Reason;
  std::uint32_t Status = 0;  // the errno behind Reason
  std::uint64_t Faults = 0;  // times the probe stopped serving mid-session, so far
};
EventSourceState EventSourceStats();

// The source the kernel logger opens: tries the backends in the selected order. When the probe
// was tried and failed, its errno is the open result's FirstError. A probe that stops serving is
// replaced by the primary backend within one poll, the model's sessions going on.
class PreferredEventSource final : public EventSource {
 public:
  PreferredEventSource();
  ~PreferredEventSource() override;
  SourceOpenResult Open(std::uint32_t enableFlags) override;
  void Poll(std::vector<EventRecord>& out) override;
  void Wake() override;

 private:
  SourceOpenResult OpenPrimary(std::uint32_t enableFlags);
  void FallBack();

  std::uint32_t enableFlags_ = 0;
  // Wake may come from any thread while Poll runs: the source is swapped under this lock, and
  // the probe that stopped serving stays (idle) until the end, so that no Wake reaches a freed
  // source.
  std::mutex swapMutex_;
  std::unique_ptr<EventSource> chosen_;
  std::unique_ptr<EventSource> retired_;
  ProbeEventSource* probe_ = nullptr;  // chosen_, while that is the probe
};

}  // namespace platform
