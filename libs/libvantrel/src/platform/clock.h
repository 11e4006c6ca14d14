// The operating system's clocks and its local-time conversion.  The wall
// clock serves callers that receive a time of day; everything that measures
// intervals or waits uses the monotonic clock, which setting the date does
// not move.
#ifndef VANTREL_PLATFORM_CLOCK_H
#define VANTREL_PLATFORM_CLOCK_H

#include <stdint.h>
#include <time.h>

namespace vantrel::platform {

struct WallTime {
  int64_t seconds;       // since the epoch, UTC
  int32_t microseconds;  // 0 .. 999999
};

// Reads the wall clock.  0, or the system's error number with *now zeroed.
int WallClockNow(WallTime *now);

// The wall clock as of the last timer interrupt (a few milliseconds
// behind at most), read without touching the hardware clock.  0, or the
// system's error number with *now zeroed.
int WallClockNowCoarse(WallTime *now);

// Nanoseconds on the monotonic clock from an arbitrary origin.
int64_t MonotonicNanoseconds();

// Local broken-down time of t, with the time zone as TZ names it now.  0, or
// EOVERFLOW when t cannot be represented (*out may then hold anything).
int LocalTime(time_t t, struct tm *out);

// As LocalTime, for callers that convert on every line: the time zone is
// looked at again at most once per second of `now` process-wide (and at
// once when TZ's value changes), so concurrent callers do not each re-read
// it.  0, or EOVERFLOW as LocalTime.
int LocalTimeZoneOncePerSecond(time_t t, time_t now, struct tm *out);

// The C library's mktime: normalises *tm and gives its time through *out.
// 0, or EOVERFLOW when the time cannot be represented.
int MakeTime(struct tm *tm, time_t *out);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_CLOCK_H
