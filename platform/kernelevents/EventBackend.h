// Which kernel event source a trace session runs on: the BPF backend where it loads (root, BPF
// and kernel type information), the procfs/netlink backend otherwise.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/kernelevents/EventSource.h"

namespace platform {

enum class TEventBackend {
  Automatic,  // BPF when it loads, else the primary backend
  Primary,    // the procfs/netlink backend only
  Bpf,        // the BPF backend only; the session fails to start when it cannot load
};

// Applies to sessions started afterwards.
void SelectEventBackend(TEventBackend backend);

// Whether this build has the BPF backend at all.
bool BpfBackendBuilt();

struct TEventSourceStats {
  std::string Backend = "none";  // "bpf", "procfs", or "none" while no session runs
  std::uint64_t Dropped = 0;     // events lost by the backend since its session started
};
TEventSourceStats EventSourceStats();

// The source the kernel logger opens: tries the backends in the selected order. When BPF was
// tried and failed, the errno of that attempt is the open result's FirstError.
class TPreferredEventSource final : public TEventSource {
 public:
  TPreferredEventSource();
  ~TPreferredEventSource() override;
  TSourceOpenResult Open(std::uint32_t enableFlags) override;
  void Poll(std::vector<TEventRecord>& out) override;
  void Wake() override;

 private:
  std::unique_ptr<TEventSource> chosen_;
  std::uint64_t (*dropped_)(TEventSource&) = nullptr;
};

}  // namespace platform
