#include <errno.h>
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/os_fault.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vi = vantrel::internal;

namespace {

VSemaphore Make(int initial) {
  VSemaphore s = nullptr;
  EXPECT_EQ(VSemaphoreCreateN(initial, &s), 0);
  return s;
}

// Blocks until `n` threads sleep on s, without sleeping itself.
void AwaitSleepers(VSemaphore s, int n) {
  while (vi::SemaphoreSleeperCount(s) < n) std::this_thread::yield();
}

TEST(VSemaphoreHandOffTest, PostWithoutSleeperMakesNoSystemCall) {
  VSemaphore s = Make(0);
  vtest::OsCallCounter futex("futex");
  for (int i = 0; i < 1000; i++) {
    VSemaphorePost(s);
    VSemaphorePostN(s, 3);
    EXPECT_EQ(VSemaphoreWait(s), 0);
    EXPECT_EQ(VSemaphoreTry(s), 0);
    EXPECT_EQ(vi::SemaphoreTimedWait(s, 10), 0);
    EXPECT_EQ(VSemaphoreTry(s), 0);
  }
  EXPECT_EQ(VSemaphoreTry(s), EAGAIN);
  EXPECT_EQ(vi::SemaphoreTimedWait(s, 0), VRC_TIMEOUT);
  EXPECT_EQ(futex.calls(), 0u);
  VSemaphoreDestroy(s);
}

TEST(VSemaphoreHandOffTest, PostWakesOneSleeperWithOneCall) {
  VSemaphore s = Make(0);
  std::thread sleeper([s] { EXPECT_EQ(VSemaphoreWait(s), 0); });
  AwaitSleepers(s, 1);
  {
    vtest::OsCallCounter futex("futex");
    VSemaphorePost(s);
    sleeper.join();
    // The post's wake, plus at most the sleeper's own wait when it had not
    // reached the kernel yet.
    EXPECT_GE(futex.calls(), 1u);
    EXPECT_LE(futex.calls(), 2u);
  }
  EXPECT_EQ(vi::SemaphoreSleeperCount(s), 0);
  VSemaphoreDestroy(s);
}

// PostN(k) with more sleepers than k lets exactly k through; the rest
// stay asleep until their own units come.
TEST(VSemaphoreHandOffTest, PostNReleasesExactlyNSleepers) {
  VSemaphore s = Make(0);
  constexpr int kSleepers = 6;
  std::atomic<int> passed{0};
  std::vector<std::thread> sleepers;
  for (int i = 0; i < kSleepers; i++) {
    sleepers.emplace_back([&] {
      VSemaphoreWait(s);
      passed++;
    });
  }
  AwaitSleepers(s, kSleepers);
  VSemaphorePostN(s, 4);
  // The four leave; the other two go back to sleep with nothing left.
  while (passed.load() < 4) std::this_thread::yield();
  AwaitSleepers(s, 2);
  EXPECT_EQ(passed.load(), 4);
  EXPECT_EQ(VSemaphoreTry(s), EAGAIN);
  VSemaphorePostN(s, 2);
  for (auto &t : sleepers) t.join();
  EXPECT_EQ(passed.load(), kSleepers);
  EXPECT_EQ(s->state.load(), 0u);
  VSemaphoreDestroy(s);
}

// The waiter owns the semaphore once it has its unit: it destroys it at
// once while the poster may still be inside the post.  ASan would see a
// post that touched the record after its change.
TEST(VSemaphoreHandOffTest, WaiterMayDestroyAsSoonAsItHasTheUnit) {
  for (int i = 0; i < 2000; i++) {
    VSemaphore s = Make(0);
    std::thread waiter([s] {
      VSemaphoreWait(s);
      VSemaphoreDestroy(s);
    });
    VSemaphorePost(s);
    waiter.join();
  }
}

// The wall clock is stepped a day back (as a date change would): the wait
// must last its limit all the same, since every limit runs on the
// monotonic clock, and leave no sleeper behind.
int ShiftedClock(clockid_t id, struct timespec *ts) noexcept {
  int rc = clock_gettime(id, ts);
  if (id == CLOCK_REALTIME) ts->tv_sec -= 86400;
  return rc;
}

TEST(VSemaphoreHandOffTest, TimedWaitLastsItsLimitWhateverTheWallClock) {
  vtest::OsOverride clock("clock_gettime", &ShiftedClock);
  VSemaphore s = Make(0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vi::SemaphoreTimedWait(s, 50), VRC_TIMEOUT);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(50));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(vi::SemaphoreSleeperCount(s), 0);
  // A unit posted after a timeout is still there for the next taker.
  VSemaphorePost(s);
  EXPECT_EQ(vi::SemaphoreTimedWait(s, 50), 0);
  VSemaphoreDestroy(s);
}

// Timed waiters that give up while posts arrive: every unit is taken by
// exactly one thread, none is lost in a waiter that timed out.
TEST(VSemaphoreHandOffTest, TimeoutsUnderContentionLoseNoUnit) {
  VSemaphore s = Make(0);
  constexpr int kUnits = 20000;
  std::atomic<int> taken{0};
  std::atomic<bool> posting{true};
  std::vector<std::thread> takers;
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int i = 0; i < 3; i++) {
    takers.emplace_back([&] {
      while ((posting.load() || taken.load() < kUnits) &&
             std::chrono::steady_clock::now() < give_up) {
        if (vi::SemaphoreTimedWait(s, 1) == 0) taken++;
      }
    });
  }
  for (int i = 0; i < kUnits; i++) VSemaphorePost(s);
  posting = false;
  for (auto &t : takers) t.join();
  EXPECT_EQ(taken.load(), kUnits);
  EXPECT_EQ(s->state.load(), 0u);
  VSemaphoreDestroy(s);
}

}  // namespace
