#include "platform/clock/ThreadTime.h"

#include <ctime>

namespace platform {

std::int64_t ThreadCpuNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace platform
