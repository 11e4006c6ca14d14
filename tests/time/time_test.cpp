// The test environment runs with TZ=UTC and LC_ALL=C.
#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "time/time_internal.h"
#include "vantrel/vtime.h"

namespace {

// Renders into a block of exactly the documented 26 bytes, so that
// AddressSanitizer catches any write beyond it.
std::string Render(char *(*render)(const time_t *, char *), time_t t) {
  char *buf = static_cast<char *>(calloc(26, 1));
  EXPECT_EQ(render(&t, buf), buf);
  std::string text = buf;
  free(buf);
  return text;
}

TEST(VTimeTest, CtimeTextsForValidAndInvalidTimes) {
  const std::pair<time_t, const char *> cases[] = {
      {0, "Thu Jan  1 00:00:00 1970"},
      {951782400, "Tue Feb 29 00:00:00 2000"},
      {253402300799, "Fri Dec 31 23:59:59 9999"},
      {-1, "Invalid time: -1"},
      {253402300800, ""},  // year 10000 does not fit
      {INT64_MAX, ""},
  };
  for (const auto &[t, text] : cases) {  // v_ctime adds a line feed
    EXPECT_EQ(Render(v_ctimex, t), text);
    EXPECT_EQ(Render(v_ctime, t), text + std::string(strlen(text) == 24, '\n'));
  }
  // The widest value is cut to the buffer, never written past it.
  EXPECT_EQ(Render(v_ctime, INT64_MIN), "Invalid time: -9223372036");
  EXPECT_EQ(Render(v_ctimex, INT64_MIN), "Invalid time: -922337203");
  for (time_t t = 0; t < 253402300800; t = t * 3 + 86399) {
    EXPECT_EQ(Render(v_ctimex, t).size(), 24u) << t;
  }
}

// In a zone other than UTC, so that a conversion in the wrong zone shows.
TEST(VTimeTest, LocalTimesFollowTheZoneAndMktimeInvertsThem) {
  setenv("TZ", "EST5", 1);
  EXPECT_EQ(Render(v_ctime, 0), "Wed Dec 31 19:00:00 1969\n");
  struct tm tm;
  time_t t = 1700000000;
  ASSERT_EQ(v_localtime(&t, &tm), &tm);
  EXPECT_EQ(tm.tm_year * 10000 + tm.tm_mon * 100 + tm.tm_mday, 1231014);
  EXPECT_EQ(tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec, 171320);
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
  setenv("TZ", "UTC", 1);
}

// Checks text against the v_ctimex form of some second in [from, now].
void ExpectTimeTextSince(const std::string &text, time_t from, size_t cut) {
  for (time_t t = from; t <= VGetCurrentUTC(nullptr); ++t) {
    if (text == Render(v_ctimex, t).substr(0, cut)) return;
  }
  ADD_FAILURE() << "'" << text << "' is no time since " << from;
}

TEST(VTimeTest, CurrentTimeAgreesAcrossFormsAndTexts) {
  time_t stored = 0;
  time_t before = VGetCurrentUTC(&stored);
  EXPECT_EQ(stored, before);
  EXPECT_GT(before, 1600000000);
  VTimeval tv{-1, -1};
  EXPECT_EQ(v_gettimeofday(&tv), 0);
  EXPECT_GE(tv.tv_sec, before);
  EXPECT_LE(tv.tv_sec, before + 2);
  EXPECT_LE(static_cast<uint64_t>(tv.tv_usec), 999000u);
  EXPECT_EQ(tv.tv_usec % 1000, 0);  // millisecond resolution

  char *buf = static_cast<char *>(malloc(26));
  v_timestring(buf);
  ExpectTimeTextSince(buf, before, 24);
  // "%x %X" in the C locale, "MM/DD/YY HH:MM:SS"; too small for that, the
  // cut time text, cut again to fit.
  vantrel::internal::FormatLocalDateTime(buf, 26);
  std::string local = buf;
  for (char &ch : local) ch = isdigit(ch) ? '9' : ch;
  EXPECT_EQ(local, "99/99/99 99:99:99");
  free(buf);
  buf = static_cast<char *>(malloc(10));  // exactly the size it is told
  vantrel::internal::FormatLocalDateTime(buf, 10);
  ExpectTimeTextSince(buf, before, 9);
  vantrel::internal::FormatLocalDateTime(buf, 1);
  EXPECT_STREQ(buf, "");
  buf[0] = 'Q';
  vantrel::internal::FormatLocalDateTime(buf, 0);
  EXPECT_EQ(buf[0], 'Q');
  free(buf);
}

std::string Tv(const VTimeval &tv) {
  return std::to_string(tv.tv_sec) + " " + std::to_string(tv.tv_usec);
}

TEST(VTimevalTest, AddCarriesAndSubtractBorrowsOnce) {
  const struct {
    void (*op)(VTimeval *, const VTimeval *);
    VTimeval a, b, want;
  } cases[] = {
      {VTimevalAdd, {1, 600000}, {0, 600000}, {2, 200000}},
      {VTimevalAdd, {1, 400000}, {0, 600000}, {2, 0}},
      {VTimevalAdd, {1, 399999}, {0, 600000}, {1, 999999}},
      {VTimevalAdd, {-5, 0}, {3, 1}, {-2, 1}},
      {VTimevalAdd, {INT64_MAX, 500000}, {0, 500000}, {INT64_MIN, 0}},  // wraps
      {VTimevalSubtract, {2, 100000}, {0, 200000}, {1, 900000}},
      {VTimevalSubtract, {2, 200000}, {0, 200000}, {2, 0}},
      {VTimevalSubtract, {5, 0}, {7, 999999}, {-3, 1}},
  };
  for (const auto &c : cases) {
    VTimeval a = c.a;
    c.op(&a, &c.b);
    EXPECT_EQ(Tv(a), Tv(c.want)) << Tv(c.a) << ", " << Tv(c.b);
  }
}

TEST(VTimevalTest, MicrosecondArithmeticTruncatesAndWrapsAt32Bits) {
  VTimeval tv{99, 99};
  VTimevalFromMicroseconds(&tv, INT32_MIN);  // toward zero
  EXPECT_EQ(Tv(tv), "-2147 -483648");
  EXPECT_EQ(VTimevalToMicroseconds(&tv), INT32_MIN);
  VTimeval big{2148, 0};  // 2148000000 wraps past INT32_MAX
  EXPECT_EQ(VTimevalToMicroseconds(&big), -2146967296);

  tv = {10, 900000};
  VTimevalIncrement(&tv, 1200000);
  EXPECT_EQ(Tv(tv), "12 100000");
  VTimevalDecrement(&tv, 300000);
  EXPECT_EQ(Tv(tv), "11 800000");
  // A negative count converts to a negative pair; one carry step is all
  // the addition does, so the result keeps negative microseconds.
  VTimevalIncrement(&tv, -900000);
  EXPECT_EQ(Tv(tv), "11 -100000");

  VTimeval a{100, 250000}, b{98, 750000}, later{100 + 2148, 250000};
  EXPECT_EQ(VTimevalDifference(&a, &b), -1500000);
  EXPECT_EQ(VTimevalDifference(&a, &later), -2146967296);  // 32-bit wrap
}

TEST(VTimeTest, NullArgumentsGiveTheFailureResults) {
  char buf[26] = "unchanged";
  time_t t = 0;
  EXPECT_EQ(v_ctime(nullptr, buf), nullptr);
  EXPECT_EQ(v_ctimex(&t, nullptr), nullptr);
  EXPECT_STREQ(buf, "unchanged");
  EXPECT_EQ(v_mktime(nullptr), static_cast<time_t>(-1));
  EXPECT_EQ(v_localtime(&t, nullptr), nullptr);
  EXPECT_EQ(v_strptime("1", nullptr, nullptr), nullptr);
  EXPECT_EQ(v_gettimeofday(nullptr), EINVAL);
  EXPECT_EQ(VTimevalDifference(nullptr, nullptr), 0);
}

}  // namespace
