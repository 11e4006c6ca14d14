#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
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
uint32_t ModelGrow(uint32_t capacity, uint64_t needed) {
  if (capacity != 0 && needed + 1 < capacity) return capacity;
  uint64_t grown = capacity != 0 ? 2ull * capacity : 128;
  return static_cast<uint32_t>(grown > needed ? grown : needed + 1);
}

// A fixed prefix, then random appends, truncations and formats against a
// string model: content, terminator and exact capacity after every step.
TEST(VStrBufTest, OperationsMatchModelIncludingExactCapacity) {
  std::mt19937 rng(20240517);
  vb_buffer b;
  vb_init(&b);
  EXPECT_STREQ(vb_strval(&b), "");  // allocates the first area
  std::string model;
  uint32_t capacity = 128;
  const size_t kPrefix[] = {126, 1, 1000};
  const uint32_t kPrefixSizes[] = {128, 256, 1128};  // 127 + 1 is not < 128
  for (int step = 0; step < 3000; ++step) {
    size_t size = step < 3 ? kPrefix[step] : rng() % 32 ? rng() % 300 : 5000;
    std::string piece(size, static_cast<char>('a' + rng() % 26));
    size_t count = rng() % (model.size() + 400);
    switch (step < 3 ? 0 : rng() % 5) {
      case 0:
        ASSERT_EQ(vb_strcat(&b, piece.c_str()), 0);
        break;
      case 1:
        ASSERT_EQ(vb_strncat(&b, piece.c_str(), count % 400), 0);
        piece.resize(count % 400, '\0');
        break;
      case 2:
        ASSERT_EQ(vb_sprintf(&b, "%s=%zu;", piece.c_str(), count), 0);
        piece += "=" + std::to_string(count) + ";";
        break;
      case 3:
        ASSERT_EQ(vb_strtrunc(&b, static_cast<int32_t>(count)), 0);
        model.resize(count, ' ');
        piece.clear();
        break;
      default:
        if (model.size() < 20000) continue;
        vb_free(&b);
        ASSERT_EQ(vb_strsize(&b), 0u);
        model.clear(), capacity = 0;
        continue;
    }
    model += piece;
    capacity = ModelGrow(capacity, model.size());
    ASSERT_EQ(capacity, step < 3 ? kPrefixSizes[step] : capacity);
    ASSERT_EQ(vb_strsize(&b), capacity) << "step " << step;
    ASSERT_EQ(Content(b), model);
    ASSERT_EQ(b.data[b.length], '\0');
  }
  vb_free(&b);
}

TEST(VStrBufTest, RawBytesAndErrorsKeepTheBuffer) {
  vb_buffer b;
  vb_init(&b);
  ASSERT_EQ(vb_strncat(&b, "xy", 5), 0);
  ASSERT_EQ(vb_append(&b, "\0z", 2), 0);
  const std::string expected("xy\0\0\0\0z", 7);
  EXPECT_EQ(Content(b), expected);
  EXPECT_EQ(vb_strtrunc(&b, -1), EINVAL);
  const wchar_t bad[] = {0xD800, 0};  // no multibyte form in any locale
  EXPECT_EQ(vb_sprintf(&b, "%ls", bad), EILSEQ);
  EXPECT_EQ(std::string(vb_strval(&b), vb_strlen(&b)), expected);
  EXPECT_EQ(b.data[b.length], '\0');
  vb_free(&b);
}

