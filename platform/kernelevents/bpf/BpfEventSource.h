// The high-fidelity backend: kernel programs on block requests, socket calls and process
// starts fill one ring buffer, which Poll drains on a fixed clock. Needs the capabilities to load
// BPF, a kernel with these tracepoints and its type information; Open reports the errno when it
// cannot load. Once open it needs no privilege: the ring and the drop count are mapped memory.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/kernelevents/EventSource.h"
#include "platform/kernelevents/bpf/BpfDecoder.h"
#include "platform/linux/Wake.h"

struct ombrix_events;
struct ring_buffer;
struct bpf_link;
struct bpf_program;

namespace platform {

class BpfEventSource final : public EventSource {
 public:
  // The ring is drained every drainPeriodMs (50 to 100 keeps the buffer far from full at
  // hundreds of thousands of events per second, at a fraction of the cost of a wake-up each).
  explicit BpfEventSource(int drainPeriodMs = 75, BpfSystem system = BpfSystem::Running(),
                          BpfViewer viewer = {});
  ~BpfEventSource() override;

  SourceOpenResult Open(std::uint32_t enableFlags) override;
  void Poll(std::vector<EventRecord>& out) override;
  void Wake() override;

  // After an Open for more classes than are wanted now: what opening only these would have
  // given, and from now on records of these classes only.
  SourceOpenResult Narrow(std::uint32_t enableFlags);
  // Takes what the ring holds now, without waiting.
  void Drain(RecordSink& out);

  // Events the kernel side could not write because the ring was full, since Open.
  std::uint64_t Dropped() const;
  // The task iterator's records of every task now (ombrix_thread_record and
  // ombrix_leader_record, as BpfEvents.h lays them out); false when it cannot be read.
  bool ReadTaskRecords(std::vector<std::uint8_t>& out) const;
  // Whether a received datagram is recorded with its own source (where the kernel lets a program
  // hook the function that hands it over), not only its socket's remote end.
  bool DatagramSources() const { return datagramSources_; }

 private:
  static int OnEvent(void* context, void* data, std::size_t size);
  std::vector<std::pair<std::uint32_t, std::vector<bpf_program*>>> Classes() const;
  int Load(std::uint32_t enableFlags);
  int AttachClass(const std::vector<bpf_program*>& programs);

  int drainPeriodMs_;
  BpfSystem system_;
  BpfViewer viewer_;
  std::vector<std::pair<std::uint32_t, int>> classErrors_;  // enable flags, errno (0: attached)
  os::WakeEvent wake_;
  std::int64_t nextDrainMs_ = 0;
  ombrix_events* skeleton_ = nullptr;
  bool datagramSources_ = false;  // received datagrams carry their own source
  ring_buffer* ring_ = nullptr;
  std::unique_ptr<BpfDecoder> decoder_;
  std::vector<bpf_link*> links_;
  bpf_link* taskIterator_ = nullptr;
  RecordSink* sink_ = nullptr;
};

}  // namespace platform
