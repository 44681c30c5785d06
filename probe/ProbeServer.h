// The probe's side of the stream: one hello from the caller, then records for as long as the
// caller keeps its end open, and the task table whenever the caller asks for it. The caller is
// not trusted: anything but a well-formed hello, and after it anything but a request for the
// task table, ends the probe.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/kernelevents/EventSource.h"
#include "platform/kernelevents/ProbeStream.h"
#include "platform/perfdata/TaskTable.h"

namespace ombrix::probe {

// What the server asks of the loaded kernel programs; the BPF source, or a fake in tests.
class ServedSource {
 public:
  virtual ~ServedSource() = default;
  // What the classes the caller asks for gave when they were loaded; records of those only
  // from now on.
  virtual platform::SourceOpenResult Narrow(std::uint32_t enableFlags) = 0;
  virtual void Drain(platform::RecordSink& out) = 0;
  virtual std::uint64_t Dropped() const = 0;
  // The task table as the caller may see it; false when it cannot be read.
  virtual bool ReadTasks(platform::TaskTable& table) = 0;
};

// Exit statuses of the probe.
inline constexpr int kExitDone = 0;        // the caller closed its end
inline constexpr int kExitNotServed = 1;   // nothing to serve: the failure was sent
inline constexpr int kExitUsage = 2;       // started by hand, or with options it does not take
inline constexpr int kExitBadRequest = 3;  // the caller sent something that is not a hello

struct ServeOptions {
  int In = 0;
  int Out = 1;
  platform::probe::ViewScope Scope = platform::probe::ViewScope::OwnProcesses;
  int DrainPeriodMs = 75;
};

int Serve(ServedSource& source, const ServeOptions& options);

}  // namespace ombrix::probe
