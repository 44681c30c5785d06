#include "platform/perfdata/LinuxProvider.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/Files.h"
#include "platform/linux/Handle.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/ProcStat.h"
#include "platform/linux/ProcText.h"
#include "platform/linux/Processes.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/NameTable.h"
#include "platform/perfdata/PerfBlockWriter.h"
#include "platform/perfdata/TaskTable.h"

namespace platform {

namespace {

using os::NextNumber;
using os::NextToken;
using os::TakeLine;

constexpr std::int64_t kFileTimeOf1970 = 116444736000000000LL;
constexpr std::int64_t kNsPerSecond = 1000000000LL;
constexpr std::int64_t kNsPerMs = 1000000LL;
constexpr std::int64_t kFreeSpaceNumerator = 1000000;  // constant, so it never falls
constexpr std::uint32_t kSystemPid = 2;                // kernel threads report as this one

struct CpuTimes {
  std::uint32_t Number = 0;
  std::uint64_t User = 0, Nice = 0, System = 0, Idle = 0, IoWait = 0, Irq = 0, SoftIrq = 0,
                Steal = 0;
  std::uint64_t Interrupts = 0, SoftIrqs = 0;  // counts, not times
  // Stolen time is time the hypervisor gave to others: it is neither this guest's work nor its
  // idleness, so it counts in the whole but not as busy.
  std::uint64_t Busy() const { return User + Nice + System + Irq + SoftIrq; }
  std::uint64_t All() const { return Busy() + Idle + IoWait + Steal; }
};

struct ProcessRow {
  std::uint32_t Pid = 0;
  std::string Name;
  std::int64_t Cpu = 0;  // 100-ns units
  std::int64_t WorkingSet = 0, Private = 0, IoOps = 0, IoBytes = 0;
  std::size_t FirstThread = 0, Threads = 0;
};

struct ThreadRow {
  std::uint32_t Tid = 0;
  std::int64_t Switches = 0;
};

struct DiskRow {
  std::string Name;
  std::uint32_t Major = 0, Minor = 0;  // the block device behind the mount
  std::int64_t QueueTime = 0, IoTime = 0, Ios = 0, Bytes = 0;
  double Used = 0, Avail = 0;  // blocks in bytes, for the free-space fraction
  std::int64_t FreeMb = 0;
};

struct NetRow {
  std::string Name;
  std::int64_t Bytes = 0, Packets = 0, Bandwidth = 0, RxErrors = 0, TxErrors = 0;
};

// A process as last read. A single-threaded process whose schedstat shows neither run time nor
// runs since then has not run, so its stat and io counters are those of Row: reading schedstat
// alone spares three files for every process at rest, which on a desktop is nearly every one.
struct PidEntry {
  std::uint64_t StartTime = 0;  // clock ticks after boot
  std::int64_t Cpu = 0;         // 100-ns units
  std::uint64_t Generation = 0;
  std::uint64_t RunNs = 0, Runs = 0;  // schedstat when Row was read; Runs 0: nothing kept
  bool Kernel = false;
  ProcessRow Row;
  os::Fd SchedFd;  // its schedstat, kept open: read every block
};

// A descriptor kept per process spares the lookup, open and close of its schedstat in every
// block (a third of the cost of a block at thousands of processes). The soft limit on
// descriptors is raised toward the hard one for them; kept ones live above the quiet mark, and
// a few hundred stay free for the rest of the program.
std::size_t KeepOpenUpTo() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 16384);
  if (limit.rlim_cur < wanted) {
    limit.rlim_cur = wanted;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) getrlimit(RLIMIT_NOFILE, &limit);
  }
  const rlim_t floor = os::kQuietDescriptors + 256;
  return limit.rlim_cur > floor ? static_cast<std::size_t>(limit.rlim_cur - floor) : 0;
}

// Memory can shrink while a process sleeps (pages reclaimed or swapped out): a process at rest
// is still read in full once in this many blocks.
constexpr std::uint64_t kRestingReadEvery = 16;

struct Schedstat {
  std::uint64_t RunNs = 0, Runs = 0;
  bool Ok = false;
};

Schedstat ParseSchedstat(std::string_view text) {
  Schedstat s;
  s.RunNs = NextNumber(text);
  NextNumber(text);  // time spent waiting to run
  s.Runs = NextNumber(text);
  s.Ok = s.Runs != 0;
  return s;
}

struct Wanted {
  bool System = false, Memory = false, Processor = false, Process = false, Thread = false,
       Disk = false, Net = false;
};

Wanted ParseQuery(std::string_view q) {
  Wanted w;
  if (q.find("Global") != std::string_view::npos) return {true, true, true, true, true, true, true};
  while (!q.empty()) {
    const std::size_t before = q.size();
    switch (NextNumber(q)) {
      case kObjSystem:
        w.System = true;
        break;
      case kObjMemory:
        w.Memory = true;
        break;
      case kObjProcessor:
        w.Processor = true;
        break;
      case kObjProcess:
        w.Process = true;
        break;
      case kObjThread:
        w.Thread = true;
        break;
      case kObjLogicalDisk:
        w.Disk = true;
        break;
      case kObjNetworkInterface:
        w.Net = true;
        break;
      default:
        break;
    }
    if (q.size() == before) q.remove_prefix(1);
  }
  return w;
}

std::int64_t ToInt64(std::uint64_t v) {
  return v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
             ? std::numeric_limits<std::int64_t>::max()
             : static_cast<std::int64_t>(v);
}

// comm, completed from the executable's file name when it may have been cut.
std::string CommOrExeName(int procFd, std::uint32_t pid, std::string_view comm) {
  if (comm.size() != 15) return std::string(comm);  // never cut: spare the link's lookup
  char link[64];
  std::snprintf(link, sizeof link, "%u/exe", pid);
  std::string exe = os::ReadLinkAt(procFd, link);
  if (exe.ends_with(" (deleted)")) exe.resize(exe.size() - 10);
  return os::CompleteComm(comm, exe);
}

