#include "tests/support/FakeClock.h"

#include <atomic>

#include "platform/tickcount/TickCount.h"

namespace ombrix::testing {
namespace {
std::atomic<std::uint32_t> g_ticks{0};
std::uint32_t FakeTicks() {
  return g_ticks.load();
}
}  // namespace

FakeClock::FakeClock(std::uint32_t start) {
  g_ticks = start;
  platform::SetTickSource(&FakeTicks);
}
FakeClock::~FakeClock() {
  platform::SetTickSource(nullptr);
}
void FakeClock::Set(std::uint32_t ticks) {
  g_ticks = ticks;
}
void FakeClock::Advance(std::uint32_t ms) {
  g_ticks += ms;
}
std::uint32_t FakeClock::Now() const {
  return g_ticks.load();
}

}  // namespace ombrix::testing
