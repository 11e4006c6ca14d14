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

// Reads the wall clock; false (and *now zeroed) when it cannot be read.
bool WallClockNow(WallTime *now);

// Nanoseconds on the monotonic clock from an arbitrary origin.
int64_t MonotonicNanoseconds();

// Local broken-down time of t; false when t cannot be represented, in which
// case *out may hold anything.
bool LocalTime(time_t t, struct tm *out);

// The C library's mktime: normalises *tm and returns its time, or -1.
time_t MakeTime(struct tm *tm);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_CLOCK_H