TEST(VStrBufTest, LineReadersAppendUpToLineFeedOrEnd) {
  char text[] = "ab\ncd";
  FILE *f = fmemopen(text, 5, "r");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "x\ny", 3), 3);
  close(fds[1]);
  vb_buffer b;
  vb_init(&b);
  EXPECT_EQ(vb_fgets(&b, f), 0);
  EXPECT_EQ(vb_reads(&b, fds[0]), 0);
  EXPECT_EQ(Content(b), "ab\nx\n");
  for (int i = 0; i < 2; ++i) {  // the last lines have no line feed
    EXPECT_EQ(vb_fgets(&b, f), 0);
    EXPECT_EQ(vb_reads(&b, fds[0]), 0);
  }
  EXPECT_EQ(Content(b), "ab\nx\ncdy");
  fclose(f);
  close(fds[0]);
  FILE *dir = fopen(".", "r");
  EXPECT_EQ(vb_fgets(&b, dir), EISDIR);
  fclose(dir);
  EXPECT_EQ(vb_reads(&b, -1), EBADF);
  EXPECT_EQ(Content(b), "ab\nx\ncdy");
  vb_free(&b);
}

// Every growing call, failed at each allocation, with the default and a
// caller's allocator: 12 and an unchanged buffer, or success.
TEST(VStrBufTest, FailedGrowthReturns12AndLosesNothing) {
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
        vb_buffer b;
        defaults ? vb_init(&b)
                 : vb_init_with(&b, vtest::FunnelMalloc, vtest::FunnelFree);
        ASSERT_EQ(vb_strcat(&b, "ab"), 0);
        vb_buffer before = b;
        f.Arm();
        VRC rc = op(&b);
        bool failed = f.Disarm() && rc != 0;
        EXPECT_EQ(rc, failed ? ENOMEM : 0);
        EXPECT_EQ(memcmp(&before, &b, sizeof before) == 0, failed);
        EXPECT_EQ(vb_strlen(&b), failed ? 2u : 302u);
        EXPECT_EQ(std::string(b.data, 2), "ab");
        vb_free(&b);
      });
    }
  }
  // A line reader that cannot grow keeps what it read, terminated; the rest
  // of the line is still there for the next call.
  std::string line = std::string(200, 'L') + "\n";
  vtest::SweepAllocations([&](vtest::Fault &f) {
    FILE *stream = fmemopen(line.data(), line.size(), "r");
    vb_buffer b;
    vb_init_with(&b, vtest::FunnelMalloc, vtest::FunnelFree);
    f.Arm();
    VRC rc = vb_fgets(&b, stream);
    f.Disarm();
    if (rc == ENOMEM && b.data != nullptr) {
      EXPECT_EQ(b.data[b.length], '\0');
    }
    if (rc == ENOMEM) rc = vb_fgets(&b, stream);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Content(b), line);
    fclose(stream);
    vb_free(&b);
  });
  vb_buffer none;
  vb_init_with(&none, vtest::NullMalloc, free);
  EXPECT_EQ(vb_strval(&none), nullptr);
  EXPECT_EQ(vb_strcat(&none, "x"), ENOMEM);
  EXPECT_EQ(none.data, nullptr);
  EXPECT_EQ(vb_strlen(&none), 0u);
}

// Null allocation functions stand for malloc and free; no bytes with a
// count of 0 is an empty append; other nulls are refused with EINVAL.
TEST(VStrBufTest, NullFunctionsAreTheDefaultsAndNullBuffersAreRefused) {
  vb_buffer b;
  vb_init_with(&b, nullptr, nullptr);
  EXPECT_EQ(vb_strcat(&b, "text"), 0);
  EXPECT_EQ(vb_append(&b, nullptr, 0), 0);
  EXPECT_EQ(vb_append(&b, nullptr, 1), EINVAL);
  EXPECT_EQ(vb_strcat(&b, nullptr), EINVAL);
  EXPECT_EQ(vb_sprintf(&b, nullptr), EINVAL);
  EXPECT_STREQ(vb_strval(&b), "text");
  EXPECT_EQ(vb_strcat(nullptr, "x"), EINVAL);
  EXPECT_EQ(vb_strval(nullptr), nullptr);
  EXPECT_EQ(vb_strlen(nullptr) + vb_strsize(nullptr), 0u);
  vb_free(&b);
}

}  // namespace