std::string NameFromComm(int procFd, std::uint32_t pid, std::string_view comm) {
  return UnreservedInstanceName(CommOrExeName(procFd, pid, comm), pid);
}

// The counters of each object, in the order of the block: the reader matches counters by
// position. A timer's base follows it.
struct CounterDef {
  std::uint32_t Index;
  std::uint32_t Type;
};
// The counter types the provider writes, chosen so that the published formulas give the
// figures.
constexpr std::uint32_t kRaw = PERF_COUNTER_RAWCOUNT;
constexpr std::uint32_t kLargeRaw = PERF_COUNTER_LARGE_RAWCOUNT;
constexpr std::uint32_t kBulk = PERF_COUNTER_BULK_COUNT;
constexpr std::uint32_t kTimer = PERF_PRECISION_100NS_TIMER;
constexpr std::uint32_t kTimerBase = PERF_PRECISION_TIMESTAMP;
constexpr std::uint32_t kQueueLength = PERF_COUNTER_LARGE_QUEUELEN_TYPE;
constexpr std::uint32_t kInverseTimer = PERF_COUNTER_TIMER_INV;
constexpr std::uint32_t kFraction = PERF_LARGE_RAW_FRACTION;
constexpr std::uint32_t kFractionBase = PERF_LARGE_RAW_BASE;

constexpr CounterDef kSystemCounters[] = {{kProcessorQueueLength, kRaw}};
constexpr CounterDef kMemoryCounters[] = {
    {kAvailableBytes, kLargeRaw}, {kPageReads, kBulk}, {kPageWrites, kBulk}};
// Percentages divide by the processor's own jiffy total, not by wall time: the jiffies of an
// interval do not add up to its length exactly.
constexpr CounterDef kProcessorCounters[] = {
    {kProcessorTime, kTimer},     {kProcessorTime, kTimerBase},
    {kProcessorIdleTime, kTimer}, {kProcessorIdleTime, kTimerBase},
    {kInterruptTime, kTimer},     {kInterruptTime, kTimerBase},
    {kDpcTime, kTimer},           {kDpcTime, kTimerBase},
    {kInterrupts, kBulk},         {kDpcsQueued, kBulk}};
constexpr CounterDef kProcessCounters[] = {
    {kProcessorTime, kTimer},    {kProcessorTime, kTimerBase}, {kWorkingSet, kLargeRaw},
    {kPrivateBytes, kLargeRaw},  {kIdProcess, kRaw},           {kIoDataOperations, kBulk},
    {kIoOtherOperations, kBulk}, {kIoDataBytes, kBulk},        {kIoOtherBytes, kBulk}};
constexpr CounterDef kThreadCounters[] = {
    {kContextSwitches, kBulk}, {kIdProcess, kRaw}, {kIdThread, kRaw}};
constexpr CounterDef kDiskCounters[] = {{kDiskQueueLength, kQueueLength},
                                        {kDiskIdleTime, kInverseTimer},
                                        {kFreeSpace, kFraction},
                                        {kFreeSpace, kFractionBase},
                                        {kFreeMegabytes, kRaw},
                                        {kDiskTransfers, kBulk},
                                        {kDiskBytes, kBulk}};
constexpr CounterDef kNetCounters[] = {{kBytesTotal, kBulk},
                                       {kPackets, kBulk},
                                       {kCurrentBandwidth, kLargeRaw},
                                       {kPacketsReceivedErrors, kLargeRaw},
                                       {kPacketsOutboundErrors, kLargeRaw}};

// Declares the counters; the slot AddCounter gives each, in their order.
template <std::size_t N>
std::array<std::size_t, N> AddCounters(PerfBlockWriter& writer, const CounterDef (&defs)[N]) {
  std::array<std::size_t, N> slots{};
  for (std::size_t i = 0; i < N; ++i) slots[i] = writer.AddCounter(defs[i].Index, defs[i].Type);
  return slots;
}

// Fills the current counter block, one value per slot.
template <std::size_t N>
void SetValues(PerfBlockWriter& writer, const std::array<std::size_t, N>& slots,
               const std::array<std::int64_t, N>& values) {
  for (std::size_t i = 0; i < N; ++i) writer.SetValue(slots[i], values[i]);
}

// Free space as df shows it: available over used plus available. The numerator is a constant
// and the base carries the fraction, so the numerator never falls.
std::int64_t FreeSpaceBase(double used, double avail) {
  if (avail <= 0) return 0;
  const double b = static_cast<double>(kFreeSpaceNumerator) * (used + avail) / avail;
  return b >= 9.2e18 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(b);
}

}  // namespace

struct LinuxPerfProvider::State {
  os::FileReader File;
  PerfBlockWriter Writer;
  std::string HostName;
  std::int64_t Tick = 100000;  // 100-ns units per clock tick
  std::int64_t PageSize = 4096;
  char Path[PATH_MAX] = {};

  CpuTimes Total;
  std::vector<CpuTimes> Cpus;
  std::uint64_t ProcsRunning = 0;
  std::uint64_t MemAvailable = 0, MajorFaults = 0, SwapOuts = 0;
  std::vector<ProcessRow> Processes;
  std::vector<ThreadRow> Threads;
  std::vector<ThreadRow> KernelThreads;  // the threads of "System"
  std::vector<DiskRow> Disks;
  std::vector<DiskRow> LastDisks;  // the disks of the previous block
  DiskRow DiskTotal;               // the time, transfer and byte counts of "_Total"
  std::vector<NetRow> Nets;

