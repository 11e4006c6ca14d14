// One case per header claim of the string family that was restated to
// match what the code does.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "support/alloc_sweep.h"
#include "vantrel/vastring.h"
#include "vantrel/vstrbuf.h"
#include "vantrel/vstring.h"

namespace {

// The result is the length of the rest that needed no break, newlines
// included; 0 when that rest has no white space after its first character.
TEST(VStringWordWrapTest, ReturnsTheUnbrokenRest) {
  const struct {
    const char *text;
    int32_t width;
    int32_t result;
    const char *wrapped;
  } cases[] = {
      {"ab\ncd", 10, 5, "ab\ncd"},
      {"aaaaa bbbbb cc", 10, 8, "aaaaa\nbbbbb cc"},
      {"aaaaa bbbbb cccccccccccc", 10, 0, "aaaaa\nbbbbb\ncccccccccccc"},
      {"abc\ndefgh ij", 4, 2, "abc\ndefgh\nij"},
      {"ab cdefghijkl", 5, 0, "ab\ncdefghijkl"},
      {" abcdef", 3, 0, " abcdef"},
      {"x", -1, 0, "x"},
  };
  for (const auto &c : cases) {
    std::string text = c.text;
    EXPECT_EQ(VStringWordWrap(text.data(), c.width), c.result) << c.text;
    EXPECT_EQ(text, c.wrapped);
  }
}

int g_allocations_left;
void *Limited(size_t size) {
  return g_allocations_left-- > 0 ? malloc(size) : nullptr;
}

// 12 from the line reader keeps the bytes read before, and the byte that
// did not fit is still in the stream.
TEST(VStrBufContractTest, LineReaderKeepsWhatItReadWhenGrowthFails) {
  std::string line = std::string(200, 'x') + "y\n";
  line[126] = 'P';  // the byte whose growth fails
  FILE *f = fmemopen(line.data(), line.size(), "r");
  vb_buffer b;
  vb_init_with(&b, Limited, free);
  g_allocations_left = 1;  // the first 128-byte area, no second one
  EXPECT_EQ(vb_fgets(&b, f), ENOMEM);
  EXPECT_EQ(std::string(b.data, b.length), line.substr(0, 126));
  EXPECT_EQ(b.data[b.length], '\0');
  EXPECT_EQ(fgetc(f), 'P');
  fclose(f);
  vb_free(&b);
}

// "%m" shows the caller's errno, and a format the C formatter rejects
// leaves the content as it was.
TEST(VStrBufContractTest, FormatterKeepsErrnoAndContent) {
  vb_buffer b;
  vb_init(&b);
  ASSERT_EQ(vb_strcat(&b, "kept"), 0);
  errno = ENOENT;
  EXPECT_EQ(vb_sprintf(&b, "|%m"), 0);
  EXPECT_EQ(std::string(b.data), std::string("kept|") + strerror(ENOENT));
  uint32_t length = b.length;
  EXPECT_EQ(vb_sprintf(&b, "%lc", (wint_t)0x20ac), EILSEQ);  // C locale
  EXPECT_EQ(b.length, length);
  EXPECT_EQ(strlen(b.data), length);
  vb_free(&b);
}

// A length whose block would pass INT32_MAX bytes fails like exhausted
// memory: null, and the string released.
TEST(VAStringContractTest, EnsureBeyondTheLargestBlockReleases) {
  char *s = nullptr;
  ASSERT_NE(astrcpy(&s, "abc"), nullptr);
  EXPECT_EQ(astrensure(&s, UINT32_MAX - 1), nullptr);
  EXPECT_EQ(s, nullptr);
}

}  // namespace
