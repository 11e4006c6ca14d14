#include "containers/incralloc.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "support/alloc_sweep.h"

namespace {

bool AllZero(const char *piece, size_t size) {
  return std::all_of(piece, piece + size, [](char b) { return b == 0; });
}
char *Alloc(VIncrAllocator *arena, size_t size) {
  return static_cast<char *>(VIncrAllocatorAlloc(arena, size));
}

TEST(VIncrAllocatorTest, RoundsToEightAndRefusesPiecesLargerThanABlock) {
  EXPECT_EQ(VIncrAllocatorCreate(UINT32_MAX), nullptr);  // rounding overflows
  VIncrAllocator *arena = VIncrAllocatorCreate(29);
  ASSERT_NE(arena, nullptr);
  EXPECT_EQ(arena->block_size, 32u);
  char *first = Alloc(arena, 1);
  EXPECT_EQ(first, arena->current);
  EXPECT_EQ(Alloc(arena, 0), first + 8);  // does not advance
  EXPECT_EQ(Alloc(arena, 1), first + 8);
  vtest::AllocCounter allocations;
  for (size_t size : {size_t{33}, SIZE_MAX, SIZE_MAX - 3})
    EXPECT_EQ(Alloc(arena, size), nullptr) << size;
  EXPECT_EQ(allocations.count(), 0u);
  EXPECT_EQ(Alloc(arena, 9), first + 16);
  EXPECT_EQ(arena->remaining, 0u);
  VIncrAllocatorDestroy(arena);
  arena = VIncrAllocatorCreate(0);
  EXPECT_EQ(Alloc(arena, 0), arena->current);
  EXPECT_EQ(Alloc(arena, 1), nullptr);
  VIncrAllocatorDestroy(arena);
}

// An exact fill stays in the current block; the next request starts a fresh
// zero-filled block, and the arena keeps every block for its destruction.
TEST(VIncrAllocatorTest, ExactFillStaysInBlockThenNextRequestStartsNewOne) {
  VIncrAllocator *arena = VIncrAllocatorCreate(64);
  char *start[6] = {Alloc(arena, 40)};
  EXPECT_EQ(Alloc(arena, 17), start[0] + 40);
  memset(start[0], 0xAB, 64);
  for (int i = 1; i < 6; ++i) {
    ASSERT_NE(start[i] = Alloc(arena, 64), nullptr);
    EXPECT_TRUE(AllZero(start[i], 64));
    memset(start[i], 0xCD, 64);
  }
  EXPECT_EQ(VListNumItems(arena->blocks), 6);
  EXPECT_EQ(arena->current, start[5]);
  VIncrAllocatorDestroy(arena);
}

// Leaks on the failure paths show under LeakSanitizer.
TEST(VIncrAllocatorTest, FailedCreateOrNewBlockLeavesNothingBroken) {
  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    VIncrAllocator *arena = VIncrAllocatorCreate(48);
    ASSERT_EQ(arena == nullptr, f.Disarm());
    EXPECT_TRUE(arena == nullptr || AllZero(Alloc(arena, 48), 48));
    VIncrAllocatorDestroy(arena);
  });
  vtest::SweepAllocations([](vtest::Fault &f) {
    VIncrAllocator *arena = VIncrAllocatorCreate(48);
    char *end = Alloc(arena, 48) + 48;
    f.Arm();
    char *piece = Alloc(arena, 8);
    if (f.Disarm()) {
      EXPECT_EQ(piece, nullptr);
      EXPECT_EQ(VListNumItems(arena->blocks), 1);
      EXPECT_EQ(Alloc(arena, 0), end);
      piece = Alloc(arena, 8);
    }
    EXPECT_EQ(VListNumItems(arena->blocks), 2);
    EXPECT_EQ(Alloc(arena, 40), piece + 8);
    VIncrAllocatorDestroy(arena);
  });
}

}  // namespace
