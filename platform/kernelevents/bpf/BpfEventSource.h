// The high-fidelity backend: kernel programs on block requests, socket calls and process
// starts fill one ring buffer, which Poll drains on a fixed clock. Needs root, a kernel with
// these tracepoints and BPF; Open reports the errno when it cannot load.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/kernelevents/EventSource.h"
#include "platform/kernelevents/bpf/BpfDecoder.h"

struct ombrix_events;
struct ring_buffer;
struct bpf_link;
struct bpf_program;

namespace platform {

class TBpfEventSource final : public TEventSource {
 public:
  // The ring is drained every drainPeriodMs (50 to 100 keeps the buffer far from full at
  // hundreds of thousands of events per second, at a fraction of the cost of a wake-up each).
  explicit TBpfEventSource(int drainPeriodMs = 75, TBpfSystem system = TBpfSystem::Running());
  ~TBpfEventSource() override;

  TSourceOpenResult Open(std::uint32_t enableFlags) override;
  void Poll(std::vector<TEventRecord>& out) override;
  void Wake() override;

  // Events the kernel side could not write because the ring was full, since Open.
  std::uint64_t Dropped() const;

 private:
  static int OnEvent(void* context, void* data, std::size_t size);
  int AttachClass(const std::vector<bpf_program*>& programs);

  int drainPeriodMs_;
  TBpfSystem system_;
  int wakeFd_ = -1;
  std::int64_t nextDrainMs_ = 0;
  ombrix_events* skeleton_ = nullptr;
  ring_buffer* ring_ = nullptr;
  std::unique_ptr<TBpfDecoder> decoder_;
  std::vector<bpf_link*> links_;
  std::vector<TEventRecord>* sink_ = nullptr;
};

}  // namespace platform
