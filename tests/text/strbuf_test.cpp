#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <random>
#include <string>

#include "support/alloc_sweep.h"
#include "vantrel/vstrbuf.h"

namespace {

std::string Content(const vb_buffer &b) {
  return b.data == nullptr ? std::string() : std::string(b.data, b.length);
}

// Capacity the growth rule gives for a content of `needed` bytes.
uint32_t ModelGrow(uint32_t capacity, bool has_area, uint64_t needed) {
  if (has_area && needed + 1 < capacity) return capacity;
  uint64_t grown = has_area ? 2ull * capacity : 128;
  return static_cast<uint32_t>(grown > needed ? grown : needed + 1);
}

// A buffer of `text` that grows through the funnel, so sweeps can fail it:
// with the default functions, or with a caller's pair.
struct SweptBuffer {
  vb_buffer b;
  SweptBuffer(const char *text, bool defaults) {
    if (defaults) {
      vb_init(&b);
    } else {
      vb_init_with(&b, vtest::FunnelMalloc, vtest::FunnelFree);
    }
    EXPECT_EQ(vb_strcat(&b, text), 0);
  }
  ~SweptBuffer() { vb_free(&b); }
};

TEST(VStrBufTest, GrowthStartsAt128ThenDoublesOrFitsTheNeed) {
  vb_buffer b;
  vb_init(&b);
  EXPECT_STREQ(vb_strval(&b), "");
  EXPECT_EQ(vb_strsize(&b), 128u);
  vb_free(&b);

  std::string piece(127, 'a');
  ASSERT_EQ(vb_strcat(&b, piece.c_str()), 0);
  EXPECT_EQ(vb_strsize(&b), 128u);
  ASSERT_EQ(vb_strcat(&b, "b"), 0);  // needed 128 is not below 127
  EXPECT_EQ(vb_strsize(&b), 256u);
  std::string big(1000, 'c');
  ASSERT_EQ(vb_strcat(&b, big.c_str()), 0);  // doubling to 512 is too small
  EXPECT_EQ(vb_strsize(&b), 1129u);
  EXPECT_EQ(Content(b), piece + "b" + big);
  vb_free(&b);  // reuse without a new vb_init
  EXPECT_EQ(vb_strsize(&b), 0u);
  ASSERT_EQ(vb_strcat(&b, std::string(126, 'd').c_str()), 0);
  ASSERT_EQ(vb_strcat(&b, "e"), 0);  // needed 127 is not below 127 either
  EXPECT_EQ(vb_strsize(&b), 256u);
  EXPECT_EQ(Content(b), std::string(126, 'd') + "e");
  vb_free(&b);
}

// Random appends, truncations and formats against a string model, checking
// content, terminator and the exact capacity after every step.
TEST(VStrBufTest, RandomOperationsMatchModel) {
  std::mt19937 rng(20240517);
  vb_buffer b;
  vb_init(&b);
  std::string model;
  uint32_t capacity = 0;
  for (int step = 0; step < 3000; ++step) {
    size_t size = rng() % 32 == 0 ? 5000 : rng() % 300;  // some beyond 4096
    std::string piece(size, static_cast<char>('a' + rng() % 26));
    uint64_t needed = model.size() + piece.size();
    switch (rng() % 5) {
      case 0:
        ASSERT_EQ(vb_strcat(&b, piece.c_str()), 0);
        model += piece;
        break;
      case 1: {
        size_t count = rng() % 400;
        ASSERT_EQ(vb_strncat(&b, piece.c_str(), count), 0);
        needed = model.size() + count;
        piece.resize(count, '\0');
        model += piece;
        break;
      }
      case 2: {
        int value = static_cast<int>(rng());
        ASSERT_EQ(vb_sprintf(&b, "%s=%d;", piece.c_str(), value), 0);
        std::string text = piece + "=" + std::to_string(value) + ";";
        needed = model.size() + text.size();
        model += text;
        break;
      }
      case 3: {
        int32_t n = static_cast<int32_t>(rng() % (model.size() + 200));
        ASSERT_EQ(vb_strtrunc(&b, n), 0);
        needed = n;
        model.resize(n, ' ');
        break;
      }
      default:
        if (model.size() > 20000) {
          vb_free(&b);
          model.clear();
          capacity = 0;
        }
        continue;
    }
    capacity = ModelGrow(capacity, capacity != 0, needed);
    ASSERT_EQ(vb_strsize(&b), capacity) << "step " << step;
    ASSERT_EQ(Content(b), model);
    ASSERT_EQ(b.data[b.length], '\0');
  }
  vb_free(&b);
}

TEST(VStrBufTest, RawBytesAndInvalidLength) {
  vb_buffer b;
  vb_init(&b);
  ASSERT_EQ(vb_strncat(&b, "xy", 5), 0);
  ASSERT_EQ(vb_append(&b, "\0z", 2), 0);
  EXPECT_EQ(Content(b), std::string("xy\0\0\0\0z", 7));
  EXPECT_EQ(vb_strtrunc(&b, -1), EINVAL);
  EXPECT_EQ(std::string(vb_strval(&b), 7), std::string("xy\0\0\0\0z", 7));
  vb_free(&b);
}

TEST(VStrBufTest, FormatErrorReturnsErrnoAndKeepsBuffer) {
  vb_buffer b;
  vb_init(&b);
  ASSERT_EQ(vb_strcat(&b, "keep"), 0);
  const wchar_t bad[] = {0xD800, 0};  // no multibyte form in any locale
  EXPECT_EQ(vb_sprintf(&b, "%ls", bad), EILSEQ);
  EXPECT_STREQ(vb_strval(&b), "keep");
  vb_free(&b);
}

TEST(VStrBufTest, StreamLinesAppendUpToLineFeedOrEnd) {
  char text[] = "ab\ncd";
  FILE *f = fmemopen(text, 5, "r");
  ASSERT_NE(f, nullptr);
  vb_buffer b;
  vb_init(&b);
  EXPECT_EQ(vb_fgets(&b, f), 0);
  EXPECT_STREQ(vb_strval(&b), "ab\n");
  EXPECT_EQ(vb_fgets(&b, f), 0);  // last line without a line feed
  EXPECT_STREQ(vb_strval(&b), "ab\ncd");
  EXPECT_EQ(vb_fgets(&b, f), 0);
  EXPECT_EQ(vb_strlen(&b), 5u);
  fclose(f);

  FILE *dir = fopen(".", "r");
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(vb_fgets(&b, dir), EISDIR);
  EXPECT_STREQ(vb_strval(&b), "ab\ncd");
  fclose(dir);
  vb_free(&b);
}

TEST(VStrBufTest, DescriptorLinesAppendUpToLineFeedOrEnd) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "x\ny", 3), 3);
  close(fds[1]);
  vb_buffer b;
  vb_init(&b);
  EXPECT_EQ(vb_reads(&b, fds[0]), 0);
  EXPECT_EQ(Content(b), "x\n");
  EXPECT_EQ(vb_reads(&b, fds[0]), 0);
  EXPECT_EQ(vb_reads(&b, fds[0]), 0);
  EXPECT_EQ(Content(b), "x\ny");
  close(fds[0]);

  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(vb_reads(&b, fds[1]), EBADF);  // the write end cannot be read
  EXPECT_EQ(Content(b), "x\ny");
  close(fds[0]);
  close(fds[1]);
  vb_free(&b);
}