  std::unordered_map<std::uint32_t, PidEntry> Pids;
  std::uint64_t Generation = 0;
  std::size_t KeptOpen = 0, KeepOpenLimit = 0;  // schedstat descriptors
  std::int64_t SystemCpu = 0;  // kernel threads' accumulator in 100-ns units: only grows
  TaskTable Tasks;             // the probe's table, when it gives one
  std::function<bool(TaskTable&)> TaskReader;
  std::string ProcRoot, SysRoot;  // "/proc" and "/sys" but in tests
  os::Fd ProcFd;                  // lookups are relative to these two
  os::Fd SysFd;
  BitrateSource Bitrate;  // of wireless links without a speed in /sys

  State(std::string procRoot, std::string sysRoot, BitrateSource bitrate);
  std::string_view ReadProc(std::uint32_t pid, const char* file);
  PerfBlockTimes Now() const;
  void ReadStat();
  void ReadInterruptColumns(const char* path, bool soft);
  void ReadMemory();
  void ReadProcesses(bool threads);
  void ReadProcessesFromProc(bool threads, std::int64_t& systemCpu);
  void ReadProcessesFromTable(bool threads, std::int64_t& systemCpu);
  bool TakeTableProcess(const TaskProcess& p, bool threads, std::int64_t& systemCpu);
  bool Track(std::uint32_t pid, std::uint64_t startTime, std::int64_t cpu, bool kernel,
             std::int64_t& systemCpu);
  bool ReadProcess(std::uint32_t pid, bool threads, std::int64_t& systemCpu);
  static std::int64_t Switches(std::string_view schedstat);
  Schedstat ReadSchedstat(std::uint32_t pid);
  std::optional<bool> TakeResting(std::uint32_t pid, const Schedstat& now, bool threads);
  void KeepResting(std::uint32_t pid, const Schedstat& now, std::uint64_t threadCount, bool kernel);
  void ReadThreads(std::uint32_t pid, std::uint64_t count);
  void ReadDisks();
  void AddDisk(const os::MountEntry& m);
  void ReadDiskStats();
  void AdvanceDiskTotal();
  void ReadNets();
  std::int64_t LinkSpeed(const std::string& ifName);
  void WriteSystem();
  void WriteMemory();
  void WriteProcessor();
  void WriteProcess();
  void WriteThread();
  void WriteDisk();
  void WriteNet();
};

// Reads /proc/<pid>/<file>.
std::string_view LinuxPerfProvider::State::ReadProc(std::uint32_t pid, const char* file) {
  std::snprintf(Path, sizeof Path, "%u/%s", pid, file);
  return File.ReadAt(ProcFd.Get(), Path);
}

