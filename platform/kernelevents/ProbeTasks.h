// The task table asked of a serving probe from any thread: the request goes down the probe's
// standard input, the answer comes back in the event stream and is handed over by the thread
// that reads that stream. Shared, so that a request in flight outlives the source it came from.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/kernelevents/ProbeStream.h"
#include "platform/linux/Handle.h"
#include "platform/perfdata/TaskTable.h"

namespace platform {

class ProbeTaskChannel {
 public:
  // Takes over the probe's standard input; closing it ends the probe.
  explicit ProbeTaskChannel(os::Fd requestFd);
  ~ProbeTaskChannel();
  ProbeTaskChannel(const ProbeTaskChannel&) = delete;
  ProbeTaskChannel& operator=(const ProbeTaskChannel&) = delete;

  // Asks for the table and waits for it; false when the probe is gone, gave an empty table, or
  // did not answer within the time. The caller must not hold a lock the stream's reader may
  // wait for.
  bool Request(TaskTable& table, int timeoutMs);
  // The reader's part: one Tasks frame; false when it is malformed.
  bool Take(const probe::Frame& frame, std::string& error);
  // No more requests; waiting ones return false.
  void Close();

 private:
  std::mutex mutex_;
  std::condition_variable answered_;
  os::Fd requestFd_;
  std::uint32_t sequence_ = 0;  // of the request waited for
  bool waiting_ = false;
  bool ready_ = false;
  TaskTable building_, answer_;
};

}  // namespace platform
