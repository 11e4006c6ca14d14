#include "containers/incralloc.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "support/alloc_sweep.h"

namespace {

bool AllZero(const void *piece, size_t size) {
  auto *bytes = static_cast<const unsigned char *>(piece);
  return std::all_of(bytes, bytes + size, [](unsigned char b) { return !b; });
}

char *Alloc(VIncrAllocator *arena, size_t size) {
  return static_cast<char *>(VIncrAllocatorAlloc(arena, size));
}

TEST(VIncrAllocatorTest, RoundsToEightAndRefusesPiecesLargerThanABlock) {
  VIncrAllocator *arena = VIncrAllocatorCreate(29);
  ASSERT_NE(arena, nullptr);
  EXPECT_EQ(arena->block_size, 32u);
  char *first = Alloc(arena, 1);
  EXPECT_EQ(first, arena->current);
  EXPECT_EQ(Alloc(arena, 0), first + 8);  // does not advance
  EXPECT_EQ(Alloc(arena, 1), first + 8);
  uint64_t before = vtest::AllocationCount();
  for (size_t size : {size_t{33}, SIZE_MAX, SIZE_MAX - 3})
    EXPECT_EQ(Alloc(arena, size), nullptr) << size;
  EXPECT_EQ(vtest::AllocationCount(), before);
  EXPECT_EQ(Alloc(arena, 9), first + 16);
  EXPECT_EQ(arena->remaining, 0u);
  VIncrAllocatorDestroy(arena);

  EXPECT_EQ(VIncrAllocatorCreate(UINT32_MAX), nullptr);  // rounding overflows
  arena = VIncrAllocatorCreate(0);
  ASSERT_NE(arena, nullptr);
  EXPECT_EQ(Alloc(arena, 0), arena->current);
  EXPECT_EQ(Alloc(arena, 1), nullptr);
  VIncrAllocatorDestroy(arena);
}

// An exact fill is served from the current block; the next request starts a
// fresh zero-filled block appended behind the others.
TEST(VIncrAllocatorTest, ExactFillStaysInBlockThenNextRequestStartsNewOne) {
  VIncrAllocator *arena = VIncrAllocatorCreate(64);
  ASSERT_NE(arena, nullptr);
  char *a = Alloc(arena, 40);
  EXPECT_EQ(Alloc(arena, 17), a + 40);
  EXPECT_EQ(VListNumItems(arena->blocks), 1);
  memset(a, 0xAB, 64);
  std::vector<char *> starts = {a};
  for (int i = 0; i < 5; ++i) {
    char *piece = Alloc(arena, 64);
    ASSERT_NE(piece, nullptr);
    EXPECT_TRUE(AllZero(piece, 64));
    memset(piece, 0xCD, 64);
    starts.push_back(piece);
  }
  ASSERT_EQ(VListNumItems(arena->blocks), 6);
  int32_t n = 0;
  for (void *item = VListFirst(arena->blocks); item; item = VListNext(item))
    EXPECT_EQ(*static_cast<char **>(item), starts[n++]);
  EXPECT_EQ(arena->current, starts.back());
  VIncrAllocatorDestroy(arena);
}

// Leaks on the failure paths show under LeakSanitizer.
TEST(VIncrAllocatorTest, CreateFailsCleanly) {
  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    VIncrAllocator *arena = VIncrAllocatorCreate(100);
    if (f.Disarm()) {
      EXPECT_EQ(arena, nullptr);
      return;
    }
    ASSERT_NE(arena, nullptr);
    EXPECT_TRUE(AllZero(Alloc(arena, 104), 104));
    VIncrAllocatorDestroy(arena);
  });
}

TEST(VIncrAllocatorTest, FailedNewBlockLeavesArenaUsable) {
  vtest::SweepAllocations([](vtest::Fault &f) {
    VIncrAllocator *arena = VIncrAllocatorCreate(48);
    ASSERT_NE(arena, nullptr);
    char *end = Alloc(arena, 48) + 48;
    f.Arm();
    char *piece = Alloc(arena, 8);
    if (f.Disarm()) {
      EXPECT_EQ(piece, nullptr);
      EXPECT_EQ(VListNumItems(arena->blocks), 1);
      EXPECT_EQ(Alloc(arena, 0), end);
      piece = Alloc(arena, 8);
    }
    ASSERT_NE(piece, nullptr);
    EXPECT_EQ(VListNumItems(arena->blocks), 2);
    EXPECT_EQ(Alloc(arena, 40), piece + 8);
    VIncrAllocatorDestroy(arena);
  });
}

}  // namespace