// Every appending call, failed at each allocation: 12 and an unchanged
// buffer, or success with the right content.
TEST(VStrBufTest, FailedGrowthReturns12AndKeepsBuffer) {
  std::string wide(300, 'w');
  const std::function<VRC(vb_buffer *)> ops[] = {
      [&](vb_buffer *b) { return vb_strcat(b, wide.c_str()); },
      [&](vb_buffer *b) { return vb_strncat(b, "w", 300); },
      [&](vb_buffer *b) { return vb_append(b, wide.data(), 300); },
      [&](vb_buffer *b) { return vb_sprintf(b, "%s", wide.c_str()); },
      [&](vb_buffer *b) { return vb_strtrunc(b, 302); },
  };
  for (bool defaults : {true, false}) {
    for (const auto &op : ops) {
      vtest::SweepAllocations([&](vtest::Fault &f) {
        SweptBuffer s("ab", defaults);
        vb_buffer before = s.b;
        f.Arm();
        VRC rc = op(&s.b);
        if (f.Disarm() && rc != 0) {
          EXPECT_EQ(rc, ENOMEM);
          EXPECT_EQ(memcmp(&before, &s.b, sizeof before), 0);
          EXPECT_STREQ(s.b.data, "ab");
        } else {
          EXPECT_EQ(rc, 0);
          EXPECT_EQ(vb_strlen(&s.b), 302u);
        }
      });
    }
  }
  vb_buffer none;
  vb_init_with(&none, vtest::NullMalloc, free);
  EXPECT_EQ(vb_strval(&none), nullptr);
  EXPECT_EQ(vb_strcat(&none, "x"), ENOMEM);
  EXPECT_EQ(vb_sprintf(&none, "%d", 1), ENOMEM);
  EXPECT_EQ(none.data, nullptr);
  EXPECT_EQ(vb_strlen(&none), 0u);
}

// A line reader that cannot grow keeps what it read; the rest of the line
// is still there for the next call.
TEST(VStrBufTest, FailedGrowthWhileReadingLosesNothing) {
  std::string line = std::string(200, 'L') + "\n";
  vtest::SweepAllocations([&](vtest::Fault &f) {
    FILE *stream = fmemopen(line.data(), line.size(), "r");
    SweptBuffer s("", false);
    f.Arm();
    VRC rc = vb_fgets(&s.b, stream);
    f.Disarm();
    if (rc == ENOMEM) rc = vb_fgets(&s.b, stream);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Content(s.b), line);
    fclose(stream);
  });
}

}  // namespace