LinuxPerfProvider::State::State(std::string procRoot, std::string sysRoot, BitrateSource bitrate)
    : ProcRoot(std::move(procRoot)), SysRoot(std::move(sysRoot)), Bitrate(std::move(bitrate)) {
  ProcFd.Reset(open(ProcRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  SysFd.Reset(open(SysRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) HostName = host;
  const long tck = sysconf(_SC_CLK_TCK);
  if (tck > 0) Tick = 10000000 / tck;
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) PageSize = page;
  KeepOpenLimit = KeepOpenUpTo();
}

PerfBlockTimes LinuxPerfProvider::State::Now() const {
  PerfBlockTimes t;
  timespec mono{}, real{};
  clock_gettime(CLOCK_MONOTONIC, &mono);
  clock_gettime(CLOCK_REALTIME, &real);
  t.PerfTime = mono.tv_sec * kNsPerSecond + mono.tv_nsec;
  t.PerfFreq = kNsPerSecond;
  t.PerfTime100nSec = real.tv_sec * 10000000LL + real.tv_nsec / 100 + kFileTimeOf1970;
  tm utc{};
  gmtime_r(&real.tv_sec, &utc);
  const int fields[8] = {
      utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_wday, utc.tm_mday,
      utc.tm_hour,        utc.tm_min,     utc.tm_sec,  static_cast<int>(real.tv_nsec / kNsPerMs)};
  for (int i = 0; i < 8; ++i) t.SystemTime[i] = static_cast<std::uint16_t>(fields[i]);
  return t;
}

void LinuxPerfProvider::State::ReadStat() {
  Cpus.clear();
  Total = {};
  ProcsRunning = 0;
  std::string_view text = File.ReadAt(ProcFd.Get(), "stat");
  while (!text.empty()) {
    std::string_view line = TakeLine(text);
    std::string_view key = NextToken(line);
    if (key.starts_with("cpu")) {
      CpuTimes c;
      std::uint64_t* f[8] = {&c.User,   &c.Nice, &c.System,  &c.Idle,
                             &c.IoWait, &c.Irq,  &c.SoftIrq, &c.Steal};
      for (auto* p : f) *p = NextNumber(line);  // guest times are inside user and nice
      if (key == "cpu") {
        Total = c;
      } else {
        std::string_view digits = key.substr(3);
        c.Number = static_cast<std::uint32_t>(NextNumber(digits));
        Cpus.push_back(c);
      }
    } else if (key == "intr") {
      Total.Interrupts = NextNumber(line);
    } else if (key == "softirq") {
      Total.SoftIrqs = NextNumber(line);
    } else if (key == "procs_running") {
      ProcsRunning = NextNumber(line);
    }
  }
  ReadInterruptColumns("interrupts", false);
  ReadInterruptColumns("softirqs", true);
}

// Per-processor counts are the column sums of the interrupt tables.
void LinuxPerfProvider::State::ReadInterruptColumns(const char* path, bool soft) {
  std::string_view text = File.ReadAt(ProcFd.Get(), path);
  std::string_view header = TakeLine(text);
  std::vector<std::size_t> column;  // column -> index into Cpus, or npos
  for (std::string_view tok = NextToken(header); !tok.empty(); tok = NextToken(header)) {
    std::string_view digits = tok.starts_with("CPU") ? tok.substr(3) : std::string_view{};
    const auto n = NextNumber(digits);
    std::size_t at = std::string_view::npos;
    for (std::size_t i = 0; i < Cpus.size(); ++i)
      if (Cpus[i].Number == n) at = i;
    column.push_back(at);
  }
  while (!text.empty()) {
    std::string_view line = TakeLine(text);
    NextToken(line);  // the "NN:" label
    for (const std::size_t cpu : column) {
      while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
      if (line.empty() || line.front() < '0' || line.front() > '9') break;
      const std::uint64_t v = NextNumber(line);
      if (cpu == std::string_view::npos) continue;
      (soft ? Cpus[cpu].SoftIrqs : Cpus[cpu].Interrupts) += v;
    }
  }
}

void LinuxPerfProvider::State::ReadMemory() {
  MemAvailable = os::KeyedValue(File.ReadAt(ProcFd.Get(), "meminfo"), "MemAvailable") * 1024;
  std::string_view vm = File.ReadAt(ProcFd.Get(), "vmstat");
  MajorFaults = os::KeyedValue(vm, "pgmajfault");
  SwapOuts = os::KeyedValue(vm, "pswpout");
}

std::int64_t LinuxPerfProvider::State::Switches(std::string_view t) {
  // The third field of schedstat counts the times the task ran: one per switch to it.
  NextNumber(t);
  NextNumber(t);
  return ToInt64(NextNumber(t));
}

void LinuxPerfProvider::State::ReadThreads(std::uint32_t pid, std::uint64_t count) {
  if (count == 1) {
    // The only thread is the process itself: no need to list its task folder.
    Threads.push_back({pid, Switches(ReadProc(pid, "schedstat"))});
    return;
  }
  std::snprintf(Path, sizeof Path, "%u/task", pid);
  for (const std::uint32_t tid : os::NumberedEntries(ProcFd.Get(), Path)) {
    std::snprintf(Path, sizeof Path, "%u/task/%u/schedstat", pid, tid);
    Threads.push_back({tid, Switches(File.ReadAt(ProcFd.Get(), Path))});
  }
}

// Notes a process's start and CPU time for the next block; false when it is left out of this
// one: a kernel thread (its time goes to the System process) or a reused pid, which stays out
// of one block so that the old process is seen to end.
bool LinuxPerfProvider::State::Track(std::uint32_t pid, std::uint64_t startTime, std::int64_t cpu,
                                     bool kernel, std::int64_t& systemCpu) {
  auto [it, inserted] = Pids.try_emplace(pid);
  PidEntry& entry = it->second;
  const bool fresh = inserted || entry.Generation == 0;  // or only its schedstat read so far
  const bool reused = !fresh && entry.StartTime != startTime;
  const std::int64_t before = (fresh || reused) ? 0 : entry.Cpu;
  entry.StartTime = startTime;
  entry.Cpu = cpu;
  entry.Generation = Generation;
  entry.Runs = 0;  // kept again by whoever read it in full
  // Only positive steps count: a plain sum would fall whenever a kernel worker exits.
  if (kernel && cpu > before) systemCpu += cpu - before;
  return !kernel && !reused;
}

// One process from its files in /proc; false when it is left out of this block (ended,
// zombie, kernel thread, pid reused).
bool LinuxPerfProvider::State::ReadProcess(std::uint32_t pid, bool threads,
                                           std::int64_t& systemCpu) {
  // Read first, so that a run while the other files are read shows as a change next time.
  const Schedstat sched = ReadSchedstat(pid);
  if (const std::optional<bool> taken = TakeResting(pid, sched, threads)) return *taken;
  const auto st = os::ParseProcStat(ReadProc(pid, "stat"));
  if (!st || st->State == 'Z') return false;
  const std::int64_t cpu = ToInt64(st->UTime + st->STime) * Tick;
  const bool kernel = st->IsKernelThread();
  if (!Track(pid, st->StartTime, cpu, kernel, systemCpu)) {
    if (kernel && threads) KernelThreads.push_back({pid, ToInt64(sched.Runs)});
    if (kernel) KeepResting(pid, sched, st->NumThreads, true);
    return false;
  }
  ProcessRow& p = Processes.emplace_back();
  p.Pid = pid;
  p.Name = NameFromComm(ProcFd.Get(), pid, st->Comm);
  p.Cpu = cpu;
  std::string_view statm = ReadProc(pid, "statm");
  NextNumber(statm);
  const std::uint64_t resident = NextNumber(statm);
  const std::uint64_t shared = NextNumber(statm);
  p.WorkingSet = ToInt64(resident) * PageSize;
  p.Private = ToInt64(resident > shared ? resident - shared : 0) * PageSize;
  const std::string_view io = ReadProc(pid, "io");  // refused for other users' processes
  p.IoOps = ToInt64(os::KeyedValue(io, "syscr") + os::KeyedValue(io, "syscw"));
  p.IoBytes = ToInt64(os::KeyedValue(io, "rchar") + os::KeyedValue(io, "wchar"));
  if (threads) {
    p.FirstThread = Threads.size();
    if (st->NumThreads == 1 && sched.Ok)
      Threads.push_back({pid, ToInt64(sched.Runs)});  // the process is its only thread
    else
      ReadThreads(pid, st->NumThreads);
    p.Threads = Threads.size() - p.FirstThread;
  }
  KeepResting(pid, sched, st->NumThreads, false);
  return true;
}

// Through the descriptor kept for the process, else one opened now and kept if there is room.
// A kept descriptor of a process that ended reads nothing, even when its pid was taken again.
Schedstat LinuxPerfProvider::State::ReadSchedstat(std::uint32_t pid) {
  PidEntry& e = Pids[pid];  // an entry made here for a process that ended goes with the block
  char text[128];
  if (e.SchedFd) {
    const ssize_t n = pread(e.SchedFd.Get(), text, sizeof text, 0);
    if (n > 0) return ParseSchedstat({text, static_cast<std::size_t>(n)});
    e.SchedFd.Reset();
    --KeptOpen;
  }
  std::snprintf(Path, sizeof Path, "%u/schedstat", pid);
  os::Fd fd(openat(ProcFd.Get(), Path, O_RDONLY | O_CLOEXEC));
  const ssize_t n = fd ? pread(fd.Get(), text, sizeof text, 0) : -1;
  if (n <= 0) return {};
  // Kept from a process's second block on: most of the processes that come and go live
  // through one block at most, and keeping costs two more calls than reading.
  if (e.Generation != 0 && KeptOpen < KeepOpenLimit) {
    e.SchedFd = os::MoveToQuietRange(std::move(fd));
    if (e.SchedFd.Get() >= os::kQuietDescriptors)
      ++KeptOpen;
    else
      e.SchedFd.Reset();  // no room up there: not kept
  }
  return ParseSchedstat({text, static_cast<std::size_t>(n)});
}

// The row kept for a process that has not run since it was read; nothing when it has run, was
// never kept, or is due for its periodic full read. Else whether it is in the block.
std::optional<bool> LinuxPerfProvider::State::TakeResting(std::uint32_t pid, const Schedstat& now,
                                                          bool threads) {
  const auto it = Pids.find(pid);
  if (it == Pids.end() || !now.Ok) return std::nullopt;
  PidEntry& e = it->second;
  if (e.Runs == 0 || now.Runs != e.Runs || now.RunNs != e.RunNs ||
      (pid + Generation) % kRestingReadEvery == 0)
    return std::nullopt;
  e.Generation = Generation;
  if (e.Kernel) {
    if (threads) KernelThreads.push_back({pid, ToInt64(now.Runs)});
    return false;
  }
  ProcessRow& p = Processes.emplace_back(e.Row);
  p.FirstThread = Threads.size();
  p.Threads = threads ? 1 : 0;
  if (threads) Threads.push_back({pid, ToInt64(now.Runs)});
  return true;
}

// Keeps what was just read of a single-threaded process (for a kernel thread, that it is one).
void LinuxPerfProvider::State::KeepResting(std::uint32_t pid, const Schedstat& now,
                                           std::uint64_t threadCount, bool kernel) {
  PidEntry& e = Pids[pid];
  const bool keep = now.Ok && threadCount == 1;
  e.RunNs = now.RunNs;
  e.Runs = keep ? now.Runs : 0;
  e.Kernel = kernel;
  if (keep && !kernel) e.Row = Processes.back();
}

void LinuxPerfProvider::State::ReadProcessesFromProc(bool threads, std::int64_t& systemCpu) {
  for (const std::uint32_t pid : os::NumberedEntries(ProcFd.Get(), "."))
    ReadProcess(pid, threads, systemCpu);
}

// One process of the probe's table, as ReadProcess takes one from /proc.
bool LinuxPerfProvider::State::TakeTableProcess(const TaskProcess& t, bool threads,
                                                std::int64_t& systemCpu) {
  if (t.Zombie) return false;
  const std::int64_t cpu = ToInt64(t.RuntimeNs / 100);
  const std::uint64_t start = t.StartNs / static_cast<std::uint64_t>(Tick * 100);
  const TaskThread* first = Tasks.Threads.data() + t.FirstThread;
  if (!Track(t.Pid, start, cpu, t.KernelThread, systemCpu)) {
    if (t.KernelThread && threads)
      for (const TaskThread* k = first; k != first + t.ThreadCount; ++k)
        KernelThreads.push_back({k->Tid, ToInt64(k->Switches)});
    return false;
  }
  ProcessRow& p = Processes.emplace_back();
  p.Pid = t.Pid;
  p.Name = UnreservedInstanceName(os::CompleteComm(t.Comm, t.Exe), t.Pid);
  p.Cpu = cpu;
  p.WorkingSet = ToInt64(t.ResidentPages) * PageSize;
  p.Private = ToInt64(t.ResidentPages - std::min(t.SharedPages, t.ResidentPages)) * PageSize;
  p.IoOps = ToInt64(t.ReadCalls + t.WriteCalls);
  p.IoBytes = ToInt64(t.ReadChars + t.WriteChars);
  if (threads) {
    p.FirstThread = Threads.size();
    for (const TaskThread* k = first; k != first + t.ThreadCount; ++k)
      Threads.push_back({k->Tid, ToInt64(k->Switches)});
    p.Threads = t.ThreadCount;
  }
  return true;
}

// The table's processes, and those it lacks that its processes name as their parents: the
// kernel's iterator does not reach every process in every namespace (seen: a namespace's first
// process), which /proc still shows.
void LinuxPerfProvider::State::ReadProcessesFromTable(bool threads, std::int64_t& systemCpu) {
  std::unordered_set<std::uint32_t> listed;
  listed.reserve(Tasks.Processes.size());
  for (const TaskProcess& t : Tasks.Processes) {
    listed.insert(t.Pid);
    TakeTableProcess(t, threads, systemCpu);
  }
  std::unordered_set<std::uint32_t> missing;
  for (const TaskProcess& t : Tasks.Processes)
    if (t.ParentId != 0 && !listed.contains(t.ParentId)) missing.insert(t.ParentId);
  for (const std::uint32_t pid : missing) ReadProcess(pid, threads, systemCpu);
}

void LinuxPerfProvider::State::ReadProcesses(bool threads) {
  Processes.clear();
  Threads.clear();
  KernelThreads.clear();
  ++Generation;
  // Every kernel thread reports as the one process "System" with the id of kthreadd.
  ProcessRow& system = Processes.emplace_back();
  system.Pid = kSystemPid;
  system.Name = "System";
  std::int64_t systemCpu = 0;
  const bool first = Generation == 1;
  // The probe's table when it gives one; else the files of every process.
  if (TaskReader && TaskReader(Tasks))
    ReadProcessesFromTable(threads, systemCpu);
  else
    ReadProcessesFromProc(threads, systemCpu);
  for (auto it = Pids.begin(); it != Pids.end();) {
    if (it->second.Generation == Generation) {
      ++it;
      continue;
    }
    if (it->second.SchedFd) --KeptOpen;
    it = Pids.erase(it);
  }
  SystemCpu = first ? systemCpu : SystemCpu + systemCpu;
  Processes.front().Cpu = SystemCpu;
}

void LinuxPerfProvider::State::ReadDisks() {
  Disks.clear();
  const std::string mounts(File.ReadAt(ProcFd.Get(), "self/mountinfo"));  // the buffer is reused
  for (const os::MountEntry& m : os::ParseMountInfo(mounts)) AddDisk(m);
  if (!Disks.empty()) ReadDiskStats();
  AdvanceDiskTotal();
}

void LinuxPerfProvider::State::AddDisk(const os::MountEntry& m) {
  std::uint32_t major = 0, minor = 0;
  if (!os::BackingBlockDevice(m, SysFd.Get(), major, minor)) return;
  const bool seen = std::any_of(Disks.begin(), Disks.end(), [&](const DiskRow& d) {
    return d.Major == major && d.Minor == minor;
  });
  if (seen) return;  // the first mount of a device names it
  struct statvfs vfs {};
  if (statvfs(m.MountPoint.c_str(), &vfs) != 0) return;
  DiskRow& r = Disks.emplace_back();
  r.Name = m.MountPoint;
  r.Major = major;
  r.Minor = minor;
  const double unit = static_cast<double>(vfs.f_frsize);
  r.Avail = static_cast<double>(vfs.f_bavail) * unit;
  r.Used = static_cast<double>(vfs.f_blocks >= vfs.f_bfree ? vfs.f_blocks - vfs.f_bfree : 0) * unit;
  const double freeMb = r.Avail / 1048576.0;  // 32-bit counter: clamp, never wrap
  r.FreeMb = freeMb >= UINT32_MAX ? UINT32_MAX : static_cast<std::int64_t>(freeMb);
}

void LinuxPerfProvider::State::ReadDiskStats() {
  std::string_view stats = File.ReadAt(ProcFd.Get(), "diskstats");
  while (!stats.empty()) {
    std::string_view line = TakeLine(stats);
    const std::uint64_t maj = NextNumber(line), min = NextNumber(line);
    NextToken(line);
    std::uint64_t f[12] = {};
    for (int i = 1; i <= 11; ++i) f[i] = NextNumber(line);
    for (DiskRow& r : Disks) {
      if (r.Major != maj || r.Minor != min) continue;
      r.Ios = ToInt64(f[1] + f[5]);
      r.Bytes = ToInt64((f[3] + f[7]) * 512);  // sectors are always 512-byte units here
      r.IoTime = ToInt64(f[10]) * kNsPerMs;
      r.QueueTime = ToInt64(f[11]) * kNsPerMs;
    }
  }
}

// "_Total" moves only by what the disks present in this block and the last one did between
// them: a disk that is mounted or unmounted must not move it by its whole history. Its busy
// time grows by the mean over those disks, so that it stays a share of the interval.
void LinuxPerfProvider::State::AdvanceDiskTotal() {
  DiskRow growth;
  std::int64_t both = 0;
  for (const DiskRow& d : Disks) {
    const auto before = std::find_if(LastDisks.begin(), LastDisks.end(), [&](const DiskRow& o) {
      return o.Name == d.Name && o.Major == d.Major && o.Minor == d.Minor;
    });
    if (before == LastDisks.end()) continue;
    ++both;
    // Only forward steps: a device whose counters restarted adds nothing.
    growth.QueueTime += std::max<std::int64_t>(d.QueueTime - before->QueueTime, 0);
    growth.IoTime += std::max<std::int64_t>(d.IoTime - before->IoTime, 0);
    growth.Ios += std::max<std::int64_t>(d.Ios - before->Ios, 0);
    growth.Bytes += std::max<std::int64_t>(d.Bytes - before->Bytes, 0);
  }
  DiskTotal.QueueTime += growth.QueueTime;
  DiskTotal.IoTime += both > 0 ? growth.IoTime / both : 0;
  DiskTotal.Ios += growth.Ios;
  DiskTotal.Bytes += growth.Bytes;
  LastDisks = Disks;
}

void LinuxPerfProvider::State::ReadNets() {
  Nets.clear();
  std::string devText(File.ReadAt(ProcFd.Get(), "net/dev"));
  std::string_view text = devText;
  TakeLine(text);
  TakeLine(text);
  while (!text.empty()) {
    std::string_view line = TakeLine(text);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    line.remove_prefix(colon + 1);
    std::uint64_t f[17] = {};
    for (int i = 1; i <= 16; ++i) f[i] = NextNumber(line);
    const std::string ifName(name);
    if (ifName.find('/') != std::string::npos) continue;
    std::snprintf(Path, sizeof Path, "class/net/%s/flags", ifName.c_str());
    std::string_view flagText = File.ReadAt(SysFd.Get(), Path);
    const unsigned long flags = std::strtoul(std::string(flagText).c_str(), nullptr, 16);
    if (flags & 0x8) continue;  // loopback traffic would inflate "network busy"
    NetRow& r = Nets.emplace_back();
    r.Name = ifName;
    r.Bytes = ToInt64(f[1] + f[9]);
    r.Packets = ToInt64(f[2] + f[10]);
    r.RxErrors = ToInt64(f[3]);
    r.TxErrors = ToInt64(f[11]);
    r.Bandwidth = LinkSpeed(ifName);
  }
}

// Bits per second: the link speed /sys gives, else the rate of a wireless link; 0 when
// neither is known (the monitor then assumes one).
std::int64_t LinuxPerfProvider::State::LinkSpeed(const std::string& ifName) {
  std::snprintf(Path, sizeof Path, "class/net/%s/speed", ifName.c_str());
  std::string_view speed = File.ReadAt(SysFd.Get(), Path);  // -1 or unreadable when unknown
  if (File.Ok() && !speed.empty() && speed.front() != '-') {
    const std::int64_t mbits = ToInt64(NextNumber(speed));
    if (mbits > 0) return mbits * 1000000;
  }
  std::snprintf(Path, sizeof Path, "class/net/%s/wireless", ifName.c_str());
  if (faccessat(SysFd.Get(), Path, F_OK, 0) != 0) return 0;
  return Bitrate ? std::max<std::int64_t>(Bitrate(ifName), 0) : 0;
}

void LinuxPerfProvider::State::WriteSystem() {
  Writer.BeginObject(kObjSystem);
  const auto slots = AddCounters(Writer, kSystemCounters);
  Writer.CounterBlock();
  // The sampler itself is running while it reads procs_running.
  const auto online = static_cast<std::uint64_t>(std::max<std::size_t>(Cpus.size(), 1));
  SetValues(Writer, slots, {ToInt64(ProcsRunning > online ? ProcsRunning - online : 0)});
  Writer.EndObject();
}

void LinuxPerfProvider::State::WriteMemory() {
  Writer.BeginObject(kObjMemory);
  const auto slots = AddCounters(Writer, kMemoryCounters);
  Writer.CounterBlock();
  SetValues(Writer, slots, {ToInt64(MemAvailable), ToInt64(MajorFaults), ToInt64(SwapOuts)});
  Writer.EndObject();
}

void LinuxPerfProvider::State::WriteProcessor() {
  Writer.BeginObject(kObjProcessor);
  const auto slots = AddCounters(Writer, kProcessorCounters);
  const auto put = [&](const CpuTimes& c, std::int64_t divisor) {
    const auto scaled = [&](std::uint64_t ticks) { return ToInt64(ticks) * Tick / divisor; };
    const std::int64_t base = scaled(c.All());
    SetValues(Writer, slots,
              {scaled(c.Busy()), base, scaled(c.Idle + c.IoWait), base, scaled(c.Irq), base,
               scaled(c.SoftIrq), base, ToInt64(c.Interrupts), ToInt64(c.SoftIrqs)});
  };
  for (const CpuTimes& c : Cpus) {
    Writer.Instance(std::to_string(c.Number));
    put(c, 1);
  }
  Writer.Instance("_Total");
  put(Total, static_cast<std::int64_t>(std::max<std::size_t>(Cpus.size(), 1)));
  Writer.EndObject();
}

void LinuxPerfProvider::State::WriteProcess() {
  Writer.BeginObject(kObjProcess);
  const auto slots = AddCounters(Writer, kProcessCounters);
  const std::int64_t base = ToInt64(Total.All()) * Tick /
                            static_cast<std::int64_t>(std::max<std::size_t>(Cpus.size(), 1));
  for (const ProcessRow& p : Processes) {
    Writer.Instance(p.Name);
    // Linux has no counts of other I/O than reads and writes.
    SetValues(Writer, slots,
              {p.Cpu, base, p.WorkingSet, p.Private, p.Pid, p.IoOps, 0, p.IoBytes, 0});
  }
  Writer.EndObject();
}

void LinuxPerfProvider::State::WriteThread() {
  Writer.BeginObject(kObjThread);
  const auto slots = AddCounters(Writer, kThreadCounters);
  std::string name;
  for (std::size_t pi = 0; pi < Processes.size(); ++pi) {
    const ProcessRow& p = Processes[pi];
    const ThreadRow* first = pi == 0 ? KernelThreads.data() : Threads.data() + p.FirstThread;
    const std::size_t count = pi == 0 ? KernelThreads.size() : p.Threads;
    // Named by thread id, which stays put while other threads come and go.
    for (const ThreadRow* t = first; t != first + count; ++t) {
      name = p.Name;
      name += '/';
      name += std::to_string(t->Tid);
      Writer.Instance(name, kObjProcess, static_cast<std::uint32_t>(pi));
      SetValues(Writer, slots, {t->Switches, p.Pid, t->Tid});
    }
  }
  Writer.EndObject();
}

void LinuxPerfProvider::State::WriteDisk() {
  Writer.BeginObject(kObjLogicalDisk);
  const auto slots = AddCounters(Writer, kDiskCounters);
  DiskRow total;
  for (const DiskRow& d : Disks) {
    Writer.Instance(d.Name);
    SetValues(Writer, slots,
              {d.QueueTime, d.IoTime, kFreeSpaceNumerator, FreeSpaceBase(d.Used, d.Avail), d.FreeMb,
               d.Ios, d.Bytes});
    total.Used += d.Used;
    total.Avail += d.Avail;
    total.FreeMb = std::min<std::int64_t>(total.FreeMb + d.FreeMb, UINT32_MAX);
  }
  Writer.Instance("_Total");
  SetValues(Writer, slots,
            {DiskTotal.QueueTime, DiskTotal.IoTime, kFreeSpaceNumerator,
             FreeSpaceBase(total.Used, total.Avail), total.FreeMb, DiskTotal.Ios, DiskTotal.Bytes});
  Writer.EndObject();
}

void LinuxPerfProvider::State::WriteNet() {
  Writer.BeginObject(kObjNetworkInterface);
  const auto slots = AddCounters(Writer, kNetCounters);
  for (const NetRow& n : Nets) {
    Writer.Instance(n.Name);
    SetValues(Writer, slots, {n.Bytes, n.Packets, n.Bandwidth, n.RxErrors, n.TxErrors});
  }
  Writer.EndObject();
}

LinuxPerfProvider::LinuxPerfProvider(std::string procRoot, std::string sysRoot,
                                     BitrateSource bitrate)
    : s_(std::make_unique<State>(std::move(procRoot), std::move(sysRoot), std::move(bitrate))) {
  if (s_->ProcRoot == "/proc") s_->TaskReader = ReadTaskTable;
}
LinuxPerfProvider::~LinuxPerfProvider() = default;

void LinuxPerfProvider::SetTaskTableReader(std::function<bool(TaskTable&)> reader) {
  s_->TaskReader = std::move(reader);
}

const std::vector<std::uint8_t>& LinuxPerfProvider::Build(std::string_view queryText) {
  State& s = *s_;
  const Wanted w = ParseQuery(queryText);
  // Both time stamps are taken right before /proc/stat, the source of the processor times.
  const PerfBlockTimes times = s.Now();
  s.ReadStat();
  if (w.Memory) s.ReadMemory();
  if (w.Process || w.Thread) s.ReadProcesses(w.Thread);
  if (w.Disk) s.ReadDisks();
  if (w.Net) s.ReadNets();
  s.Writer.BeginBlock(times, s.HostName);
  // The same objects in the same order every time: the reader matches them by position.
  // Processor comes before Process so that a sample's interrupt time belongs to it.
  if (w.System) s.WriteSystem();
  if (w.Memory) s.WriteMemory();
  if (w.Processor) s.WriteProcessor();
  if (w.Process) s.WriteProcess();
  if (w.Thread) s.WriteThread();
  if (w.Disk) s.WriteDisk();
  if (w.Net) s.WriteNet();
  return s.Writer.EndBlock();
}

std::string UnreservedInstanceName(std::string name, std::uint32_t pid) {
  if (name == "Idle" || name == "_Total" || name == "System") name += "#" + std::to_string(pid);
  return name;
}

std::string ProcessInstanceName(std::uint32_t pid) {
  os::FileReader file;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  const auto st = os::ParseProcStat(file.Read(path));
  if (!st) return {};
  if (st->IsKernelThread()) return "System";
  static const os::Fd procFd(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return NameFromComm(procFd.Get(), pid, st->Comm);
}

std::string MemoryResourceList(std::uint64_t bytes) {
  constexpr std::uint64_t kMaxRange = 0xFFFFF000;  // page-sized ranges within 32 bits
  std::vector<std::uint64_t> lengths;
  for (std::uint64_t left = bytes; left > 0; left -= std::min(left, kMaxRange))
    lengths.push_back(std::min(left, kMaxRange));
  std::string out(kResourceListFirstPartial + lengths.size() * kPartialDescriptorSize, '\0');
  const auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&out[at], &v, 4); };
  put32(0, 1);            // one full descriptor
  put32(4, 0);            // internal interface
  put32(8, 0);            // bus 0
  put32(12, 0x00010001);  // version 1, revision 1
  put32(kResourceListPartialCountOffset, static_cast<std::uint32_t>(lengths.size()));
  std::uint64_t start = 0;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    const std::size_t d = kResourceListFirstPartial + i * kPartialDescriptorSize;
    out[d] = static_cast<char>(CmResourceTypeMemory);
    out[d + 1] = static_cast<char>(CmResourceShareDeviceExclusive);
    std::memcpy(&out[d + kPartialMemoryStartOffset], &start, 8);
    put32(d + kPartialMemoryLengthOffset, static_cast<std::uint32_t>(lengths[i]));
    start += lengths[i];
  }
  return out;
}

