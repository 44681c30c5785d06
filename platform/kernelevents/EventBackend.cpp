#include "platform/kernelevents/EventBackend.h"

#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/kernelevents/LinuxEventSource.h"
#ifdef OMBRIX_HAVE_BPF_EVENTS
#include "platform/kernelevents/bpf/BpfEventSource.h"
#endif

namespace platform {
namespace {

std::atomic<TEventBackend> g_backend{TEventBackend::Automatic};

// The statistics of the most recently opened source; cleared when that source goes.
std::mutex g_statsMutex;
const void* g_statsOwner = nullptr;
TEventSourceStats g_stats;

void Publish(const void* owner, const char* backend, std::uint64_t dropped) {
  std::lock_guard lock(g_statsMutex);
  if (backend != nullptr) g_statsOwner = owner;
  if (g_statsOwner != owner) return;
  if (backend != nullptr) g_stats.Backend = backend;
  g_stats.Dropped = dropped;
}

}  // namespace

void SelectEventBackend(TEventBackend backend) {
  g_backend.store(backend);
}

bool BpfBackendBuilt() {
#ifdef OMBRIX_HAVE_BPF_EVENTS
  return true;
#else
  return false;
#endif
}

TEventSourceStats EventSourceStats() {
  std::lock_guard lock(g_statsMutex);
  return g_stats;
}

TPreferredEventSource::TPreferredEventSource() = default;

TPreferredEventSource::~TPreferredEventSource() {
  std::lock_guard lock(g_statsMutex);
  if (g_statsOwner == this) {
    g_statsOwner = nullptr;
    g_stats = TEventSourceStats{};
  }
}

TSourceOpenResult TPreferredEventSource::Open(std::uint32_t enableFlags) {
  const TEventBackend backend = g_backend.load();
  std::uint32_t bpfError = 0;
#ifdef OMBRIX_HAVE_BPF_EVENTS
  if (backend != TEventBackend::Primary) {
    auto bpf = std::make_unique<TBpfEventSource>();
    const TSourceOpenResult opened = bpf->Open(enableFlags);
    if (opened.Opened) {
      chosen_ = std::move(bpf);
      dropped_ = [](TEventSource& source) {
        return static_cast<TBpfEventSource&>(source).Dropped();
      };
      Publish(this, "bpf", 0);
      return opened;
    }
    bpfError = opened.FirstError != 0 ? opened.FirstError : ENOSYS;
  }
#endif
  if (backend == TEventBackend::Bpf) return {false, bpfError != 0 ? bpfError : ENOSYS};
  chosen_ = std::make_unique<TLinuxEventSource>();
  TSourceOpenResult opened = chosen_->Open(enableFlags);
  if (opened.Opened) Publish(this, "procfs", 0);
  if (bpfError != 0) opened.FirstError = bpfError;
  return opened;
}

void TPreferredEventSource::Poll(std::vector<TEventRecord>& out) {
  chosen_->Poll(out);
  if (dropped_ != nullptr) Publish(this, nullptr, dropped_(*chosen_));
}

void TPreferredEventSource::Wake() {
  if (chosen_) chosen_->Wake();
}

}  // namespace platform
