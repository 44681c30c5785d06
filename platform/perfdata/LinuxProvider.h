// The Linux performance data provider: builds genuine performance data blocks for the
// System, Memory, Processor, Process, Thread, LogicalDisk and Network Interface objects
// from /proc and /sys at the moment of the query.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/perfdata/PerfDataKey.h"
#include "platform/perfdata/TaskTable.h"
#include "platform/perfdata/WirelessBitrate.h"

namespace platform {

class LinuxPerfProvider {
 public:
  // The roots of the proc and sys file systems and the rates of wireless links; tests give
  // their own.
  explicit LinuxPerfProvider(std::string procRoot = "/proc", std::string sysRoot = "/sys",
                             BitrateSource bitrate = WirelessBitrate);
  ~LinuxPerfProvider();
  LinuxPerfProvider(const LinuxPerfProvider&) = delete;
  LinuxPerfProvider& operator=(const LinuxPerfProvider&) = delete;

  // Builds one block for the objects that the query names ("Global " or a list of object
  // name indexes separated by blanks); valid until the next Build.
  const std::vector<std::uint8_t>& Build(std::string_view queryText);

  // Where the processes and threads come from when a task table is offered: by default the
  // process-wide one (ReadTaskTable) for the real /proc, none for a made-up tree. An empty
  // reader makes the provider read /proc.
  void SetTaskTableReader(std::function<bool(TaskTable&)> reader);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// A process's instance name as the block gives it. The block has instances of its own under
// three names: "Idle" and "_Total" (which readers skip) and "System" (the kernel's threads);
// a process that is called so gets "#" and its id added, so that it is neither skipped nor
// taken for one of them.
std::string UnreservedInstanceName(std::string name, std::uint32_t pid);

// The name under which the provider lists a process ("System" for kernel threads); empty
// when the process is gone. Event sources name new processes by the same rule, so that a
// process keeps its name between an event and the next sample.
std::string ProcessInstanceName(std::uint32_t pid);

// The resource map value ".Translated": a CM_RESOURCE_LIST whose memory ranges add up to
// the given byte count, each range small enough for its 32-bit length field.
std::string MemoryResourceList(std::uint64_t bytes);
// MemTotal in bytes; 0 when /proc/meminfo cannot be read.
std::uint64_t PhysicalMemoryTotal();

// The process-wide Linux source behind the performance data service.
PerfDataSource& LinuxPerfDataSource();

}  // namespace platform
