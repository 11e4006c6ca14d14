// The allocated-string formatter against the C library's snprintf, and the
// layer's own conventions where it differs by design.
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <random>
#include <string>

#include "support/alloc_sweep.h"
#include "text/astring.h"
#include "vantrel/vastring.h"
#include "vantrel/vstrbuf.h"

namespace {

namespace vi = vantrel::internal;

class VAFormatTest : public testing::Test {
 protected:
  void SetUp() override { vi::AStrTrackerReset(); }
};

// The same format and arguments through snprintf, v_asprintf and
// vb_sprintf: the same text and length from all three.  errno is set before
// each call for "%m".
#define EXPECT_LIKE_SNPRINTF(format, ...)                               \
  do {                                                                  \
    static char expected[20000];                                        \
    errno = ERANGE;                                                     \
    int n = snprintf(expected, sizeof expected, format, __VA_ARGS__);   \
    ASSERT_TRUE(n >= 0 && n < (int)sizeof expected) << format;          \
    char *s = nullptr;                                                  \
    errno = ERANGE;                                                     \
    EXPECT_EQ(v_asprintf(&s, format, __VA_ARGS__), n) << format;        \
    ASSERT_NE(s, nullptr);                                              \
    EXPECT_EQ(std::string(s), std::string(expected, n)) << format;      \
    astrfree(&s);                                                       \
    vb_buffer b;                                                        \
    vb_init(&b);                                                        \
    errno = ERANGE;                                                     \
    EXPECT_EQ(vb_sprintf(&b, format, __VA_ARGS__), 0) << format;        \
    EXPECT_EQ(std::string(b.data, b.length), std::string(expected, n)); \
    vb_free(&b);                                                        \
  } while (0)

// Every conversion, size letter and flag the compiler's format check knows,
// with literal formats so that the check covers the table itself.
TEST_F(VAFormatTest, EveryCheckedConversionMatchesCLibrary) {
  EXPECT_LIKE_SNPRINTF("<%d|%5i|%-5d|%05d|%+d|% d>", 42, -7, 3, -12, 5, 6);
  EXPECT_LIKE_SNPRINTF("%o %#o %x %#X %u", 8u, 8u, 255u, 255u, 3000000000u);
  EXPECT_LIKE_SNPRINTF("%*d|%-*d|%.*d|%*.*d", 6, 1, 6, 2, 4, 3, -8, 3, 4);
  EXPECT_LIKE_SNPRINTF("%hhd %s", (char)65, "ok");  // took no argument once
  EXPECT_LIKE_SNPRINTF("%hhd|%hhu|%hhx|%hhi", (signed char)-128,
                       (unsigned char)255, (unsigned char)171, (signed char)7);
  EXPECT_LIKE_SNPRINTF("%hd %hu %hx", (short)-32768, (unsigned short)65535,
                       (unsigned short)0x2345);
  EXPECT_LIKE_SNPRINTF("%ld %lu %lld %llx %qd", LONG_MIN, ULONG_MAX, LLONG_MIN,
                       ULLONG_MAX, 1LL << 40);
  EXPECT_LIKE_SNPRINTF("%jd %ju %zd %zu %zx %td %tx", INTMAX_MIN, UINTMAX_MAX,
                       (ptrdiff_t)-5, SIZE_MAX, size_t{77}, PTRDIFF_MIN,
                       (ptrdiff_t)255);
  EXPECT_LIKE_SNPRINTF("%'d %'u %'.2f %'lld", 1234567, 7654321u, 1234.5,
                       -12345678901LL);
  EXPECT_LIKE_SNPRINTF("%a %A %.3a %#a %-12a|", 1.0, -0.1, 3.14159, 2.0, 1e-3);
  EXPECT_LIKE_SNPRINTF("%La %.2LA", 1.5L, -1e300L);
  EXPECT_LIKE_SNPRINTF("%p|%20p|%-20p|%p", (void *)stdout, (void *)0x1234,
                       (void *)0x5678, (void *)0);
  EXPECT_LIKE_SNPRINTF("%e %E %g %G %f %F %.3f", 1.5, -2e-300, 1e20, 1e-5, 0.1,
                       1e100, 2.0 / 3);
  EXPECT_LIKE_SNPRINTF("%#.0f %#g %#.0e %+.0f % f", 3.0, 1.0, 5.0, 2.5, 1.0);
  EXPECT_LIKE_SNPRINTF("%f %F %e %g", 1.0 / 0.0, -1.0 / 0.0, 0.0 / 0.0, -0.0);
  EXPECT_LIKE_SNPRINTF("%.300f|%f", 1e300, -1.7e308);
  EXPECT_LIKE_SNPRINTF("%Lf %.20Le %Lg %-#'+30.3Lf|", 1.5L, 1e4000L, 0.25L,
                       12345.5L);
  EXPECT_LIKE_SNPRINTF("%Lf", 1e4900L);  // several retries
  EXPECT_LIKE_SNPRINTF("%.4000d|%4000d|%-4000x|", 1, 2, 3u);
  EXPECT_LIKE_SNPRINTF("%c%5c%-3c|%lc%3lc", 'A', 'b', 'c', (wint_t)L'w',
                       (wint_t)L'x');
  EXPECT_LIKE_SNPRINTF("%ls|%6ls|%.2ls|%-5ls|", L"wide", L"ab", L"xyz", L"q");
  EXPECT_LIKE_SNPRINTF("%s|%10s|%-10s|%.2s|%*.*s|%s", "abc", "r", "l", "xyz", 8,
                       3, "trunc", std::string(5000, 'S').c_str());
  EXPECT_LIKE_SNPRINTF("100%% %s %%%s", "sure", "");
  EXPECT_LIKE_SNPRINTF("%m|%20m|%-5.3m|%s", "after");
  EXPECT_LIKE_SNPRINTF("%2$s %1$s|%1$5s", "world", "hello");
  EXPECT_LIKE_SNPRINTF("%3$*1$.*2$f|%1$d|%4$lld|%5$c", 9, 2, 3.14159, 1LL << 50,
                       'z');
  EXPECT_LIKE_SNPRINTF("%1$hhd %2$Lf %3$ls %4$zu %5$p %1$hhd", (char)44, 2.5L,
                       L"w", size_t{9}, (void *)0x10);
}

// Formats the compiler's check refuses or does not know, given at run time.
template <typename... Args>
void ExpectLikeSnprintf(const char *format, Args... args) {
  char expected[512];
  int n = snprintf(expected, sizeof expected, format, args...);
  char *s = nullptr;
  EXPECT_EQ(v_asprintf(&s, format, args...), n) << format;
  EXPECT_STREQ(s, expected) << format;
  astrfree(&s);
}

TEST_F(VAFormatTest, UncheckedFormatsMatchCLibrary) {
  ExpectLikeSnprintf("%b|%#B|%08b|%-12.5b|", 5, 6, 7, 8);  // since glibc 2.35
  ExpectLikeSnprintf("%hhd|%hhu|%hd|%hx", 300, -1, 0x18000, 0x12345);
  ExpectLikeSnprintf("%'.2e|%'5.1e|%'s", 98765.4, 1.5, "x");
  ExpectLikeSnprintf("%Id|%I5.3f", 123, 4.5);
  ExpectLikeSnprintf("%-#'0+ 30.3Lf|% +d|%-05d", 12345.5L, 5, 6);
  ExpectLikeSnprintf("%5%|%-3%|%d%d", 1, 2);
  ExpectLikeSnprintf("%Zd|%Zx|%Lx|%Ld", -3L, 4UL, 1LL << 40, -5LL);
  ExpectLikeSnprintf("%llf|%qe", 1.5L, 2.5L);  // long double, as glibc reads
  ExpectLikeSnprintf("%y|%5k|%d%d", 1, 2);     // unknown letters take nothing
}

// One random conversion at a time (flags, width, precision, size letter and
// letter) with an argument of the type it names, after a random prefix.
TEST_F(VAFormatTest, RandomConversionsMatchCLibrary) {
  std::mt19937_64 rng(12);
  const char kFlags[] = "#0 +-'";
  const char *const kIntSizes[] = {"", "hh", "h", "l", "ll", "j", "z", "t"};
  const char kIntLetters[] = "diouxXb";
  const char kRealLetters[] = "eEfFgGaA";
  char *s = nullptr;
  for (int i = 0; i < 20000; ++i) {
    std::string format(rng() % 8, 'p');
    format += '%';
    for (int f = rng() % 4; f > 0; --f) format += kFlags[rng() % 6];
    if (rng() % 2) format += std::to_string(rng() % 40);
    if (rng() % 2) format += "." + std::to_string(rng() % 40);
    char expected[512];
    int n = 0, got = 0;
    uint64_t bits = rng();
    // One argument through both; the format is built above.
    auto format_with = [&](auto arg) {
      n = snprintf(expected, sizeof expected, format.c_str(), arg);
      got = v_asprintf(&s, format.c_str(), arg);
    };
    double d;
    memcpy(&d, &bits, sizeof d);
    switch (rng() % 4) {
      case 0: {
        const char *size = kIntSizes[rng() % 8];
        format += size;
        format += kIntLetters[rng() % 7];
        // l, ll, j, z and t are all 64 bits wide here.
        if (size[0] == '\0' || size[0] == 'h') {
          format_with(int(bits));
        } else {
          format_with((long long)bits);
        }
        break;
      }
      case 1: {
        bool wide = rng() % 2;
        format += wide ? "L" : "";
        format += kRealLetters[rng() % 8];
        if (rng() % 2) d = double(int64_t(bits)) / double(1 << (bits % 30));
        wide ? format_with((long double)d) : format_with(d);
        break;
      }
      case 2: {
        std::string text(bits % 50, char('a' + bits % 26));
        format += rng() % 2 ? 's' : 'c';
        if (format.back() == 's') {
          format_with(text.c_str());
        } else {
          format_with(int(bits % 127 + 1));
        }
        break;
      }
      default:
        format += 'p';
        format_with((void *)bits);
        break;
    }
    ASSERT_EQ(got, n) << format << " " << bits;
    ASSERT_STREQ(s, expected) << format;
  }
  astrfree(&s);
}

// Where the layer differs from the C library on purpose.
TEST_F(VAFormatTest, LayerConventions) {
  char *s = nullptr;
  const char *volatile none = nullptr;  // hidden from the format check
  EXPECT_EQ(v_asprintf(&s, "%s|%5d", none, 42), 12);
  EXPECT_STREQ(s, "(null)|   42");
  EXPECT_EQ(v_asprintf(&s, "%.3s|%8.2s|", none, none), 13);
  EXPECT_STREQ(s, "(nu|      (n|");  // the C library prints nothing here
  // "C" and "S" take narrow arguments; "%c" keeps the low 8 bits.
  const char *narrow = "%c%C%S|%hd";
  EXPECT_EQ(v_asprintf(&s, narrow, 0x141, 'B', "cd", 0x10001), 6);
  EXPECT_STREQ(s, "ABcd|1");
  astrfree(&s);
}

// A format that ends inside a conversion or uses a letter without meaning
// appears as written, and such a letter takes no argument.
TEST_F(VAFormatTest, UnknownAndCutConversionsAppearAsWritten) {
  const std::pair<const char *, const char *> cases[] = {
      {"abc%", "abc%"},  {"%5", "%5"},   {"%-0#", "%-0#"}, {"%.", "%."},
      {"x%yz", "x%yz"},  {"%l", "%l"},   {"%hh", "%hh"},   {"%*", "%*"},
      {"%k|%d", "%k|7"}, {"%$d", "%$d"}, {"%0$d", "%0$d"},
  };
  char *s = nullptr;
  for (const auto &[format, expected] : cases) {
    EXPECT_EQ(v_asprintf(&s, format, 7), (int)strlen(expected)) << format;
    EXPECT_STREQ(s, expected);
  }
  astrfree(&s);
}

// Numbered formats whose arguments cannot all be reached with known types
// are refused before any argument is read: -1 and an empty text.
TEST_F(VAFormatTest, UnreachableNumberedArgumentsAreRefused) {
  const char *const refused[] = {
      "%1$d %d",       // mixes numbered and unnumbered values
      "%d %1$d",       //
      "%2$d",          // argument 1 unused: its type is unknown
      "%1$d %1$s",     // one argument, two types
      "%1$*d",         // star without a number
      "%1$d %4097$d",  // beyond the C library's limit
      "%1$.*d",        //
  };
  char *s = nullptr;
  for (const char *format : refused) {
    EXPECT_EQ(v_asprintf(&s, format, 1, 2, 3), -1) << format;
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "") << format;
  }
  // Numbered conversions may repeat a number, and "%%" needs none.
  EXPECT_EQ(v_asprintf(&s, "%1$d%%%1$d", 5), 3);
  EXPECT_STREQ(s, "5%5");
  astrfree(&s);
}

