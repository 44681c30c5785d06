// Millisecond tick count: unsigned 32 bits from a monotonic clock, wrapping after ~49.7 days.
#pragma once
#include <cstdint>

namespace platform {

std::uint32_t GetTickCount();

// Replaces the clock for the whole process (tests use it to reach the wrap-around);
// nullptr restores the monotonic clock.
using TickSource = std::uint32_t (*)();
void SetTickSource(TickSource source);

}  // namespace platform
