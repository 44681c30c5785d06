// A tick count that the test sets by hand; installed for the life of the object.
#pragma once
#include <cstdint>

namespace ombrix::testing {

class FakeClock {
 public:
  explicit FakeClock(std::uint32_t start = 0);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  void Set(std::uint32_t ticks);
  void Advance(std::uint32_t ms);  // wraps like the real tick count
  std::uint32_t Now() const;
};

}  // namespace ombrix::testing