std::uint64_t PhysicalMemoryTotal() {
  os::FileReader f;
  return os::KeyedValue(f.Read("/proc/meminfo"), "MemTotal") * 1024;
}

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

class LinuxSource final : public PerfDataSource {
 public:
  std::uint32_t Connect(const std::string& machine) override {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const bool local = machine.empty() || SameName(machine, "localhost") ||
                       machine == "127.0.0.1" || SameName(machine, host);
    return local ? ERROR_SUCCESS : ERROR_BAD_NETPATH;  // no remote machines on Linux
  }

  std::uint32_t QueryPerformanceData(std::string_view queryText, void* buffer, std::uint32_t size,
                                     std::uint32_t* bytes) override {
    std::lock_guard guard(lock_);
    // A caller whose buffer was short asks again at once: it gets the block it could not
    // take instead of a second snapshot.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t nowNs = now.tv_sec * kNsPerSecond + now.tv_nsec;
    const bool reuse = pending_ && pendingQuery_ == queryText && nowNs - pendingAt_ < kNsPerSecond;
    const std::vector<std::uint8_t>& block = reuse ? *pending_ : provider_.Build(queryText);
    const std::uint32_t rc = CopyAnswer(block.data(), block.size(), buffer, size, bytes);
    pending_ = rc == ERROR_MORE_DATA ? &block : nullptr;
    if (pending_ && !reuse) {
      pendingQuery_.assign(queryText);
      pendingAt_ = nowNs;
    }
    return rc;
  }

