// Current time, fixed-width time texts, local broken-down time and
// arithmetic on time-of-day pairs.
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "platform/clock.h"
#include "time/time_internal.h"
#include "vantrel/vtime.h"

namespace vantrel::internal {
namespace {

// Size of the fixed time text: 24 characters, the newline, the terminator.
constexpr size_t kTimeTextSize = 26;
constexpr size_t kTimeTextCut = 24;
constexpr int64_t kMicrosPerSecond = 1000000;

// Two's complement arithmetic without signed overflow: extreme inputs wrap
// instead of invoking undefined behaviour.
int64_t WrapAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) +
                              static_cast<uint64_t>(b));
}

int64_t WrapSub(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) -
                              static_cast<uint64_t>(b));
}

int32_t WrapToMicros32(int64_t seconds, int64_t micros) {
  uint64_t total = static_cast<uint64_t>(seconds) * kMicrosPerSecond +
                   static_cast<uint64_t>(micros);
  return static_cast<int32_t>(total);
}

// The asctime layout with English names, independent of the locale.  False
// when the text would not fit (a year of five digits or more).
bool FormatTimeText(const struct tm &tm, char *buf) {
  int64_t year = static_cast<int64_t>(tm.tm_year) + 1900;
  int n =
      snprintf(buf, kTimeTextSize, "%.3s %.3s%3d %.2d:%.2d:%.2d %" PRId64 "\n",
               kWeekdayAbbrev[tm.tm_wday], kMonthAbbrev[tm.tm_mon], tm.tm_mday,
               tm.tm_hour, tm.tm_min, tm.tm_sec, year);
  return n > 0 && static_cast<size_t>(n) < kTimeTextSize;
}

bool ValidFields(const struct tm &tm) {
  return tm.tm_wday >= 0 && tm.tm_wday < 7 && tm.tm_mon >= 0 && tm.tm_mon < 12;
}

time_t CurrentUTC() {
  platform::WallTime now;
  platform::WallClockNow(&now);
  return static_cast<time_t>(now.seconds);
}

char *TimeText(const time_t *t, char *buf) {
  if (*t < 0) {
    // A time below -10^10 does not fit the buffer and is cut.
    if (snprintf(buf, kTimeTextSize, "Invalid time: %" PRId64,
                 static_cast<int64_t>(*t)) < 0) {
      buf[0] = '\0';
    }
    return buf;
  }
  struct tm tm;
  if (platform::LocalTime(*t, &tm) != 0 || !ValidFields(tm) ||
      !FormatTimeText(tm, buf)) {
    buf[0] = '\0';
  }
  return buf;
}

char *TimeTextCut(const time_t *t, char *buf) {
  TimeText(t, buf);
  if (strlen(buf) > kTimeTextCut) buf[kTimeTextCut] = '\0';
  return buf;
}

void TimevalAdd(VTimeval *a, const VTimeval *b) {
  int64_t usec = static_cast<int64_t>(a->tv_usec) + b->tv_usec;
  int64_t sec = WrapAdd(a->tv_sec, b->tv_sec);
  if (usec >= kMicrosPerSecond) {
    usec -= kMicrosPerSecond;
    sec = WrapAdd(sec, 1);
  }
  a->tv_sec = sec;
  a->tv_usec = static_cast<int32_t>(usec);
}

void TimevalSubtract(VTimeval *a, const VTimeval *b) {
  int64_t usec = static_cast<int64_t>(a->tv_usec) - b->tv_usec;
  int64_t sec = WrapSub(a->tv_sec, b->tv_sec);
  if (usec < 0) {
    usec += kMicrosPerSecond;
    sec = WrapSub(sec, 1);
  }
  a->tv_sec = sec;
  a->tv_usec = static_cast<int32_t>(usec);
}

void TimevalFromMicros(VTimeval *tv, int32_t micros) {
  tv->tv_sec = micros / kMicrosPerSecond;
  tv->tv_usec = static_cast<int32_t>(micros % kMicrosPerSecond);
}

}  // namespace

void FormatLocalDateTime(char *buf, size_t size) {
  if (size == 0) return;
  time_t now = CurrentUTC();
  struct tm tm;
  if (platform::LocalTime(now, &tm) == 0 &&
      strftime(buf, size, "%x %X", &tm) > 0) {
    return;
  }
  char text[kTimeTextSize];
  TimeTextCut(&now, text);
  size_t n = strlen(text);
  if (n >= size) n = size - 1;
  memcpy(buf, text, n);
  buf[n] = '\0';
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

time_t VGetCurrentUTC(time_t *now) {
  time_t t = vi::CurrentUTC();
  if (now != nullptr) *now = t;
  return t;
}

int v_gettimeofday(VTimeval *tv) {
  if (tv == nullptr) return EINVAL;
  vantrel::platform::WallTime now;
  vantrel::platform::WallClockNow(&now);  // zeroed when unreadable
  tv->tv_sec = now.seconds;
  tv->tv_usec = now.microseconds / 1000 * 1000;
  return 0;
}

char *v_ctime(const time_t *t, char *buf) {
  if (t == nullptr || buf == nullptr) return nullptr;
  return vi::TimeText(t, buf);
}

char *v_ctimex(const time_t *t, char *buf) {
  if (t == nullptr || buf == nullptr) return nullptr;
  return vi::TimeTextCut(t, buf);
}

void v_timestring(char *buf) {
  if (buf == nullptr) return;
  time_t now = vi::CurrentUTC();
  vi::TimeTextCut(&now, buf);
}

struct tm *v_localtime(const time_t *t, struct tm *out) {
  if (t == nullptr || out == nullptr) return nullptr;
  struct tm tm;
  if (vantrel::platform::LocalTime(*t, &tm) != 0) return nullptr;
  *out = tm;
  return out;
}

time_t v_mktime(struct tm *tm) {
  if (tm == nullptr) return static_cast<time_t>(-1);
  time_t result = -1;  // mktime's failure value
  vantrel::platform::MakeTime(tm, &result);
  return result;
}

void VTimevalAdd(VTimeval *a, const VTimeval *b) {
  if (a != nullptr && b != nullptr) vi::TimevalAdd(a, b);
}

void VTimevalSubtract(VTimeval *a, const VTimeval *b) {
  if (a != nullptr && b != nullptr) vi::TimevalSubtract(a, b);
}

void VTimevalIncrement(VTimeval *tv, int32_t microseconds) {
  if (tv == nullptr) return;
  VTimeval delta;
  vi::TimevalFromMicros(&delta, microseconds);
  vi::TimevalAdd(tv, &delta);
}

void VTimevalDecrement(VTimeval *tv, int32_t microseconds) {
  if (tv == nullptr) return;
  VTimeval delta;
  vi::TimevalFromMicros(&delta, microseconds);
  vi::TimevalSubtract(tv, &delta);
}

int32_t VTimevalDifference(const VTimeval *a, const VTimeval *b) {
  if (a == nullptr || b == nullptr) return 0;
  return vi::WrapToMicros32(vi::WrapSub(b->tv_sec, a->tv_sec),
                            static_cast<int64_t>(b->tv_usec) - a->tv_usec);
}

int32_t VTimevalToMicroseconds(const VTimeval *tv) {
  if (tv == nullptr) return 0;
  return vi::WrapToMicros32(tv->tv_sec, tv->tv_usec);
}

void VTimevalFromMicroseconds(VTimeval *tv, int32_t microseconds) {
  if (tv != nullptr) vi::TimevalFromMicros(tv, microseconds);
}
