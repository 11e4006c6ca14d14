// POSIX clocks: clock_gettime for both clocks, localtime_r and mktime.
#include "platform/clock.h"

#include <errno.h>

#include "platform/posix/os_table.h"

namespace vantrel::platform {

namespace {

int ReadWallClock(clockid_t id, WallTime *now) {
  struct timespec ts;
  if (VOS(clock_gettime)(id, &ts) != 0) {
    *now = WallTime{0, 0};
    return errno;
  }
  now->seconds = ts.tv_sec;
  now->microseconds = static_cast<int32_t>(ts.tv_nsec / 1000);
  return 0;
}

}  // namespace

int WallClockNow(WallTime *now) { return ReadWallClock(CLOCK_REALTIME, now); }

int WallClockNowCoarse(WallTime *now) {
  return ReadWallClock(CLOCK_REALTIME_COARSE, now);
}

int64_t MonotonicNanoseconds() {
  struct timespec ts;
  // CLOCK_MONOTONIC cannot fail on Linux; keep a defined value anyway.
  if (VOS(clock_gettime)(CLOCK_MONOTONIC, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int LocalTime(time_t t, struct tm *out) {
  // localtime_r may read TZ only once; tzset picks up a changed TZ the way
  // mktime does, so both conversions agree.
  VOS(tzset)();
  if (VOS(localtime_r)(&t, out) != nullptr) return 0;
  return errno != 0 ? errno : EOVERFLOW;
}

// mktime's -1 is also the time one second before the epoch; only a -1 that
// comes with an error number is a failure.
int MakeTime(struct tm *tm, time_t *out) {
  int saved = errno;
  errno = 0;
  time_t t = VOS(mktime)(tm);
  int error = t == static_cast<time_t>(-1) ? errno : 0;
  errno = saved;
  if (error != 0) return error;
  *out = t;
  return 0;
}

}  // namespace vantrel::platform
