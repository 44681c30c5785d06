#include "platform/kernelevents/bpf/BpfEventSource.h"

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "ombrix_events.skel.h"
#include "platform/linux/Handle.h"

namespace platform {
namespace {

// The library's own messages would go to the terminal of a tray program; the errno that comes
// back says what went wrong.
int Quiet(libbpf_print_level, const char*, va_list) {
  return 0;
}

int ErrnoOf(long result) {
  return result < 0 ? static_cast<int>(-result) : (errno != 0 ? errno : EINVAL);
}

}  // namespace

BpfEventSource::BpfEventSource(int drainPeriodMs, BpfSystem system, BpfViewer viewer)
    : drainPeriodMs_(drainPeriodMs), system_(std::move(system)), viewer_(viewer) {}

BpfEventSource::~BpfEventSource() {
  if (taskIterator_ != nullptr) bpf_link__destroy(taskIterator_);
  for (bpf_link* link : links_) bpf_link__destroy(link);
  if (ring_ != nullptr) ring_buffer__free(ring_);
  if (skeleton_ != nullptr) ombrix_events__destroy(skeleton_);
}

// Attaches every program of one event class; on a failure the class is given up whole, so
// that no class is delivered half (a completion without its start, say).
int BpfEventSource::AttachClass(const std::vector<bpf_program*>& programs) {
  std::vector<bpf_link*> attached;
  for (bpf_program* program : programs) {
    errno = 0;
    bpf_link* link = bpf_program__attach(program);
    if (link == nullptr) {
      const int error = errno != 0 ? errno : ENOENT;
      for (bpf_link* done : attached) bpf_link__destroy(done);
      return error;
    }
    attached.push_back(link);
  }
  links_.insert(links_.end(), attached.begin(), attached.end());
  return 0;
}

std::vector<std::pair<std::uint32_t, std::vector<bpf_program*>>> BpfEventSource::Classes() const {
  auto& p = skeleton_->progs;
  return {
      {EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_DISK_FILE_IO,
       {p.io_start, p.rq_issue, p.rq_complete}},
      // The datagrams' ends are noted before the socket calls that use them.
      {EVENT_TRACE_FLAG_NETWORK_TCPIP, {p.udp_leaving, p.sock_send, p.sock_recv}},
      {EVENT_TRACE_FLAG_PROCESS, {p.proc_exec, p.proc_fork}},
  };
}

// Opens and loads the programs of the wanted classes. The program on received datagrams hooks a
// kernel function, which not every kernel lets a program do: when the whole will not load with
// it, it loads without, and received datagrams keep their socket's remote end.
int BpfEventSource::Load(std::uint32_t enableFlags) {
  const bool net = (enableFlags & EVENT_TRACE_FLAG_NETWORK_TCPIP) != 0;
  for (const bool arriving : {true, false}) {
    if (skeleton_ != nullptr) ombrix_events__destroy(skeleton_);
    skeleton_ = ombrix_events__open();
    if (skeleton_ == nullptr) return ErrnoOf(0);
    for (const auto& [flags, programs] : Classes())
      for (bpf_program* program : programs)
        bpf_program__set_autoload(program, (enableFlags & flags) != 0);
    bpf_program__set_autoload(skeleton_->progs.udp_arriving, net && arriving);
    const int result = ombrix_events__load(skeleton_);
    datagramSources_ = result == 0 && net && arriving;
    if (result == 0 || !net || !arriving) return result == 0 ? 0 : ErrnoOf(result);
  }
  return EINVAL;
}

SourceOpenResult BpfEventSource::Open(std::uint32_t enableFlags) {
  if (!wake_.Valid()) return {false, static_cast<std::uint32_t>(errno)};
  libbpf_set_print(Quiet);
  constexpr std::uint32_t kTraced = EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_DISK_FILE_IO |
                                    EVENT_TRACE_FLAG_NETWORK_TCPIP | EVENT_TRACE_FLAG_PROCESS;
  if ((enableFlags & kTraced) == 0) return {true, 0};  // nothing here to trace; nothing to fail
  if (const int error = Load(enableFlags); error != 0)
    return {false, static_cast<std::uint32_t>(error)};
  // The task table is no event class: a kernel without the iterator goes without it.
  taskIterator_ = bpf_program__attach_iter(skeleton_->progs.task_table, nullptr);
  if (datagramSources_ && AttachClass({skeleton_->progs.udp_arriving}) != 0)
    datagramSources_ = false;
  for (const auto& [flags, programs] : Classes())
    // A kernel without one of the tracepoints loses that class only.
    if (enableFlags & flags) classErrors_.emplace_back(flags, AttachClass(programs));
  const SourceOpenResult opened = Narrow(enableFlags);
  if (!opened.Opened) return opened;
  errno = 0;
  ring_ = ring_buffer__new(bpf_map__fd(skeleton_->maps.events), OnEvent, this, nullptr);
  if (ring_ == nullptr) return {false, static_cast<std::uint32_t>(ErrnoOf(0))};
  nextDrainMs_ = os::MonotonicMs() + drainPeriodMs_;
  return opened;
}

SourceOpenResult BpfEventSource::Narrow(std::uint32_t enableFlags) {
  SourceOpenResult opened;
  for (const auto& [flags, error] : classErrors_) {
    if ((enableFlags & flags) == 0) continue;
    if (error == 0)
      opened.Opened = true;
    else if (opened.FirstError == 0)
      opened.FirstError = static_cast<std::uint32_t>(error);
  }
  decoder_ = std::make_unique<BpfDecoder>(system_, enableFlags, viewer_);
  return opened;
}

int BpfEventSource::OnEvent(void* context, void* data, std::size_t size) {
  auto* self = static_cast<BpfEventSource*>(context);
  if (self->sink_ != nullptr) self->decoder_->Decode(data, size, *self->sink_);
  return 0;
}

void BpfEventSource::Poll(std::vector<EventRecord>& out) {
  // Opened for nothing, the source waits for the stop like any other.
  const int period = ring_ == nullptr ? drainPeriodMs_ : 0;
  const auto wait = std::max<std::int64_t>(period, nextDrainMs_ - os::MonotonicMs());
  pollfd fd{wake_.Fd(), POLLIN, 0};
  if (poll(&fd, 1, static_cast<int>(wait)) > 0) {
    wake_.Clear();
    return;
  }
  RecordList list(out);
  Drain(list);
  nextDrainMs_ = os::MonotonicMs() + drainPeriodMs_;
}

void BpfEventSource::Drain(RecordSink& out) {
  if (ring_ == nullptr) return;
  sink_ = &out;
  ring_buffer__consume(ring_);
  sink_ = nullptr;
}

void BpfEventSource::Wake() {
  wake_.Set();
}

bool BpfEventSource::ReadTaskRecords(std::vector<std::uint8_t>& out) const {
  out.clear();
  if (taskIterator_ == nullptr) return false;
  const os::Fd fd(bpf_iter_create(bpf_link__fd(taskIterator_)));
  if (!fd) return false;
  std::size_t used = 0;
  ssize_t n = 0;
  do {
    if (out.size() - used < 65536) out.resize(used + 262144);
    n = read(fd.Get(), out.data() + used, out.size() - used);
    if (n > 0) used += static_cast<std::size_t>(n);
  } while (n > 0 || (n < 0 && errno == EINTR));
  out.resize(used);
  return n == 0;
}

std::uint64_t BpfEventSource::Dropped() const {
  if (skeleton_ == nullptr || skeleton_->bss == nullptr) return 0;
  return __atomic_load_n(&skeleton_->bss->dropped_events, __ATOMIC_RELAXED);
}

}  // namespace platform
