#include "platform/clock/LocalTime.h"

#include <ctime>

namespace platform {

LocalTime LocalTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm parts{};
  localtime_r(&ts.tv_sec, &parts);
  LocalTime t;
  t.Year = parts.tm_year + 1900;
  t.Month = parts.tm_mon + 1;
  t.Day = parts.tm_mday;
  t.Hour = parts.tm_hour;
  t.Minute = parts.tm_min;
  t.Second = parts.tm_sec;
  t.Millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

}  // namespace platform
