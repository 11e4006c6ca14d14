// Current time, time texts, local time and time-of-day arithmetic.  The
// test environment runs with TZ=UTC and LC_ALL=C.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "time/time_internal.h"
#include "vantrel/vtime.h"

namespace {

using TextPtr = std::unique_ptr<char, decltype(&free)>;

// A block of exactly the documented 26 bytes, so that AddressSanitizer
// catches any write beyond it.
TextPtr TextBuffer() {
  return TextPtr(static_cast<char *>(calloc(26, 1)), free);
}

std::string Render(char *(*render)(const time_t *, char *), time_t t) {
  TextPtr buf = TextBuffer();
  EXPECT_EQ(render(&t, buf.get()), buf.get());
  return buf.get();
}

std::string Ctime(time_t t) { return Render(v_ctime, t); }
std::string Ctimex(time_t t) { return Render(v_ctimex, t); }

TEST(VTimeTest, CtimeHasTheFixedFormInUtc) {
  EXPECT_EQ(Ctime(0), "Thu Jan  1 00:00:00 1970\n");
  EXPECT_EQ(Ctime(1700000000), "Tue Nov 14 22:13:20 2023\n");
  EXPECT_EQ(Ctime(253402300799), "Fri Dec 31 23:59:59 9999\n");
  EXPECT_EQ(Ctimex(0), "Thu Jan  1 00:00:00 1970");
  EXPECT_EQ(Ctimex(951782400), "Tue Feb 29 00:00:00 2000");
}

TEST(VTimeTest, CtimexIsAlways24Characters) {
  for (time_t t = 0; t < 253402300800; t = t * 3 + 86399) {
    EXPECT_EQ(Ctimex(t).size(), 24u) << t;
  }
}

TEST(VTimeTest, NegativeTimesAreReportedAsInvalid) {
  EXPECT_EQ(Ctime(-1), "Invalid time: -1");
  EXPECT_EQ(Ctimex(-1), "Invalid time: -1");
  EXPECT_EQ(Ctime(-2147483648LL), "Invalid time: -2147483648");
  // The widest value is cut to the buffer, never written past it.
  EXPECT_EQ(Ctime(INT64_MIN), "Invalid time: -9223372036");
  EXPECT_EQ(Ctimex(INT64_MIN), "Invalid time: -922337203");
}

TEST(VTimeTest, UnconvertibleTimesGiveAnEmptyText) {
  EXPECT_EQ(Ctime(253402300800), "");  // year 10000 does not fit
  EXPECT_EQ(Ctime(INT64_MAX), "");     // not representable at all
  EXPECT_EQ(Ctimex(INT64_MAX), "");
}

TEST(VTimeTest, CtimeFollowsTheTimeZone) {
  const char *old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "EST5", 1);
  EXPECT_EQ(Ctime(0), "Wed Dec 31 19:00:00 1969\n");
  struct tm tm;
  time_t zero = 0;
  ASSERT_NE(v_localtime(&zero, &tm), nullptr);
  EXPECT_EQ(tm.tm_hour, 19);
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  EXPECT_EQ(Ctime(0), "Thu Jan  1 00:00:00 1970\n");
}

TEST(VTimeTest, LocaltimeAndMktimeAreInverse) {
  struct tm tm;
  time_t t = 1700000000;
  ASSERT_EQ(v_localtime(&t, &tm), &tm);
  EXPECT_EQ(tm.tm_year * 10000 + tm.tm_mon * 100 + tm.tm_mday, 1231014);
  EXPECT_EQ(tm.tm_wday * 1000 + tm.tm_yday, 2317);
  EXPECT_EQ(v_mktime(&tm), t);
  tm.tm_mday += 17;  // normalised: November 31st is December 1st
  EXPECT_EQ(v_mktime(&tm), t + 17 * 86400);
  EXPECT_EQ(tm.tm_mon * 100 + tm.tm_mday, 1101);

  // An unconvertible time leaves the caller's record alone.
  struct tm before = tm;
  time_t huge = INT64_MAX;
  EXPECT_EQ(v_localtime(&huge, &tm), nullptr);
  EXPECT_EQ(memcmp(&before, &tm, sizeof tm), 0);
}

TEST(VTimeTest, CurrentTimeAgreesAcrossForms) {
  time_t stored = 0;
  time_t before = VGetCurrentUTC(&stored);
  EXPECT_EQ(stored, before);
  EXPECT_GT(before, 1600000000);
  EXPECT_LT(VGetCurrentUTC(nullptr) - before, 2);

  VTimeval tv{-1, -1};
  EXPECT_EQ(v_gettimeofday(&tv), 0);
  EXPECT_GE(tv.tv_sec, before);
  EXPECT_LE(tv.tv_sec, before + 2);
  EXPECT_GE(tv.tv_usec, 0);
  EXPECT_LE(tv.tv_usec, 999000);
  EXPECT_EQ(tv.tv_usec % 1000, 0);  // millisecond resolution
}

// Checks text against the v_ctimex form of some second in [from, to].
void ExpectTimeTextWithin(const std::string &text, time_t from, time_t to,
                          size_t cut) {
  for (time_t t = from; t <= to; ++t) {
    if (text == Ctimex(t).substr(0, cut)) return;
  }
  ADD_FAILURE() << "'" << text << "' is no time between " << from << " and "
                << to;
}

TEST(VTimeTest, TimestringIsTheCurrentCutText) {
  TextPtr buf = TextBuffer();
  time_t from = VGetCurrentUTC(nullptr);
  v_timestring(buf.get());
  ExpectTimeTextWithin(buf.get(), from, VGetCurrentUTC(nullptr), 24);
}

