#include "text/astring.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>

#include "support/alloc_sweep.h"
#include "vantrel/vastring.h"

namespace {

namespace vi = vantrel::internal;

class VAStringTest : public testing::Test {
 protected:
  void SetUp() override { vi::AStrTrackerReset(); }
};

FILE *Stream(std::string &text) {
  return fmemopen(text.data(), text.size(), "r");
}

// Tracked strings grow in 1024-byte steps once the need reaches the
// capacity; static ones (length 0 below: astrstatic) to the exact need.
TEST_F(VAStringTest, TrackedStringsGrowIn1024StepsUntrackedExactly) {
  char *s = nullptr;
  ASSERT_STREQ(astrcpy(&s, "abc"), "abc");
  EXPECT_EQ(vi::AStrTrackedCapacity(s), 1024);
  const std::pair<uint32_t, int32_t> steps[] = {
      {1022, 1024}, {1023, 2048}, {2047, 3072},
      {0, -1},      {1500, 1501}, {1500, 2048},
  };
  for (const auto &[length, capacity] : steps) {
    length == 0 ? astrstatic(&s) : (void)astrensure(&s, length);
    EXPECT_EQ(vi::AStrTrackedCapacity(s), capacity) << length;
    EXPECT_STREQ(s, "abc");
  }
  // Sources inside the string itself survive its moves.
  for (int i = 0; i < 10; ++i) ASSERT_NE(astrcat(&s, s), nullptr);
  EXPECT_EQ(strlen(s), 3072u);
  EXPECT_STREQ(astrn0cpy(&s, s + 3069, 9), "abc");
  astrfree(&s);
  EXPECT_EQ(s, nullptr);
  astrfree(&s);
}

TEST_F(VAStringTest, EleventhStringEvictsLeastRecentlyLookedUp) {
  char *s[11] = {};
  for (int i = 0; i < 10; ++i) ASSERT_NE(astrcpy(&s[i], "x"), nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(vi::AStrTrackedAge(s[i]), 9 - i);
  astrcat(&s[0], "y");  // s[1] is now the oldest
  ASSERT_NE(astrcpy(&s[10], "z"), nullptr);
  EXPECT_EQ(vi::AStrTrackedCapacity(s[1]), -1);
  for (int i : {0, 2, 9, 10}) EXPECT_EQ(vi::AStrTrackedCapacity(s[i]), 1024);
  EXPECT_STREQ(s[1], "x");  // evicted, not released
  for (char *&p : s) astrfree(&p);
}

// Random copies and appends on twelve strings, more than the tracker holds,
// against a string model; limited calls stop at the limit or a NUL.
TEST_F(VAStringTest, RandomEditsOnManyStringsMatchModel) {
  std::mt19937 rng(7);
  char *s[12] = {};
  std::string model[12];
  for (int step = 0; step < 4000; ++step) {
    int k = rng() % 12;
    std::string piece(rng() % 700, static_cast<char>('a' + step % 26));
    int n = static_cast<int>(rng() % 800) - 50;
    switch (rng() % 5) {
      case 0:
        astrcpy(&s[k], piece.c_str());
        model[k] = piece;
        break;
      case 1:
        astrcat(&s[k], piece.c_str());
        model[k] += piece;
        break;
      case 2:
        astrn0cat(&s[k], piece.c_str(), n);
        if (n >= 0) model[k] += piece.substr(0, n);
        break;
      case 3:
        astrn0cpy(&s[k], piece.c_str(), n);
        model[k] = piece.substr(0, n >= 0 ? n : 0);
        break;
      default:
        if (model[k].size() > 30000) astrfree(&s[k]), model[k].clear();
        continue;
    }
    ASSERT_EQ(std::string(s[k] != nullptr ? s[k] : ""), model[k]) << step;
    int32_t capacity = vi::AStrTrackedCapacity(s[k]);
    ASSERT_TRUE(capacity < 0 || capacity > (int32_t)model[k].size()) << step;
  }
  for (char *&p : s) astrfree(&p);
}

TEST_F(VAStringTest, LineAndStopReadersReplaceContents) {
  std::string text = std::string("x\ny\0z", 5);
  FILE *f = Stream(text);
  char *s = nullptr;
  EXPECT_STREQ(afgets(&s, f), "x\n");
  EXPECT_STREQ(afgets(&s, f), "y");  // a NUL byte ends the line too
  EXPECT_STREQ(afgets(&s, f), "z");
  EXPECT_EQ(afgets(&s, f), nullptr);
  EXPECT_EQ(s, nullptr);
  fclose(f);

  std::string fields =
      "a,bc,," + std::string(3000, 'L') + std::string(1, '\0') + "z";
  f = Stream(fields);
  for (int expected : {2, 3, 1, 3002})
    EXPECT_EQ(afgettoch(&s, f, ','), expected);
  EXPECT_EQ(s[3000], '\0');
  EXPECT_EQ(afgettoch(&s, f, ','), 0);
  EXPECT_EQ(s, nullptr);
  fclose(f);
}

// Each conversion must come out exactly as the C library renders it.
#define EXPECT_LIKE_SNPRINTF(format, ...)                             \
  do {                                                                \
    static char expected[20000];                                      \
    int n = snprintf(expected, sizeof expected, format, __VA_ARGS__); \
    char *s = nullptr;                                                \
    EXPECT_EQ(v_asprintf(&s, format, __VA_ARGS__), n) << format;      \
    ASSERT_NE(s, nullptr);                                            \
    EXPECT_EQ(std::string(s, n), std::string(expected, n));           \
    astrfree(&s);                                                     \
  } while (0)

TEST_F(VAStringTest, FormatterMatchesCLibrary) {
  EXPECT_LIKE_SNPRINTF("<%d|%5i|%-5d|%05d|%+d|% d>", 42, -7, 3, -12, 5, 6);
  EXPECT_LIKE_SNPRINTF("%o %#o %x %#X %u", 8, 8, 255, 255, 3000000000u);
  EXPECT_LIKE_SNPRINTF("%*d|%-*d|%.*d|%*.*d", 6, 1, 6, 2, 4, 3, -8, 3, 4);
  EXPECT_LIKE_SNPRINTF("%hd %hu %hx", 0x18000, -1, 0x12345);
  EXPECT_LIKE_SNPRINTF("%ld %lu %lld %llx", LONG_MIN, ULONG_MAX, LLONG_MIN,
                       ULLONG_MAX);
  EXPECT_LIKE_SNPRINTF("%zu %zx %jd %td", SIZE_MAX, size_t{77}, INTMAX_MIN,
                       PTRDIFF_MIN);
  EXPECT_LIKE_SNPRINTF("%p|%20p|%p", (void *)stdout, (void *)0x1234, (void *)0);
  EXPECT_LIKE_SNPRINTF("%e %E %g %G %f %.3f", 1.5, -2e-300, 1e20, 1e-5, 0.1,
                       2.0 / 3);
  EXPECT_LIKE_SNPRINTF("%.300f|%f", 1e300, -1.7e308);
  EXPECT_LIKE_SNPRINTF("%Lf %.20Le %Lg", 1.5L, 1e4000L, 0.25L);
  EXPECT_LIKE_SNPRINTF("%Lf", 1e4900L);  // several retries
  EXPECT_LIKE_SNPRINTF("%c%5c%-3c|", 'A', 'b', 'c');
  EXPECT_LIKE_SNPRINTF("%s|%10s|%-10s|%.2s|%*.*s|%s", "abc", "r", "l", "xyz", 8,
                       3, "trunc", std::string(5000, 'S').c_str());
  EXPECT_LIKE_SNPRINTF("100%% %s %%%s", "sure", "");
}

// Formats that end inside a conversion or use letters the layer does
// not know take no argument for the letter and appear as written.
TEST_F(VAStringTest, FormatterLayerConventionsAndHostileFormats) {
  const std::pair<const char *, const char *> cases[] = {
      {"abc%", "abc%"}, {"%5", "%5"},     {"%-0#", "%-0#"},
      {"%.", "%."},     {"x%yz", "x%yz"}, {"%a|%d", "%a|7"},
      {"%l", "%l"},     {"%hhd", "%hhd"}, {"%*", "%*"},
  };
  char *s = nullptr;
  for (const auto &[format, expected] : cases) {
    EXPECT_EQ(v_asprintf(&s, format, 7), (int)strlen(expected)) << format;
    EXPECT_STREQ(s, expected);
  }
  EXPECT_EQ(v_asprintf(&s, "%s|%5d", (char *)nullptr, 42), 12);
  EXPECT_STREQ(s, "(null)|   42");
  int count = 0;
  short half = 0;
  EXPECT_EQ(v_asprintf(&s, "abc%nde%hnf", &count, &half), 6);
  EXPECT_EQ(count * 10 + half, 35);
  EXPECT_EQ(v_asprintf(&s, "%c%C%S|%qd", 0x141, 'B', "cd", 1LL << 40), 18);
  EXPECT_STREQ(s, "ABcd|1099511627776");
  EXPECT_EQ(v_asprintf(&s, "ok%99999999999d", 1), -1);  // kept, not released
  EXPECT_STREQ(s, "ok");
  astrfree(&s);
}

// Every allocating call, failed at each allocation: the caller's string is
// null afterwards (and LeakSanitizer sees nothing leak), or the call worked.
TEST_F(VAStringTest, FailedAllocationReleasesTheString) {
  std::string line = std::string(700, 'l') + "\n";
  std::string big(3000, 'b');
  auto read = [&](char **s, bool to_stop) {
    FILE *f = Stream(line);
    bool ok = to_stop ? afgettoch(s, f, '\n') == 701 : afgets(s, f) != nullptr;
    fclose(f);
    return ok;
  };
  const std::function<bool(char **)> ops[] = {
      [&](char **s) { return astrcpy(s, big.c_str()) != nullptr; },
      [&](char **s) { return astrcat(s, big.c_str()) != nullptr; },
      [&](char **s) { return astrn0cpy(s, big.c_str(), 2000) != nullptr; },
      [&](char **s) { return astrn0cat(s, big.c_str(), 2000) != nullptr; },
      [&](char **s) { return astrensure(s, 5000) != nullptr; },
      [&](char **s) { return read(s, false); },
      [&](char **s) { return read(s, true); },
      [&](char **s) {
        return v_asprintf(s, "%s %5d %.500f", big.c_str(), 1, 1e300) > 3000;
      },
  };
  for (bool start_null : {true, false}) {
    for (const auto &op : ops) {
      vtest::SweepAllocations([&](vtest::Fault &f) {
        vi::AStrTrackerReset();
        char *s = nullptr;
        if (!start_null) astrcpy(&s, "seed");
        f.Arm();
        bool ok = op(&s);
        EXPECT_TRUE(f.Disarm() ? ok || s == nullptr : ok);
        astrfree(&s);
      });
    }
  }
}

}  // namespace