// "%n" never reaches the C formatter: the layer stores the count through
// the type its size letter names, and nothing through a null pointer.
TEST_F(VAFormatTest, CountIsStoredThroughTheNamedType) {
  signed char hh = 0;
  short h = 0;
  int plain = 0;
  long l = 0;
  long long ll = 0;
  intmax_t j = 0;
  size_t z = 0;
  ptrdiff_t t = 0;
  char *s = nullptr;
  int *volatile nowhere = nullptr;
  EXPECT_EQ(v_asprintf(&s, "a%hhnbc%hnd%nef%ln%lln%jn%zn%tn%n|", &hh, &h,
                       &plain, &l, &ll, &j, &z, &t, nowhere),
            7);
  EXPECT_STREQ(s, "abcdef|");
  EXPECT_EQ(hh, 1);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(plain, 4);
  EXPECT_EQ(l + ll + j + long(z) + t, 5 * 6);
  // "%hn" keeps the low 16 bits of a longer count.
  short before = -1;
  EXPECT_EQ(v_asprintf(&s, "%70000d%hn", 1, &before), 70000);
  EXPECT_EQ(before, (short)70000);
  int numbered = 0;
  EXPECT_EQ(v_asprintf(&s, "%2$s%1$n", &numbered, "xyz"), 3);
  EXPECT_EQ(numbered, 3);
  astrfree(&s);
}

