// The wall clock in local time, broken into its fields.
#pragma once

namespace platform {

struct LocalTime {
  int Year = 0;
  int Month = 0;  // 1..12
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

LocalTime LocalTimeNow();

}  // namespace platform
