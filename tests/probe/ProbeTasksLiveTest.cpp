// The probe's task table on the running machine, against what /proc says of the same
// processes: a child that worked and then sleeps has the same CPU time, resident and shared
// pages, threads and parent; the kernel's threads are marked; and a normal user's probe gives
// other users' processes without their I/O. Needs root; skips saying why otherwise.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/kernelevents/ProbeEventSource.h"
#include "platform/perfdata/TaskTable.h"

namespace {

using namespace platform;

// A probe serving as it does for the monitor: its stream read on a thread of its own.
class ServingProbe {
 public:
  explicit ServingProbe(const std::string& path) : source_(path) {
    opened_ = source_.Open(EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened;
    reader_ = std::thread([this] {
      std::vector<TEventRecord> records;
      while (!stop_) {
        records.clear();
        source_.Poll(records);
      }
    });
  }
  ~ServingProbe() {
    stop_ = true;
    source_.Wake();
    reader_.join();
  }
  bool Opened() const { return opened_; }
  std::string Fault() const { return source_.Fault(); }

 private:
  TProbeEventSource source_;
  bool opened_ = false;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

const TTaskProcess* Find(const TTaskTable& table, std::uint32_t pid) {
  for (const auto& p : table.Processes)
    if (p.Pid == pid) return &p;
  return nullptr;
}

std::vector<std::uint64_t> Numbers(const std::string& path, std::size_t skipParen = 0) {
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (skipParen) text = text.substr(text.rfind(')') + 2);
  std::istringstream fields(text);
  std::vector<std::uint64_t> out;
  std::string field;
  while (fields >> field) out.push_back(std::strtoull(field.c_str(), nullptr, 10));
  return out;
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A child that works for a fifth of a second of CPU and then waits to be killed, with a second
// thread.
pid_t WorkedChild() {
  const pid_t child = fork();
  if (child != 0) return child;
  std::thread([] { pause(); }).detach();
  volatile std::uint64_t spin = 0;
  while (ProcessCpuSeconds() < 0.2) spin = spin + 1;
  pause();
  _exit(0);
}

TEST(ProbeTasks, TheTableAgreesWithProcForAChildAtRest) {
  if (geteuid() != 0) GTEST_SKIP() << "the probe's task table test needs root";
  const pid_t child = WorkedChild();  // before any thread of ours starts
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ServingProbe probe(DefaultProbePath());
  if (!probe.Opened()) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    GTEST_SKIP() << "the probe does not serve here: " << probe.Fault();
  }
  TTaskTable table;
  ASSERT_TRUE(ReadTaskTable(table));
  const std::string proc = "/proc/" + std::to_string(child);
  const auto stat = Numbers(proc + "/stat", 1);  // from field 3, the state, on
  const auto statm = Numbers(proc + "/statm");
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  const TTaskProcess* p = Find(table, static_cast<std::uint32_t>(child));
  ASSERT_NE(p, nullptr);
  const double tick = 1e9 / static_cast<double>(sysconf(_SC_CLK_TCK));
  const double procCpu = static_cast<double>(stat[11] + stat[12]) * tick;  // utime, stime
  // /proc cuts user and system time to ticks each: the sum is up to two ticks short.
  EXPECT_NEAR(static_cast<double>(p->RuntimeNs), procCpu + tick, tick) << "the same CPU time";
  EXPECT_GE(p->RuntimeNs, 200'000'000u) << "it worked for a while";
  // The kernel's running totals lag the exact sums /proc gives by at most a batch of pages a
  // processor (the larger of 32 and twice the processors).
  const double lag = std::max(32.0, 2.0 * sysconf(_SC_NPROCESSORS_CONF)) *
                     static_cast<double>(sysconf(_SC_NPROCESSORS_CONF));
  EXPECT_NEAR(static_cast<double>(p->ResidentPages), static_cast<double>(statm[1]), lag);
  EXPECT_NEAR(static_cast<double>(p->SharedPages), static_cast<double>(statm[2]), lag);
  EXPECT_EQ(p->ParentId, static_cast<std::uint32_t>(getpid()));
  EXPECT_EQ(p->ThreadCount, 2u);
  EXPECT_TRUE(p->IoKnown);
  EXPECT_FALSE(p->KernelThread);
  const TTaskProcess* kthreadd = Find(table, 2);
  ASSERT_NE(kthreadd, nullptr);
  EXPECT_TRUE(kthreadd->KernelThread);
}

}  // namespace
