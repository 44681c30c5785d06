#include "probe/Tasks.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/kernelevents/bpf/BpfEvents.h"

namespace ombrix::probe {
namespace {

using platform::TaskProcess;
using platform::TaskTable;
using platform::TaskThread;

constexpr std::uint32_t kKernelThreadFlag = 0x00200000;  // PF_KTHREAD

std::string_view Field(const char* text, std::size_t size) {
  return {text, strnlen(text, size)};
}

TaskThread ThreadOf(const ombrix_thread_record& r) {
  return {r.tid, r.runtime_ns, r.switches};
}

void AddIo(TaskProcess& p, const ombrix_io& io) {
  p.ReadChars += io.rchar;
  p.WriteChars += io.wchar;
  p.ReadCalls += io.syscr;
  p.WriteCalls += io.syscw;
}

TaskProcess ProcessOf(const ombrix_leader_record& r) {
  TaskProcess p;
  p.Pid = r.thread.tgid;
  p.ParentId = r.ppid;
  p.Uid = r.uid;
  p.KernelThread = (r.flags & kKernelThreadFlag) != 0;
  p.Zombie = r.zombie != 0;
  p.StartNs = r.start_ns;
  p.RuntimeNs = r.dead_runtime_ns;
  p.ResidentPages = r.rss_file + r.rss_anon + r.rss_shmem;
  p.SharedPages = r.rss_file + r.rss_shmem;
  p.IoKnown = true;
  AddIo(p, r.dead_io);
  p.Comm = Field(r.comm, sizeof r.comm);
  p.Exe = Field(r.exe, sizeof r.exe);
  return p;
}

// A thread's share of its group's totals.
void AddThread(TaskProcess& p, const ombrix_thread_record& r) {
  p.RuntimeNs += r.runtime_ns;
  AddIo(p, r.io);
}

struct Orphan {
  std::uint32_t Tgid;
  ombrix_thread_record Record;
};

// The threads, each after its group's process, in order of their ids.
void AttachThreads(std::vector<Orphan>& threads,
                   const std::unordered_map<std::uint32_t, std::size_t>& groups, TaskTable& table) {
  std::sort(threads.begin(), threads.end(), [](const Orphan& a, const Orphan& b) {
    return a.Tgid != b.Tgid ? a.Tgid < b.Tgid : a.Record.tid < b.Record.tid;
  });
  for (const Orphan& t : threads) {
    const auto group = groups.find(t.Tgid);
    if (group == groups.end()) continue;
    TaskProcess& p = table.Processes[group->second];
    if (p.ThreadCount == 0) p.FirstThread = static_cast<std::uint32_t>(table.Threads.size());
    if (p.FirstThread + p.ThreadCount != table.Threads.size()) continue;  // not its run
    table.Threads.push_back(ThreadOf(t.Record));
    ++p.ThreadCount;
    AddThread(p, t.Record);
  }
}

}  // namespace

bool BuildTaskTable(const std::vector<std::uint8_t>& records, TaskTable& table) {
  table.Clear();
  std::unordered_map<std::uint32_t, std::size_t> groups;
  std::vector<Orphan> threads;
  std::size_t at = 0;
  while (records.size() - at >= sizeof(ombrix_thread_record)) {
    std::uint32_t kind = 0;
    std::memcpy(&kind, records.data() + at, sizeof kind);
    if (kind == OMBRIX_TASK_THREAD) {
      Orphan t{};
      std::memcpy(&t.Record, records.data() + at, sizeof t.Record);
      t.Tgid = t.Record.tgid;
      threads.push_back(t);
      at += sizeof t.Record;
    } else if (kind == OMBRIX_TASK_LEADER && records.size() - at >= sizeof(ombrix_leader_record)) {
      ombrix_leader_record r{};
      std::memcpy(&r, records.data() + at, sizeof r);
      groups.emplace(r.thread.tgid, table.Processes.size());
      table.Processes.push_back(ProcessOf(r));
      threads.push_back({r.thread.tgid, r.thread});
      at += sizeof r;
    } else {
      break;
    }
  }
  AttachThreads(threads, groups, table);
  return at == records.size();
}

void NarrowTaskTable(const TaskView& view, TaskTable& table) {
  if (view.Everything) return;
  const auto others = [&](const TaskProcess& p) { return p.Uid != view.Uid; };
  for (TaskProcess& p : table.Processes) {
    if (!others(p)) continue;
    p.IoKnown = false;
    p.ReadChars = p.WriteChars = p.ReadCalls = p.WriteCalls = 0;
  }
  if (!view.HideOthers) return;
  // Hidden processes go, with their threads: the thread list is built again without them.
  TaskTable kept;
  for (const TaskProcess& p : table.Processes) {
    if (others(p)) continue;
    TaskProcess& q = kept.Processes.emplace_back(p);
    q.FirstThread = static_cast<std::uint32_t>(kept.Threads.size());
    kept.Threads.insert(kept.Threads.end(), table.Threads.begin() + p.FirstThread,
                        table.Threads.begin() + p.FirstThread + p.ThreadCount);
  }
  table = std::move(kept);
}

}  // namespace ombrix::probe
