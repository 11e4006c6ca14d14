// The fast formatter against vsnprintf: same text and length wherever it
// formats, and a refusal wherever it must leave the work to vsnprintf.
#include "text/simple_format.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

namespace {

using vantrel::internal::FormatSimple;

// Formats with both into `size` bytes; checks they agree, or that the fast
// one refused.  Returns whether it formatted.
bool Agree(size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string fast(size + 1, '#');
  int length = FormatSimple(fast.data(), size, format, args);
  std::string slow(size + 1, '#');
  // The fast formatter read `args` through a copy.
  int expected = vsnprintf(slow.data(), size, format, args);
  va_end(args);
  if (length < 0) return false;
  EXPECT_EQ(length, expected) << format;
  EXPECT_EQ(fast.substr(0, size_t(length) + 1),
            slow.substr(0, size_t(length) + 1))
      << format;
  EXPECT_EQ(fast[size], '#') << format;  // nothing past the end
  return true;
}

TEST(FormatSimpleTest, MatchesVsnprintfForTheConversionsItTakes) {
  EXPECT_TRUE(Agree(64, "plain text"));
  EXPECT_TRUE(Agree(64, ""));
  EXPECT_TRUE(Agree(64, "%d|%i|%d|%d", 0, -7, INT_MIN, INT_MAX));
  EXPECT_TRUE(Agree(64, "%u %x %x", UINT_MAX, 0u, 0xdeadbeefu));
  EXPECT_TRUE(Agree(64, "%ld %lu %lx", LONG_MIN, ULONG_MAX, 255ul));
  EXPECT_TRUE(Agree(64, "%lld %llu %llx", LLONG_MIN, ULLONG_MAX, 1ull << 63));
  EXPECT_TRUE(Agree(64, "%zu %zd %zx", SIZE_MAX, ssize_t(-3), size_t(4096)));
  EXPECT_TRUE(Agree(64, "%s and %s%%%c", "one", "", 'z'));
  EXPECT_TRUE(Agree(64, "100%% %s", "sure"));
  // A line that fills the buffer exactly, terminator included.
  EXPECT_TRUE(Agree(11, "%s-%d", "abcdefgh", 9));
}

TEST(FormatSimpleTest, LeavesEverythingElseToVsnprintf) {
  EXPECT_FALSE(Agree(64, "%5d", 1));
  EXPECT_FALSE(Agree(64, "%-s", "x"));
  EXPECT_FALSE(Agree(64, "%.2s", "xyz"));
  EXPECT_FALSE(Agree(64, "%+d", 1));
  EXPECT_FALSE(Agree(64, "%f", 1.5));
  EXPECT_FALSE(Agree(64, "%p", nullptr));
  EXPECT_FALSE(Agree(64, "%hd", 1));
  EXPECT_FALSE(Agree(64, "%ls", L"w"));
  EXPECT_FALSE(Agree(64, "%X", 10u));
  EXPECT_FALSE(Agree(64, "%1$d", 1));
  EXPECT_FALSE(Agree(64, "ok %s", static_cast<const char *>(nullptr)));
  EXPECT_FALSE(Agree(64, "trailing %"));
  // Too long for the buffer, by one byte and by many.
  EXPECT_FALSE(Agree(10, "%s-%d", "abcdefgh", 9));
  EXPECT_FALSE(Agree(4, "%s", std::string(100, 'y').c_str()));
  EXPECT_FALSE(Agree(0, ""));
}

}  // namespace
