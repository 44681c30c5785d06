// Process start records: from the kernel's process connector when the process may listen to it,
// otherwise from the difference between successive /proc listings (which misses processes
// that live less than one poll).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernelevents/EventRecord.h"
#include "platform/linux/Handle.h"

namespace platform {

// The start record of pid as it is now, with its parent's name for a fork that has not run a
// new program yet; nothing for kernel threads or a process already gone.
std::optional<EventRecord> StartRecordOf(std::uint32_t pid, bool useParentName);

class ProcConnector {
 public:
  int Open();  // 0, or the errno that stopped it
  int Fd() const { return fd_.Get(); }
  // Reads every pending message without blocking.
  void Read(std::vector<EventRecord>& out);
  std::uint64_t Lost() const { return lost_; }  // overruns of the receive buffer

 private:
  void Decode(const void* message, std::size_t length, std::vector<EventRecord>& out);
  os::Fd fd_;
  std::uint64_t lost_ = 0;
};

class ProcessScan {
 public:
  void Open();  // remembers the processes that exist now and the time of this start
  void Poll(std::vector<EventRecord>& out);
  // The same with the pids listed by the caller, who lists them for others too (in order).
  void Poll(std::vector<EventRecord>& out, const std::vector<std::uint32_t>& pids);

 private:
  std::vector<std::uint32_t> known_;  // sorted
  std::uint64_t since_ = 0;           // our own start, in clock ticks after boot
};

}  // namespace platform
