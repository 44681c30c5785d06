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
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "platform/kernelevents/ProbeEventSource.h"
#include "platform/linux/Processes.h"
#include "platform/perfdata/LinuxProvider.h"
#include "platform/perfdata/TaskTable.h"
#include "tests/support/PerfBlockReader.h"

namespace {

using namespace platform;
using ombrix::testing::Instance;
using ombrix::testing::ReadPerfBlock;

// A probe serving as it does for the monitor: its stream read on a thread of its own.
class ServingProbe {
 public:
  explicit ServingProbe(const std::string& path) : source_(path) {
    opened_ = source_.Open(EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened;
    reader_ = std::thread([this] {
      std::vector<EventRecord> records;
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
  ProbeEventSource source_;
  bool opened_ = false;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

const TaskProcess* Find(const TaskTable& table, std::uint32_t pid) {
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
// thread; returned once its work is done.
// The threads the kernel lists for pid: the child's two, and any a sanitizer's runtime adds.
std::size_t TaskCount(pid_t pid) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
    ++count;
  return count;
}

pid_t WorkedChild() {
  int done[2];
  if (pipe(done) != 0) return -1;
  const pid_t child = fork();
  if (child != 0) {
    close(done[1]);
    char byte = 0;
    [[maybe_unused]] const ssize_t n = read(done[0], &byte, 1);
    close(done[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // settled into its wait
    return child;
  }
  std::thread([] { pause(); }).detach();
  volatile std::uint64_t spin = 0;
  while (ProcessCpuSeconds() < 0.2) spin = spin + 1;
  [[maybe_unused]] const ssize_t n = write(done[1], "d", 1);
  pause();
  _exit(0);
}

TEST(ProbeTasks, TheTableAgreesWithProcForAChildAtRest) {
  if (geteuid() != 0) GTEST_SKIP() << "the probe's task table test needs root";
  const pid_t child = WorkedChild();  // before any thread of ours starts
  ASSERT_GT(child, 0);
  ServingProbe probe(DefaultProbePath());
  if (!probe.Opened()) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    GTEST_SKIP() << "the probe does not serve here: " << probe.Fault();
  }
  TaskTable table;
  ASSERT_TRUE(ReadTaskTable(table));
  const std::string proc = "/proc/" + std::to_string(child);
  const auto stat = Numbers(proc + "/stat", 1);  // from field 3, the state, on
  const auto statm = Numbers(proc + "/statm");
  const std::size_t taskCount = TaskCount(child);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  const TaskProcess* p = Find(table, static_cast<std::uint32_t>(child));
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
  EXPECT_EQ(p->ThreadCount, taskCount);
  EXPECT_TRUE(p->IoKnown);
  EXPECT_FALSE(p->KernelThread);
  const TaskProcess* kthreadd = Find(table, 2);
  ASSERT_NE(kthreadd, nullptr);
  EXPECT_TRUE(kthreadd->KernelThread);
}

// The same processes through both paths of the provider, read one right after the other: the
// probe's table and the files in /proc give a child at rest the same CPU time, working set,
// private bytes, I/O and threads with their switches; and every process /proc lists is listed.
TEST(ProbeTasks, TheProviderGivesTheSameFiguresFromTheTableAsFromProc) {
  if (geteuid() != 0) GTEST_SKIP() << "the probe's task table test needs root";
  const pid_t child = WorkedChild();
  ASSERT_GT(child, 0);
  ServingProbe probe(DefaultProbePath());
  if (!probe.Opened()) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    GTEST_SKIP() << "the probe does not serve here: " << probe.Fault();
  }
  LinuxPerfProvider fromTable, fromProc;
  fromProc.SetTaskTableReader({});
  const std::vector<std::uint32_t> listed = os::ListPids();  // started later: not asked for
  auto table = ReadPerfBlock(fromTable.Build("230 232"));
  auto proc = ReadPerfBlock(fromProc.Build("230 232"));
  const std::size_t taskCount = TaskCount(child);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  const auto byPid = [](const std::vector<Instance>& list, std::int64_t pid) -> const Instance* {
    for (const Instance& i : list)
      if (i.Values.count(784) && i.Values.at(784) == pid) return &i;
    return nullptr;
  };
  const Instance* a = byPid(table[230], child);
  const Instance* b = byPid(proc[230], child);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Name, b->Name);
  const double tick = 1e7 / static_cast<double>(sysconf(_SC_CLK_TCK));  // 100-ns units
  EXPECT_NEAR(static_cast<double>(a->Values.at(6)), static_cast<double>(b->Values.at(6)) + tick,
              tick);
  // Both sides read the per-processor rss counters without folding them, each off by up to
  // a batch per processor, in either direction.
  const double lag = 2 * std::max(32.0, 2.0 * sysconf(_SC_NPROCESSORS_CONF)) *
                     static_cast<double>(sysconf(_SC_NPROCESSORS_CONF) * sysconf(_SC_PAGESIZE));
  for (const std::uint32_t memory : {180u, 186u})
    EXPECT_NEAR(static_cast<double>(a->Values.at(memory)),
                static_cast<double>(b->Values.at(memory)), lag)
        << "counter " << memory;
  for (const std::uint32_t io : {1416u, 1424u})
    EXPECT_EQ(a->Values.at(io), b->Values.at(io)) << "counter " << io;
  const auto threads = [&](const std::vector<Instance>& list) {
    std::map<std::int64_t, std::int64_t> switches;  // by thread id
    for (const Instance& t : list)
      if (t.Values.at(784) == child) switches[t.Values.at(804)] = t.Values.at(146);
    return switches;
  };
  // The same threads; their switches as read one after the other (a sanitizer's own thread in
  // the child may run in between).
  const auto tableThreads = threads(table[232]), procThreads = threads(proc[232]);
  ASSERT_EQ(tableThreads.size(), procThreads.size());
  for (const auto& [tid, switches] : tableThreads) {
    ASSERT_TRUE(procThreads.count(tid)) << "thread " << tid;
    EXPECT_GE(procThreads.at(tid), switches) << "thread " << tid;
    EXPECT_LE(procThreads.at(tid) - switches, 2) << "thread " << tid;
  }
  EXPECT_EQ(threads(table[232]).size(), taskCount);
  std::set<std::int64_t> tablePids, procPids;
  for (const Instance& i : table[230]) tablePids.insert(i.Values.at(784));
  for (const Instance& i : proc[230]) procPids.insert(i.Values.at(784));
  const std::set<std::int64_t> before(listed.begin(), listed.end());
  for (const std::int64_t pid : procPids)
    EXPECT_TRUE(!before.count(pid) || tablePids.count(pid) || kill(static_cast<pid_t>(pid), 0) != 0)
        << "process " << pid << " is missing from the table's block";
}

}  // namespace
