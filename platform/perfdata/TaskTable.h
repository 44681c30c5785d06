// Every process and thread in one table, as the privileged helper reads it from the kernel in
// one pass. The performance data provider builds its Process and Thread objects from it when
// one is offered, instead of reading four or five files of every process in /proc.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct TaskThread {
  std::uint32_t Tid = 0;
  std::uint64_t RuntimeNs = 0;  // CPU time
  std::uint64_t Switches = 0;   // times it was switched to
};

struct TaskProcess {
  std::uint32_t Pid = 0;
  std::uint32_t ParentId = 0;
  std::uint32_t Uid = 0;  // real uid
  bool KernelThread = false;
  bool Zombie = false;
  std::uint64_t StartNs = 0;    // since boot
  std::uint64_t RuntimeNs = 0;  // the whole group's, ended threads included
  std::uint64_t ResidentPages = 0;
  std::uint64_t SharedPages = 0;  // file-backed and shared memory, within the resident ones
  bool IoKnown = false;           // false where the reader may not see this process's I/O
  std::uint64_t ReadChars = 0, WriteChars = 0, ReadCalls = 0, WriteCalls = 0;
  std::string Comm;               // as the kernel keeps it, at most 15 bytes
  std::string Exe;                // the executable's base name, given when Comm may have been cut
  std::uint32_t FirstThread = 0;  // its threads in TaskTable::Threads
  std::uint32_t ThreadCount = 0;
};

struct TaskTable {
  std::vector<TaskProcess> Processes;
  std::vector<TaskThread> Threads;
  void Clear() {
    Processes.clear();
    Threads.clear();
  }
};

// Where the provider gets the table: a function that fills it and says whether it could. One
// source at a time; its owner takes it away again before it goes.
using TaskTableSource = std::function<bool(TaskTable& table)>;
void SetTaskTableSource(const void* owner, TaskTableSource source);
void ClearTaskTableSource(const void* owner);
// False, the table unchanged or partly filled, when no source is set or it could not answer.
bool ReadTaskTable(TaskTable& table);

}  // namespace platform
