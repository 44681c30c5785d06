// Measures the BPF event source on the running machine (root):
//   compare   both backends side by side on one workload: bytes seen per socket and per file
//             against the bytes the workload moved;
//   overhead  a loopback transfer and a file copy with the trace off and on, interleaved, with
//             the consumer thread's CPU and the event rate while on.
//   idle      the consumer's CPU with nothing much happening, for each backend.
//   probe     the same workload read in this process and through ombrix-probe, per event.
// Usage: bpf_measure [compare|overhead|idle|probe] (all when no argument). Results are printed, not
// judged.
#include <arpa/inet.h>
#include <bpf/bpf.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernelevents/KernelLogger.h"
#include "platform/kernelevents/LinuxEventSource.h"
#include "platform/kernelevents/ProbeEventSource.h"
#include "platform/kernelevents/bpf/BpfEventSource.h"
#include "platform/paths/Paths.h"
#include "tests/support/EventRecordBuilder.h"

namespace {

using namespace platform;
constexpr auto U32 = ombrix::testing::RecordU32;
constexpr auto Port = ombrix::testing::RecordPort;
constexpr auto Utf16Name = ombrix::testing::RecordName;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kAll = EVENT_TRACE_FLAG_PROCESS | EVENT_TRACE_FLAG_NETWORK_TCPIP |
                               EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_DISK_FILE_IO;

// Records of up to two sessions at once; the callbacks are plain functions, one per slot.
std::mutex g_mutex;
std::vector<EventRecord> g_records[2];
std::atomic<std::uint64_t> g_count{0};
bool g_keep = true;

template <int Slot>
void Collect(EVENT_TRACE* event) {
  g_count.fetch_add(1, std::memory_order_relaxed);
  if (!g_keep) return;
  EventRecord copy;
  copy.Header = event->Header;
  const auto* data = static_cast<const std::uint8_t*>(event->MofData);
  copy.Data.assign(data, data + event->MofLength);
  std::lock_guard lock(g_mutex);
  g_records[Slot].push_back(std::move(copy));
}

// One running session with its consumer thread.
class Trace {
 public:
  Trace(KernelLogger::SourceFactory factory, TraceEventCallback callback)
      : logger_(std::move(factory)) {
    EVENT_TRACE_PROPERTIES properties{};
    properties.Guid = SystemTraceControlGuid;
    properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    properties.EnableFlags = kAll;
    if (logger_.StartTrace(&session_, KERNEL_LOGGER_NAME, &properties) != 0) {
      std::fprintf(stderr, "trace did not start\n");
      std::exit(1);
    }
    EVENT_TRACE_LOGFILE logfile{};
    logfile.LoggerName = KERNEL_LOGGER_NAME.data();
    logfile.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    logfile.EventCallback = callback;
    consumer_ = logger_.OpenTrace(&logfile);
    thread_ = std::thread([this] { logger_.ProcessTrace(&consumer_, 1); });
    pthread_getcpuclockid(thread_.native_handle(), &cpuClock_);
  }
  ~Trace() {
    logger_.CloseTrace(consumer_);
    thread_.join();
    EVENT_TRACE_PROPERTIES properties{};
    properties.Guid = SystemTraceControlGuid;
    logger_.ControlTrace(session_, KERNEL_LOGGER_NAME, &properties, EVENT_TRACE_CONTROL_STOP);
  }
  // CPU seconds the consumer thread has used so far.
  double ConsumerCpu() const {
    timespec ts{};
    clock_gettime(cpuClock_, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }

 private:
  KernelLogger logger_;
  TRACEHANDLE session_ = INVALID_TRACE_HANDLE, consumer_ = INVALID_TRACE_HANDLE;
  std::thread thread_;
  clockid_t cpuClock_{};
};

struct Loopback {
  int Server = -1, Client = -1, Accepted = -1;
  std::uint16_t Port = 0;
};

Loopback Connect(int type) {
  Loopback l;
  l.Server = socket(AF_INET, type, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  // A loopback that cannot be set up shows as no traffic in the figures.
  if (bind(l.Server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return l;
  if (type == SOCK_STREAM) listen(l.Server, 1);
  getsockname(l.Server, reinterpret_cast<sockaddr*>(&address), &length);
  l.Port = ntohs(address.sin_port);
  l.Client = socket(AF_INET, type, 0);
  if (connect(l.Client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return l;
  if (type == SOCK_STREAM) l.Accepted = accept(l.Server, nullptr, nullptr);
  return l;
}

void CloseAll(const Loopback& l) {
  for (const int fd : {l.Client, l.Accepted, l.Server})
    if (fd >= 0) close(fd);
}

// Sends bytes from client to server in chunks of the given size; the reader uses the same size.
void TcpTransfer(const Loopback& l, std::size_t bytes, std::size_t chunk) {
  std::thread reader([&] {
    std::vector<char> buffer(chunk);
    for (std::size_t got = 0; got < bytes;) {
      const ssize_t n = read(l.Accepted, buffer.data(), buffer.size());
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  });
  const std::vector<char> payload(chunk, 'x');
  for (std::size_t sent = 0; sent < bytes;) {
    const ssize_t n = write(l.Client, payload.data(), std::min(chunk, bytes - sent));
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  reader.join();
}

std::string Folder() {
  std::string folder = ProgramDir();
  if (!folder.ends_with('/')) folder += '/';
  folder += "bpf-measure-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) std::exit(1);
  return folder;
}

void WriteFile(const std::string& path, std::size_t bytes, bool sync) {
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::vector<char> block(1 << 20, 'f');
  for (std::size_t done = 0; done < bytes; done += block.size())
    if (write(out, block.data(), block.size()) <= 0) break;
  if (sync) fsync(out);
  close(out);
}

// --- compare -----------------------------------------------------------------------------

struct Seen {
  std::uint64_t Tcp = 0, Udp = 0, Written = 0, Read = 0, Preads = 0;
};

Seen Tally(const std::vector<EventRecord>& records, std::uint16_t tcpPort, std::uint16_t udpPort,
           const std::string& file, const std::string& preadFile) {
  Seen seen;
  const auto self = static_cast<std::uint32_t>(getpid());
  std::uint32_t fileObject = OTHER_FILE_OBJECT, preadObject = OTHER_FILE_OBJECT;
  for (const EventRecord& r : records) {
    if (r.Header.Guid == FileIoGuid) {
      if (Utf16Name(r) == file) fileObject = U32(r, 0);
      if (Utf16Name(r) == preadFile) preadObject = U32(r, 0);
    }
    if (r.Header.ProcessId != self) continue;
    if (r.Header.Guid == TcpIpGuid &&
        (Port(r, netio::DestPort) == tcpPort || Port(r, netio::SourcePort) == tcpPort))
      seen.Tcp += U32(r, netio::Size);
    if (r.Header.Guid == UdpIpGuid &&
        (Port(r, netio::DestPort) == udpPort || Port(r, netio::SourcePort) == udpPort))
      seen.Udp += U32(r, netio::Size);
    if (r.Header.Guid == DiskIoGuid) {
      const std::uint32_t object = U32(r, diskio::FileObject);
      const std::uint32_t size = U32(r, diskio::TransferSize);
      const bool write = r.Header.Class.Type == EVENT_TYPE_DISK_WRITE;
      if (object == fileObject && object != OTHER_FILE_OBJECT)
        (write ? seen.Written : seen.Read) += size;
      if (object == preadObject && object != OTHER_FILE_OBJECT && !write) seen.Preads += size;
    }
  }
  return seen;
}

void Compare() {
  constexpr std::size_t kTcp = 8 << 20, kDatagrams = 1000, kDatagram = 1000, kFile = 16 << 20;
  auto primary =
      std::make_unique<Trace>([] { return std::make_unique<LinuxEventSource>(250); }, Collect<0>);
  auto bpf = std::make_unique<Trace>([] { return std::make_unique<BpfEventSource>(); }, Collect<1>);
  const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(700)); };
  pause();

  const Loopback tcp = Connect(SOCK_STREAM);
  TcpTransfer(tcp, kTcp, 65536);
  pause();  // the connection stays open for a poll of the primary backend
  CloseAll(tcp);

  const Loopback udp = Connect(SOCK_DGRAM);
  std::vector<char> datagram(kDatagram, 'u'), buffer(2 * kDatagram);
  for (std::size_t k = 0; k < kDatagrams; ++k) {
    send(udp.Client, datagram.data(), datagram.size(), 0);
    recv(udp.Server, buffer.data(), buffer.size(), 0);
  }
  CloseAll(udp);

  const std::string folder = Folder();
  const std::string file = folder + "/compare.bin", preadFile = folder + "/pread.bin";
  {  // written, synced, then read back from the disk; open across a poll each time
    const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::vector<char> block(1 << 20, 'c');
    for (std::size_t done = 0; done < kFile; done += block.size())
      if (write(out, block.data(), block.size()) <= 0) break;
    fsync(out);
    pause();
    close(out);
    const int in = open(file.c_str(), O_RDONLY);
    posix_fadvise(in, 0, 0, POSIX_FADV_DONTNEED);
    std::vector<char> readBuffer(1 << 20);
    while (read(in, readBuffer.data(), readBuffer.size()) > 0) {
    }
    pause();
    close(in);
  }
  WriteFile(preadFile, kFile, true);
  {  // positioned reads leave the file position alone
    const int in = open(preadFile.c_str(), O_RDONLY);
    posix_fadvise(in, 0, 0, POSIX_FADV_DONTNEED);
    std::vector<char> readBuffer(1 << 20);
    for (off_t at = 0; pread(in, readBuffer.data(), readBuffer.size(), at) > 0;)
      at += static_cast<off_t>(readBuffer.size());
    pause();
    close(in);
  }
  pause();
  primary.reset();
  bpf.reset();
  unlink(file.c_str());
  unlink(preadFile.c_str());
  rmdir(folder.c_str());

  const Seen expected{2 * kTcp, 2 * kDatagrams * kDatagram, kFile, kFile, kFile};
  std::printf("%-8s %14s %14s %14s %14s %14s\n", "backend", "tcp both ends", "udp both ends",
              "file written", "file read", "file pread");
  const auto row = [&](const char* name, const Seen& s) {
    const auto cell = [](std::uint64_t seen, std::uint64_t want) {
      static char text[4][64];
      static int next = 0;
      char* out = text[next++ % 4];
      std::snprintf(out, 64, "%.1f%%",
                    want ? 100.0 * (static_cast<double>(seen) - want) / want : 0);
      return out;
    };
    std::printf("%-8s %14llu %14llu %14llu %14llu %14llu\n", name,
                static_cast<unsigned long long>(s.Tcp), static_cast<unsigned long long>(s.Udp),
                static_cast<unsigned long long>(s.Written), static_cast<unsigned long long>(s.Read),
                static_cast<unsigned long long>(s.Preads));
    std::printf("%-8s %14s %14s ", "  error", cell(s.Tcp, expected.Tcp), cell(s.Udp, expected.Udp));
    std::printf("%14s %14s ", cell(s.Written, expected.Written), cell(s.Read, expected.Read));
    std::printf("%14s\n", cell(s.Preads, expected.Preads));
  };
  row("expected", expected);
  row("procfs", Tally(g_records[0], tcp.Port, udp.Port, file, preadFile));
  row("bpf", Tally(g_records[1], tcp.Port, udp.Port, file, preadFile));
}

// --- overhead ----------------------------------------------------------------------------

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double ProcessCpu() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs and run time of our kernel programs so far, from the kernel's own BPF statistics.
struct ProgramCost {
  double Runs = 0, Seconds = 0;
};

ProgramCost KernelCost() {
  static const std::vector<std::string> ours = {
      "io_start",  "rq_issue",  "rq_complete", "sock_send",    "sock_recv",
      "proc_exec", "proc_fork", "udp_leaving", "udp_arriving", "task_table"};
  ProgramCost cost;
  for (std::uint32_t id = 0; bpf_prog_get_next_id(id, &id) == 0;) {
    const int fd = bpf_prog_get_fd_by_id(id);
    if (fd < 0) continue;
    bpf_prog_info info{};
    std::uint32_t length = sizeof info;
    if (bpf_obj_get_info_by_fd(fd, &info, &length) == 0 &&
        std::find(ours.begin(), ours.end(), info.name) != ours.end()) {
      cost.Runs += static_cast<double>(info.run_cnt);
      cost.Seconds += static_cast<double>(info.run_time_ns) / 1e9;
    }
    close(fd);
  }
  return cost;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Overhead() {
  g_keep = false;  // count only: the consumer's own cost is what is measured
  const int statsFd = bpf_enable_stats(BPF_STATS_RUN_TIME);  // timing costs a little itself
  if (statsFd < 0) std::fprintf(stderr, "no BPF run-time statistics here\n");
  constexpr int kRounds = 15;
  constexpr std::size_t kTcp = 256 << 20, kChunk = 4096, kCopy = 128 << 20;
  const std::string folder = Folder();
  const std::string source = folder + "/source.bin", target = folder + "/target.bin";
  WriteFile(source, kCopy, true);

  const auto loopback = [&](std::size_t chunk) {
    const Loopback l = Connect(SOCK_STREAM);
    const auto start = Clock::now();
    TcpTransfer(l, kTcp, chunk);
    const double took = Seconds(Clock::now() - start);
    CloseAll(l);
    return took;
  };
  const auto copy = [&] {
    const int in = open(source.c_str(), O_RDONLY);
    posix_fadvise(in, 0, 0, POSIX_FADV_DONTNEED);
    const auto start = Clock::now();
    const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> buffer(1 << 20);
    for (ssize_t n; (n = read(in, buffer.data(), buffer.size())) > 0;)
      if (write(out, buffer.data(), static_cast<std::size_t>(n)) != n) break;
    fsync(out);
    close(out);
    const double took = Seconds(Clock::now() - start);
    close(in);
    unlink(target.c_str());
    return took;
  };

  using Work = std::pair<const char*, std::function<double()>>;
  const std::vector<Work> works = {
      {"loopback 256 MiB in 4 KiB calls", [&] { return loopback(kChunk); }},
      {"loopback 256 MiB in 32 KiB calls", [&] { return loopback(8 * kChunk); }},
      {"file copy 128 MiB, synced", copy},
  };
  for (const auto& [name, work] : works) {
    // Wall and CPU time suffer from whatever else the machine runs; the kernel's statistics of
    // the programs (which run for every process) and the consumer's CPU per event do not.
    std::vector<double> off, on, offCpu, onCpu, cpuShare, rate, perRun, perEvent;
    work();  // warm up
    for (int round = 0; round < kRounds; ++round) {
      double cpu = ProcessCpu();
      off.push_back(work());
      offCpu.push_back(ProcessCpu() - cpu);
      Trace trace([] { return std::make_unique<BpfEventSource>(); }, Collect<0>);
      const std::uint64_t events = g_count.load();
      const double consumer = trace.ConsumerCpu();
      cpu = ProcessCpu();
      const ProgramCost before = KernelCost();
      const double took = work();
      const ProgramCost after = KernelCost();
      const double consumed = trace.ConsumerCpu() - consumer;
      onCpu.push_back(ProcessCpu() - cpu - consumed);
      const double runs = after.Runs - before.Runs, inKernel = after.Seconds - before.Seconds;
      perRun.push_back(runs > 0 ? 1e9 * inKernel / runs : 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));  // last drain
      on.push_back(took);
      const auto delivered = static_cast<double>(g_count.load() - events);
      rate.push_back(delivered / took);
      perEvent.push_back(delivered > 0 ? 1e9 * consumed / delivered : 0);
      cpuShare.push_back(consumed / took);
    }
    const auto change = [](const std::vector<double>& a, const std::vector<double>& b) {
      return 100.0 * (Median(b) - Median(a)) / Median(a);
    };
    std::printf(
        "%s (medians of %d): wall off %.3f s, on %.3f s (%+.1f%%); workload CPU off %.3f s, "
        "on %.3f s (%+.1f%%); %.0f events/s; consumer CPU %.1f%% of one core, %.0f ns an "
        "event; kernel programs %.0f ns a run; at 100 000 events/s: %.1f%% of one core\n",
        name, kRounds, Median(off), Median(on), change(off, on), Median(offCpu), Median(onCpu),
        change(offCpu, onCpu), Median(rate), 100.0 * Median(cpuShare), Median(perEvent),
        Median(perRun), 1e5 * (Median(perEvent) + Median(perRun)) / 1e9 * 100.0);
  }
  unlink(source.c_str());
  rmdir(folder.c_str());
  if (statsFd >= 0) close(statsFd);
}

// The consumer's CPU on a machine left alone, for each backend.
void Idle() {
  g_keep = false;
  static constexpr int kSeconds = 5;
  const auto measure = [](const char* name, KernelLogger::SourceFactory factory) {
    Trace trace(std::move(factory), Collect<0>);
    const std::uint64_t events = g_count.load();
    const double cpu = trace.ConsumerCpu();
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    std::printf("idle %d s, %s: consumer CPU %.2f%% of one core, %.0f events/s\n", kSeconds, name,
                100.0 * (trace.ConsumerCpu() - cpu) / kSeconds,
                static_cast<double>(g_count.load() - events) / kSeconds);
  };
  measure("procfs", [] { return std::make_unique<LinuxEventSource>(); });
  measure("bpf", [] { return std::make_unique<BpfEventSource>(); });
}

// --- probe -------------------------------------------------------------------------------

// CPU seconds a process's main thread has run, from the scheduler's own count.
double TaskCpu(pid_t pid) {
  std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/schedstat").c_str(), "r");
  unsigned long long ns = 0;
  if (file != nullptr) {
    if (std::fscanf(file, "%llu", &ns) != 1) ns = 0;
    std::fclose(file);
  }
  return static_cast<double>(ns) / 1e9;
}

// The same workload read in this process from the ring, and through the probe's stream: the
// user-space cost per event of each (for the probe, its own CPU and the monitor's reading), and
// the kernel programs' cost per run, which both share.
void Probe() {
  g_keep = false;
  const int statsFd = bpf_enable_stats(BPF_STATS_RUN_TIME);
  constexpr int kRounds = 9;
  constexpr std::size_t kTcp = 128 << 20, kChunk = 4096;
  static ProbeEventSource* probe = nullptr;
  std::vector<double> inProcess, throughProbe, probeShare, perRun;
  const auto round = [&](bool viaProbe) {
    Trace trace(
        [viaProbe]() -> std::unique_ptr<EventSource> {
          if (!viaProbe) return std::make_unique<BpfEventSource>();
          auto source = std::make_unique<ProbeEventSource>(DefaultProbePath());
          probe = source.get();
          return source;
        },
        Collect<0>);
    const pid_t pid = viaProbe ? probe->ProbePid() : 0;
    const std::uint64_t events = g_count.load();
    const double consumer = trace.ConsumerCpu(), helper = viaProbe ? TaskCpu(pid) : 0;
    const ProgramCost before = KernelCost();
    const Loopback l = Connect(SOCK_STREAM);
    TcpTransfer(l, kTcp, kChunk);
    CloseAll(l);
    const ProgramCost after = KernelCost();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last drains
    const auto delivered = static_cast<double>(g_count.load() - events);
    const double reader = trace.ConsumerCpu() - consumer;
    const double helperCpu = viaProbe ? TaskCpu(pid) - helper : 0;
    (viaProbe ? throughProbe : inProcess).push_back(1e9 * (reader + helperCpu) / delivered);
    if (viaProbe) probeShare.push_back(helperCpu / (reader + helperCpu));
    // The programs' time over the events delivered: some programs run without making one (a
    // TCP segment leaving passes the datagram program too).
    perRun.push_back(delivered > 0 ? 1e9 * (after.Seconds - before.Seconds) / delivered : 0);
  };
  for (int k = 0; k < kRounds; ++k) {
    round(false);
    round(true);
  }
  const double kernel = Median(perRun), own = Median(inProcess), probed = Median(throughProbe);
  std::printf(
      "loopback 128 MiB in 4 KiB calls (medians of %d, alternating): user-space cost per event "
      "in process %.0f ns, through the probe %.0f ns (probe %.0f%% of it, monitor the rest); "
      "kernel programs %.0f ns an event; whole cost per event %+.1f%% through the probe; at "
      "100 000 events a second through the probe: %.2f%% of one core\n",
      kRounds, own, probed, 100.0 * Median(probeShare), kernel,
      100.0 * ((probed + kernel) - (own + kernel)) / (own + kernel),
      1e5 * (probed + kernel) / 1e9 * 100.0);
  if (statsFd >= 0) close(statsFd);
}

}  // namespace

int main(int argc, char** argv) {
  if (geteuid() != 0) {
    std::fprintf(stderr, "bpf_measure needs root\n");
    return 1;
  }
  const std::string what = argc > 1 ? argv[1] : "";
  if (what.empty() || what == "compare") Compare();
  if (what.empty() || what == "overhead") Overhead();
  if (what.empty() || what == "idle") Idle();
  if (what.empty() || what == "probe") Probe();
  return 0;
}