  std::uint32_t OpenNameTable() override { return ERROR_SUCCESS; }

  std::uint32_t QueryNameTable(std::string_view valueName, void* buffer, std::uint32_t size,
                               std::uint32_t* bytes) override {
    const std::string* t = valueName == "Counters" ? &CounterNamesValue()
                           : valueName == "Help"   ? &HelpTextsValue()
                                                   : nullptr;
    if (!t) return ERROR_FILE_NOT_FOUND;
    return CopyAnswer(t->data(), t->size(), buffer, size, bytes);
  }

  std::uint32_t OpenResourceMap() override { return ERROR_SUCCESS; }

  std::uint32_t QueryResourceMap(std::string_view valueName, void* buffer, std::uint32_t size,
                                 std::uint32_t* bytes) override {
    if (valueName != ".Translated") return ERROR_FILE_NOT_FOUND;
    const std::string list = MemoryResourceList(PhysicalMemoryTotal());
    return CopyAnswer(list.data(), list.size(), buffer, size, bytes);
  }

 private:
  std::mutex lock_;
  LinuxPerfProvider provider_;
  const std::vector<std::uint8_t>* pending_ = nullptr;
  std::string pendingQuery_;
  std::int64_t pendingAt_ = 0;
};

}  // namespace

PerfDataSource& LinuxPerfDataSource() {
  static LinuxSource source;
  return source;
}

}  // namespace platform
