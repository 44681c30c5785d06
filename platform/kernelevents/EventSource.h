// A source of kernel event records behind the kernel logger session: the Linux backend, or a
// recorded one in tests.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/kernelevents/EventRecord.h"

namespace platform {

struct SourceOpenResult {
  bool Opened = false;           // at least one of the requested sources works
  std::uint32_t FirstError = 0;  // errno of the first requested source that failed
};

class EventSource {
 public:
  virtual ~EventSource() = default;
  // Opens what the enable flags ask for (called once, before any Poll).
  virtual SourceOpenResult Open(std::uint32_t enableFlags) = 0;
  // Waits for records and appends them to out, in delivery order; returns after at most one
  // poll period of the source, or at once after Wake. Called by one thread at a time.
  virtual void Poll(std::vector<EventRecord>& out) = 0;
  // Makes the current or the next Poll return soon; callable from any thread.
  virtual void Wake() = 0;
};

}  // namespace platform
