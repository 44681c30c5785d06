// Waiting in poll: an event another thread sets to end a wait early, and the clock that
// bounds the waits.
#pragma once
#include <cstdint>

#include "platform/linux/Handle.h"

namespace platform::os {

// An eventfd that becomes readable when set, for poll beside other descriptors.
class WakeEvent {
 public:
  WakeEvent();
  bool Valid() const { return fd_.Valid(); }
  int Fd() const { return fd_.Get(); }
  // Callable from any thread; a wait under way returns, or the next one at once.
  void Set();
  // Takes the event back after a wait it ended.
  void Clear();

 private:
  os::Fd fd_;
};

// Milliseconds of the monotonic clock.
std::int64_t MonotonicMs();

}  // namespace platform::os
