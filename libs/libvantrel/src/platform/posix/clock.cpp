// POSIX clocks: clock_gettime for both clocks, localtime_r and mktime.
#include "platform/clock.h"

#include <time.h>

namespace vantrel::platform {

bool WallClockNow(WallTime *now) {
  struct timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
    *now = WallTime{0, 0};
    return false;
  }
  now->seconds = ts.tv_sec;
  now->microseconds = static_cast<int32_t>(ts.tv_nsec / 1000);
  return true;
}

int64_t MonotonicNanoseconds() {
  struct timespec ts;
  // CLOCK_MONOTONIC cannot fail on Linux; keep a defined value anyway.
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool LocalTime(time_t t, struct tm *out) {
  // localtime_r may read TZ only once; tzset picks up a changed TZ the way
  // mktime does, so both conversions agree.
  tzset();
  return localtime_r(&t, out) != nullptr;
}

time_t MakeTime(struct tm *tm) { return mktime(tm); }

}  // namespace vantrel::platform