TEST_F(VAFormatTest, FormatterFailuresKeepTheTextSoFar) {
  char *s = nullptr;
  const char *volatile overlong = "ok%99999999999d";
  EXPECT_EQ(v_asprintf(&s, overlong, 1), -1);
  EXPECT_STREQ(s, "ok");
  // A wide character without a form in the C locale.
  EXPECT_EQ(v_asprintf(&s, "ok%lc", (wint_t)0x20ac), -1);
  EXPECT_STREQ(s, "ok");
  astrfree(&s);
}

// Every allocation of the formatter failed in turn: -1 with the string
// released (LeakSanitizer sees nothing left), or the full text.
TEST_F(VAFormatTest, FailedAllocationReleasesTheString) {
  std::string big(3000, 'b');
  for (bool start_null : {true, false}) {
    for (int which = 0; which < 3; ++which) {
      vtest::SweepAllocations([&](vtest::Fault &f) {
        vi::AStrTrackerReset();
        char *s = nullptr;
        if (!start_null) astrcpy(&s, "seed");
        f.Arm();
        int n = which == 0
                    ? v_asprintf(&s, "%s %5d %.500f", big.c_str(), 1, 1e300)
                : which == 1 ? v_asprintf(&s, "%2$s|%1$d", 7, big.c_str())
                             : v_asprintf(&s, "%Lf", 1e4900L);
        // A tracker table that cannot be allocated costs only speed.
        bool failed = f.Disarm();
        EXPECT_TRUE(n > 3000 || (failed && n == -1 && s == nullptr)) << n;
        astrfree(&s);
      });
    }
  }
}

}  // namespace
