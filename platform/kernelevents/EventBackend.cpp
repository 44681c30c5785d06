#include "platform/kernelevents/EventBackend.h"

#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/kernelevents/LinuxEventSource.h"
#include "platform/kernelevents/ProbeEventSource.h"

namespace platform {
namespace {

std::atomic<EventBackend> g_backend{EventBackend::Automatic};

std::mutex g_mutex;  // the probe path and the statistics
std::string g_probePath;

// The statistics of the most recently opened source; cleared when that source goes.
const void* g_statsOwner = nullptr;
EventSourceState g_stats;

std::string ProbePath() {
  std::lock_guard lock(g_mutex);
  return g_probePath.empty() ? DefaultProbePath() : g_probePath;
}

// Takes the statistics over for owner.
void Claim(const void* owner, const std::string& backend, const ProbeEventSource* probe) {
  std::lock_guard lock(g_mutex);
  if (g_statsOwner != owner) g_stats = EventSourceState{};
  g_statsOwner = owner;
  g_stats.Backend = backend;
  g_stats.Reason = probe != nullptr ? probe->Fault() : std::string();
  g_stats.Status = probe != nullptr ? probe->LastStatus() : 0;
}

void PublishDropped(const void* owner, std::uint64_t dropped) {
  std::lock_guard lock(g_mutex);
  if (g_statsOwner == owner) g_stats.Dropped = dropped;
}

}  // namespace

void SelectEventBackend(EventBackend backend) {
  g_backend.store(backend);
}

void SetProbePath(const std::string& path) {
  std::lock_guard lock(g_mutex);
  g_probePath = path;
}

bool ProbeBackendBuilt() {
#ifdef OMBRIX_HAVE_PROBE
  return true;
#else
  return false;
#endif
}

EventSourceState EventSourceStats() {
  std::lock_guard lock(g_mutex);
  return g_stats;
}

PreferredEventSource::PreferredEventSource() = default;

PreferredEventSource::~PreferredEventSource() {
  std::lock_guard lock(g_mutex);
  if (g_statsOwner == this) {
    g_statsOwner = nullptr;
    g_stats = EventSourceState{};
  }
}

SourceOpenResult PreferredEventSource::Open(std::uint32_t enableFlags) {
  enableFlags_ = enableFlags;
  const EventBackend backend = g_backend.load();
  if (backend == EventBackend::Primary) return OpenPrimary(enableFlags);
  auto probe = std::make_unique<ProbeEventSource>(ProbePath());
  const SourceOpenResult opened = probe->Open(enableFlags);
  if (opened.Opened) {
    std::lock_guard lock(swapMutex_);
    probe_ = probe.get();
    chosen_ = std::move(probe);
    Claim(this, "probe", nullptr);
    return opened;
  }
  const std::uint32_t error = opened.FirstError != 0 ? opened.FirstError : ENOSYS;
  if (backend == EventBackend::Probe) return {false, error};
  SourceOpenResult primary = OpenPrimary(enableFlags);
  Claim(this, "procfs", probe.get());
  primary.FirstError = error;
  return primary;
}

SourceOpenResult PreferredEventSource::OpenPrimary(std::uint32_t enableFlags) {
  auto primary = std::make_unique<LinuxEventSource>();
  const SourceOpenResult opened = primary->Open(enableFlags);
  {
    std::lock_guard lock(swapMutex_);
    retired_ = std::move(chosen_);
    chosen_ = std::move(primary);
    probe_ = nullptr;
  }
  if (opened.Opened) Claim(this, "procfs", nullptr);
  return opened;
}

// The probe stopped serving: the session goes on with polling, and says why.
void PreferredEventSource::FallBack() {
  const ProbeEventSource* probe = probe_;
  if (!OpenPrimary(enableFlags_).Opened) Claim(this, "none", nullptr);
  std::lock_guard lock(g_mutex);
  if (g_statsOwner != this) return;
  g_stats.Reason = probe->Fault();
  g_stats.Status = probe->LastStatus();
  ++g_stats.Faults;
}

void PreferredEventSource::Poll(std::vector<EventRecord>& out) {
  EventSource* source = nullptr;
  {
    std::lock_guard lock(swapMutex_);
    source = chosen_.get();
  }
  source->Poll(out);
  if (probe_ == nullptr) return;
  if (probe_->Serving())
    PublishDropped(this, probe_->Dropped());
  else
    FallBack();
}

void PreferredEventSource::Wake() {
  std::lock_guard lock(swapMutex_);
  if (chosen_) chosen_->Wake();
}

}  // namespace platform
