#include "platform/tickcount/TickCount.h"

#include <atomic>
#include <ctime>

namespace platform {
namespace {
std::atomic<TickSource> g_source{nullptr};

std::uint32_t MonotonicTicks() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);  // truncation is the wrap-around
}
}  // namespace

std::uint32_t GetTickCount() {
  const TickSource source = g_source.load(std::memory_order_acquire);
  return source ? source() : MonotonicTicks();
}

void SetTickSource(TickSource source) {
  g_source.store(source, std::memory_order_release);
}

}  // namespace platform
