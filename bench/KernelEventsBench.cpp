// What the primary Linux event backend costs: processor time of the consumer thread per second
// of running, idle and under a load of process starts and a loopback transfer; and the cost of
// one poll of each periodic source. Run as root: otherwise other users' processes are hidden
// and the process connector is refused.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/kernelevents/FileActivity.h"
#include "platform/kernelevents/KernelLogger.h"
#include "platform/kernelevents/LinuxEventSource.h"
#include "platform/kernelevents/TcpTraffic.h"

extern char** environ;

namespace {

using namespace platform;
using Clock = std::chrono::steady_clock;

std::atomic<std::uint64_t> g_records{0};
void Count(EVENT_TRACE*) {
  ++g_records;
}

double ThreadCpuSeconds(std::thread& thread) {
  clockid_t clock{};
  pthread_getcpuclockid(thread.native_handle(), &clock);
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Starts /bin/true perSecond times a second until stop.
void ProcessStarts(int perSecond, const std::atomic<bool>& stop) {
  char program[] = "/bin/true";
  char* argv[] = {program, nullptr};
  auto next = Clock::now();
  while (!stop) {
    pid_t child = 0;
    if (posix_spawn(&child, program, nullptr, nullptr, argv, environ) == 0)
      waitpid(child, nullptr, 0);
    next += std::chrono::microseconds(1000000 / perSecond);
    std::this_thread::sleep_until(next);
  }
}

// Sends 64 KiB every 10 ms over a loopback connection (about 6.5 MB/s) until stop.
void LoopbackTransfer(const std::atomic<bool>& stop) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  // Without a connection there is no load to measure under: the run goes on without it.
  if (bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(server, 1) != 0 ||
      getsockname(server, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(client);
    close(server);
    return;
  }
  const int accepted = accept(server, nullptr, nullptr);
  std::thread reader([&] {
    std::vector<char> buffer(65536);
    while (read(accepted, buffer.data(), buffer.size()) > 0) {
    }
  });
  const std::vector<char> block(65536, 'n');
  while (!stop) {
    if (write(client, block.data(), block.size()) <= 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  shutdown(client, SHUT_WR);
  reader.join();
  close(client);
  close(accepted);
  close(server);
}

// Runs the whole backend for three seconds per iteration and reports the consumer thread's
// processor time per second and the records delivered per second.
void RunBackend(benchmark::State& state, bool load) {
  if (geteuid() != 0) {
    state.SkipWithError("needs root");
    return;
  }
  KernelLogger logger([] { return std::make_unique<LinuxEventSource>(); });
  EVENT_TRACE_PROPERTIES properties{};
  properties.Guid = SystemTraceControlGuid;
  properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
  properties.EnableFlags = EVENT_TRACE_FLAG_PROCESS | EVENT_TRACE_FLAG_NETWORK_TCPIP |
                           EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_DISK_FILE_IO;
  TRACEHANDLE session = INVALID_TRACE_HANDLE;
  if (logger.StartTrace(&session, KERNEL_LOGGER_NAME, &properties) != 0) {
    state.SkipWithError("the backend did not start");
    return;
  }
  EVENT_TRACE_LOGFILE logfile{};
  logfile.LoggerName = "NT Kernel Logger";
  logfile.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
  logfile.EventCallback = Count;
  TRACEHANDLE consumer = logger.OpenTrace(&logfile);
  std::thread thread([&] { logger.ProcessTrace(&consumer, 1); });

  double cpu = 0, seconds = 0;
  std::uint64_t records = 0;
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> loads;
    if (load) {
      loads.emplace_back(ProcessStarts, 50, std::cref(stop));
      loads.emplace_back(LoopbackTransfer, std::cref(stop));
    }
    const double cpu0 = ThreadCpuSeconds(thread);
    const std::uint64_t records0 = g_records;
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    cpu += ThreadCpuSeconds(thread) - cpu0;
    records += g_records - records0;
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    stop = true;
    for (auto& t : loads) t.join();
  }
  logger.CloseTrace(consumer);
  thread.join();
  logger.ControlTrace(session, KERNEL_LOGGER_NAME, &properties, EVENT_TRACE_CONTROL_STOP);
  state.counters["cpu_ms_per_s"] = 1000 * cpu / seconds;
  state.counters["records_per_s"] = static_cast<double>(records) / seconds;
}

void BM_PrimaryBackendIdle(benchmark::State& state) {
  RunBackend(state, false);
}
void BM_PrimaryBackendUnderLoad(benchmark::State& state) {
  RunBackend(state, true);
}
BENCHMARK(BM_PrimaryBackendIdle)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PrimaryBackendUnderLoad)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// One poll of the open-file scan (every process's io counters, open files of the active ones).
void BM_FileActivityPoll(benchmark::State& state) {
  FileActivity files(true, true);
  files.Open();
  std::vector<EventRecord> out;
  for (auto _ : state) {
    out.clear();
    files.Poll(out);
  }
}
BENCHMARK(BM_FileActivityPoll)->Unit(benchmark::kMicrosecond);

// One dump of the TCP connections over IPv4 and IPv6.
void BM_TcpTrafficPoll(benchmark::State& state) {
  TcpTraffic tcp;
  if (tcp.Open() != 0) {
    state.SkipWithError("socket diagnostics unavailable");
    return;
  }
  std::vector<EventRecord> out;
  for (auto _ : state) {
    out.clear();
    tcp.Poll(out);
  }
}
BENCHMARK(BM_TcpTrafficPoll)->Unit(benchmark::kMicrosecond);

}  // namespace
