// The engine allocates from the C heap on its own, outside the library's
// funnel.  This program replaces the C heap's entry points with ones that
// can fail the Nth allocation of the test thread, so that running out of
// memory inside the engine is tested too: every failure must come back as
// ENOMEM and leave nothing allocated, in the engine or in the library.
//
// Sanitizer builds keep their own allocator and skip these tests.
#include <errno.h>
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdlib.h>

#include "vantrel/voperator.h"
#include "vantrel/vregexp.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VTEST_OWN_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define VTEST_OWN_HEAP 0
#endif
#endif
#ifndef VTEST_OWN_HEAP
#define VTEST_OWN_HEAP 1
#endif

namespace {

// The allocations of the watched thread while a watch is on: a failure
// plan, the attempts, and the blocks taken minus the blocks given back
// (everything a watched call frees it took itself).
struct Watch {
  bool on = false;
  uint64_t attempts = 0;
  uint64_t fail_at = 0;  // 0: never
  bool repeat = false;
  bool fired = false;
  int64_t live = 0;
};
thread_local Watch *t_watch = nullptr;

Watch *Watching() {
  Watch *w = t_watch;
  return w != nullptr && w->on ? w : nullptr;
}

[[maybe_unused]] bool FailThisAttempt() {
  Watch *w = Watching();
  if (w == nullptr) return false;
  ++w->attempts;
  bool fail = w->fail_at != 0 && (w->attempts == w->fail_at ||
                                  (w->repeat && w->attempts > w->fail_at));
  w->fired = w->fired || fail;
  return fail;
}

[[maybe_unused]] void Count(const void *block, int64_t change) {
  Watch *w = Watching();
  if (w != nullptr && block != nullptr) w->live += change;
}

}  // namespace

#if VTEST_OWN_HEAP
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);

void *malloc(size_t size) noexcept {
  if (FailThisAttempt()) return nullptr;
  void *block = __libc_malloc(size);
  Count(block, 1);
  return block;
}
void *calloc(size_t count, size_t size) noexcept {
  if (FailThisAttempt()) return nullptr;
  void *block = __libc_calloc(count, size);
  Count(block, 1);
  return block;
}
void *realloc(void *block, size_t size) noexcept {
  if (FailThisAttempt()) return nullptr;
  void *moved = __libc_realloc(block, size);
  if (block == nullptr) Count(moved, 1);
  return moved;
}
void free(void *block) noexcept {
  Count(block, -1);
  __libc_free(block);
}
}
#endif

namespace {

class EngineOom : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!VTEST_OWN_HEAP) GTEST_SKIP() << "sanitizers own the heap";
    watch_ = new Watch;
    t_watch = watch_;
  }
  void TearDown() override {
    t_watch = nullptr;
    delete watch_;
  }

  // Runs op with the nth allocation attempt failing (and every later one
  // with repeat); returns whether a failure was injected.  Blocks op left
  // allocated are counted in leaked().
  template <typename Op>
  bool Run(uint64_t nth, bool repeat, Op op) {
    watch_->attempts = 0;
    watch_->fail_at = nth;
    watch_->repeat = repeat;
    watch_->fired = false;
    watch_->live = 0;
    watch_->on = true;
    op();
    watch_->on = false;
    return watch_->fired;
  }
  // The first compile of the process checks the engine once; sweeps
  // start after it.
  static void Warm() {
    VRegexp re = nullptr;
    ASSERT_EQ(VRegexpCompile("a", &re), 0);
    VRegexpFree(re);
  }
  uint64_t attempts() const { return watch_->attempts; }
  int64_t leaked() const { return watch_->live; }

  Watch *watch_ = nullptr;
};

TEST_F(EngineOom, CompileFailsWithEnomemAtEveryAllocation) {
  const char *pattern = "^([a-z]+) ([0-9]{1,5}) \\[(INFO|WARN|ERROR)\\] (.*)$";
  Warm();
  uint64_t needed = 0;
  Run(0, false, [&] {
    VRegexp re = nullptr;
    ASSERT_EQ(VRegexpCompile(pattern, &re), 0);
    VRegexpFree(re);
  });
  needed = attempts();
  ASSERT_GT(needed, 2u) << "the engine allocates for itself";
  EXPECT_EQ(leaked(), 0);

  for (bool repeat : {false, true}) {
    for (uint64_t nth = 1; nth <= needed; ++nth) {
      SCOPED_TRACE(testing::Message() << "nth " << nth << " repeat " << repeat);
      VRegexp re = nullptr;
      VRC rc = -1;
      ASSERT_TRUE(Run(nth, repeat, [&] { rc = VRegexpCompile(pattern, &re); }));
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(re, nullptr);
      EXPECT_EQ(leaked(), 0);
      VRegexpFree(re);
    }
  }
}

// The engine's matcher keeps its scratch on the stack: once the thread's
// stack size is known, matching takes nothing from the C heap either, so
// there is no allocation to fail (running out inside the engine would be
// ENOMEM, as the result mapping says).
TEST_F(EngineOom, MatchingTakesNothingFromTheHeap) {
  VRegexp re = nullptr;
  ASSERT_EQ(VRegexpCompile("([a-z]+)=([0-9]+)", &re), 0);
  ASSERT_EQ(VRegexpMatch(re, "key=42"), 0);  // learns the stack size
  Run(0, false, [&] { EXPECT_EQ(VRegexpMatch(re, "key=42"), 0); });
  EXPECT_EQ(attempts(), 0u);
  VRegexpFree(re);
}

// LIKE compiles, matches and frees on every call: out of memory anywhere
// in that is "does not match", and nothing is left behind.
TEST_F(EngineOom, LikeIsFalseWhenMemoryRunsOut) {
  char text[] = "error: disk full";
  char pattern[] = "^(error|fatal): .* full$";
  VTypedValue a{}, b{};
  a.type = b.type = VDT_STRING;
  a.value.stringValue = {text, sizeof text - 1};
  b.value.stringValue = {pattern, sizeof pattern - 1};
  Warm();
  ASSERT_EQ(VTypedValueLIKE(&a, &b), 1);  // learns the stack size
  Run(0, false, [&] { ASSERT_EQ(VTypedValueLIKE(&a, &b), 1); });
  uint64_t needed = attempts();
  for (uint64_t nth = 1; nth <= needed; ++nth) {
    int like = -1, notlike = -1;
    ASSERT_TRUE(Run(nth, false, [&] { like = VTypedValueLIKE(&a, &b); }));
    EXPECT_EQ(like, 0) << nth;
    EXPECT_EQ(leaked(), 0) << nth;
    Run(nth, false,
        [&] { notlike = VTypedValueOperatorComp(&a, &b, VOP_NOTLIKE); });
    EXPECT_EQ(notlike, 1) << nth;
  }
}

}  // namespace
