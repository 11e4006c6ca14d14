// POSIX clocks: clock_gettime for both clocks, localtime_r and mktime.
// The C library guards its time-zone state with a lock of its own that
// race detectors cannot see, and tzset replaces that state when TZ changes;
// every conversion here therefore runs under one lock of the library's, so
// that the library's conversions are ordered for such tools as well.
#include "platform/clock.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "platform/posix/os_table.h"

namespace vantrel::platform {
namespace {

constinit pthread_mutex_t g_zone_lock = PTHREAD_MUTEX_INITIALIZER;

class ZoneLock {
 public:
  ZoneLock() : held_(VOS(pthread_mutex_lock)(&g_zone_lock) == 0) {}
  ~ZoneLock() {
    if (held_) VOS(pthread_mutex_unlock)(&g_zone_lock);
  }
  ZoneLock(const ZoneLock &) = delete;
  ZoneLock &operator=(const ZoneLock &) = delete;

 private:
  bool held_;
};

// What the last tzset saw; guarded by g_zone_lock.  A TZ too long for the
// copy counts as changed every time.
constexpr size_t kZoneTextSize = 256;
struct ZoneSeen {
  bool valid;
  bool set;  // TZ was set
  time_t second;
  char text[kZoneTextSize];
};
constinit ZoneSeen g_zone_seen{};

bool ZoneChanged(const char *tz) {
  const ZoneSeen &seen = g_zone_seen;
  if (!seen.valid || seen.set != (tz != nullptr)) return true;
  return tz != nullptr && strncmp(seen.text, tz, kZoneTextSize) != 0;
}

// Calls tzset and remembers what it saw; the caller holds g_zone_lock.
void ReadZone(time_t now) {
  VOS(tzset)();
  const char *tz = getenv("TZ");
  ZoneSeen &seen = g_zone_seen;
  seen.set = tz != nullptr;
  seen.valid = tz == nullptr || strlen(tz) < kZoneTextSize;
  if (tz != nullptr && seen.valid) memcpy(seen.text, tz, strlen(tz) + 1);
  seen.second = now;
}

int Convert(time_t t, struct tm *out) {
  if (VOS(localtime_r)(&t, out) != nullptr) return 0;
  return errno != 0 ? errno : EOVERFLOW;
}

}  // namespace

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
  ZoneLock lock;
  ReadZone(g_zone_seen.second);
  return Convert(t, out);
}

int LocalTimeZoneOncePerSecond(time_t t, time_t now, struct tm *out) {
  ZoneLock lock;
  // Only a later second reads again: a caller that read the clock before
  // another one but converts after it does not.  A clock set back by more
  // than a minute starts over.
  time_t last = g_zone_seen.second;
  if (now > last || now < last - 60 || ZoneChanged(getenv("TZ"))) {
    ReadZone(now);
  }
  return Convert(t, out);
}

// mktime's -1 is also the time one second before the epoch; only a -1 that
// comes with an error number is a failure.
int MakeTime(struct tm *tm, time_t *out) {
  int saved = errno;
  errno = 0;
  time_t t;
  {
    ZoneLock lock;  // mktime calls tzset itself
    t = VOS(mktime)(tm);
  }
  int error = t == static_cast<time_t>(-1) ? errno : 0;
  errno = saved;
  if (error != 0) return error;
  *out = t;
  return 0;
}

}  // namespace vantrel::platform