TEST(VTimeTest, LocalDateTimeUsesTheLocaleFormatAndFallsBack) {
  char buf[64];
  vantrel::internal::FormatLocalDateTime(buf, sizeof buf);
  // "%x %X" in the C locale: "MM/DD/YY HH:MM:SS".
  ASSERT_EQ(strlen(buf), 17u) << buf;
  EXPECT_EQ(buf[2], '/');
  EXPECT_EQ(buf[8], ' ');
  EXPECT_EQ(buf[11], ':');

  // Too small for "%x %X": the cut time text, cut again to fit.
  TextPtr small(static_cast<char *>(malloc(10)), free);
  time_t from = VGetCurrentUTC(nullptr);
  vantrel::internal::FormatLocalDateTime(small.get(), 10);
  ExpectTimeTextWithin(small.get(), from, VGetCurrentUTC(nullptr), 9);
  vantrel::internal::FormatLocalDateTime(small.get(), 1);
  EXPECT_STREQ(small.get(), "");
  small.get()[0] = 'Q';
  vantrel::internal::FormatLocalDateTime(small.get(), 0);
  EXPECT_EQ(small.get()[0], 'Q');
}

struct PairCase {
  VTimeval a, b, want;
};

TEST(VTimevalTest, AddCarriesAndSubtractBorrowsOnce) {
  const PairCase adds[] = {
      {{1, 600000}, {0, 600000}, {2, 200000}},
      {{1, 400000}, {0, 600000}, {2, 0}},
      {{1, 399999}, {0, 600000}, {1, 999999}},
      {{0, 999999}, {0, 999999}, {1, 999998}},
      {{-5, 0}, {3, 1}, {-2, 1}},
      {{INT64_MAX, 500000}, {0, 500000}, {INT64_MIN, 0}},  // wraps, no trap
  };
  for (const PairCase &c : adds) {
    VTimeval a = c.a;
    VTimevalAdd(&a, &c.b);
    EXPECT_EQ(a.tv_sec, c.want.tv_sec) << c.a.tv_sec << "+" << c.b.tv_sec;
    EXPECT_EQ(a.tv_usec, c.want.tv_usec) << c.a.tv_usec << "+" << c.b.tv_usec;
  }
  const PairCase subs[] = {
      {{2, 100000}, {0, 200000}, {1, 900000}},
      {{2, 200000}, {0, 200000}, {2, 0}},
      {{0, 0}, {0, 1}, {-1, 999999}},
      {{5, 0}, {7, 999999}, {-3, 1}},
  };
  for (const PairCase &c : subs) {
    VTimeval a = c.a;
    VTimevalSubtract(&a, &c.b);
    EXPECT_EQ(a.tv_sec, c.want.tv_sec) << c.a.tv_sec << "-" << c.b.tv_sec;
    EXPECT_EQ(a.tv_usec, c.want.tv_usec) << c.a.tv_usec << "-" << c.b.tv_usec;
  }
}

TEST(VTimevalTest, MicrosecondConversionsTruncateTowardZero) {
  VTimeval tv{99, 99};
  VTimevalFromMicroseconds(&tv, -1500000);
  EXPECT_EQ(tv.tv_sec, -1);
  EXPECT_EQ(tv.tv_usec, -500000);
  VTimevalFromMicroseconds(&tv, 2500001);
  EXPECT_EQ(tv.tv_sec, 2);
  EXPECT_EQ(tv.tv_usec, 500001);
  VTimevalFromMicroseconds(&tv, INT32_MIN);
  EXPECT_EQ(tv.tv_sec, -2147);
  EXPECT_EQ(tv.tv_usec, -483648);
  EXPECT_EQ(VTimevalToMicroseconds(&tv), INT32_MIN);

  VTimeval big{2148, 0};  // 2148000000 wraps past INT32_MAX
  EXPECT_EQ(VTimevalToMicroseconds(&big), -2146967296);
  VTimeval far{INT64_MAX, 999999};
  EXPECT_EQ(VTimevalToMicroseconds(&far),
            static_cast<int32_t>(static_cast<uint64_t>(INT64_MAX) * 1000000u +
                                 999999u));
}

TEST(VTimevalTest, IncrementDecrementAndDifference) {
  VTimeval tv{10, 900000};
  VTimevalIncrement(&tv, 1200000);
  EXPECT_EQ(tv.tv_sec, 12);
  EXPECT_EQ(tv.tv_usec, 100000);
  VTimevalDecrement(&tv, 300000);
  EXPECT_EQ(tv.tv_sec, 11);
  EXPECT_EQ(tv.tv_usec, 800000);
  // A negative count converts to a negative pair; one carry step is all
  // the addition does, so the result keeps negative microseconds.
  VTimevalIncrement(&tv, -900000);
  EXPECT_EQ(tv.tv_sec, 11);
  EXPECT_EQ(tv.tv_usec, -100000);

  VTimeval a{100, 250000}, b{98, 750000};
  EXPECT_EQ(VTimevalDifference(&a, &b), -1500000);
  EXPECT_EQ(VTimevalDifference(&b, &a), 1500000);
  EXPECT_EQ(VTimevalDifference(&a, &a), 0);
  VTimeval later{100 + 2148, 250000};
  EXPECT_EQ(VTimevalDifference(&a, &later), -2146967296);  // 32-bit wrap
}

}  // namespace
