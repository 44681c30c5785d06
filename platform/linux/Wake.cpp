#include "platform/linux/Wake.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <ctime>

namespace platform::os {

WakeEvent::WakeEvent() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeEvent::Set() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(fd_.Get(), &one, sizeof one);
}

void WakeEvent::Clear() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(fd_.Get(), &count, sizeof count);
}

std::int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace platform::os
