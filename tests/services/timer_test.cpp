// Each test runs in its own process (CTest), so each starts the service
// afresh.  Firing is checked in ticks, counted under the service lock: a
// test that arms a timer under it knows the exact tick it must fire on.
#include "services/timer.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "services/services_test_support.h"
#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "threads/sync_internal.h"
#include "vantrel/vtime.h"
#include "vantrel/vtimer.h"

namespace vi = vantrel::internal;

namespace {

constexpr double kRes = 0.01;

// What a recording handler saw.
struct Fired {
  std::atomic<int> count{0};
  std::atomic<uint64_t> tick{0};
  std::atomic<int64_t> nanos{0};
};

VRC Record(void *data) {
  auto *f = static_cast<Fired *>(data);
  f->tick = vi::TimerTicksProcessed();
  f->nanos = std::chrono::steady_clock::now().time_since_epoch().count();
  f->count++;
  return 0;
}

class Locked {
 public:
  Locked() : lock_(vi::TimerServiceLock()) { VMutexLock(lock_); }
  ~Locked() { VMutexUnlock(lock_); }

 private:
  VMutex lock_;
};

// Arms t under the service lock; the tick count at that moment.
uint64_t SetAt(VTimer t, double seconds) {
  Locked hold;
  uint64_t now = vi::TimerTicksProcessed();
  EXPECT_EQ(VTimerSet(t, seconds), 0);
  return now;
}

// Waits tick by tick (at most `limit` ticks) until done() holds.
template <typename Done>
bool TicksUntil(Done done, int limit = 3000) {
  for (int i = 0; i < limit && !done(); i++) VTimerWaitForTick();
  return done();
}

TEST(VTimerTest, DelaysAreWholeTicksAndAtLeastOne) {
  ASSERT_EQ(VTimerInit(kRes), 0);
  const double delays[] = {0, 0.001, kRes, 0.025, 0.03, 0.3, -1};
  const uint64_t ticks[] = {1, 1, 1, 3, 3, 30, 1};
  Fired fired[7];
  std::vector<VTimer> timers;
  uint64_t armed[7];
  for (int i = 0; i < 7; i++) {
    timers.push_back(VTimerCreate(Record, &fired[i], "delay"));
    armed[i] = SetAt(timers[i], delays[i]);
  }
  ASSERT_TRUE(TicksUntil([&] {
    return std::all_of(fired, fired + 7, [](Fired &f) { return f.count > 0; });
  }));
  for (int i = 0; i < 7; i++) {
    EXPECT_EQ(fired[i].tick - armed[i], ticks[i]) << "delay " << delays[i];
    EXPECT_EQ(fired[i].count.load(), 1);
    VTimerDestroy(timers[i]);
  }
}

TEST(VTimerTest, TimersDueOnOneTickFireInTheOrderTheyWereSet) {
  ASSERT_EQ(VTimerInit(kRes), 0);
  struct Entry {
    std::vector<int> *order;
    int index;
    Fired fired;
  };
  std::vector<int> order;
  Entry entries[4] = {
      {&order, 0, {}}, {&order, 1, {}}, {&order, 2, {}}, {&order, 3, {}}};
  std::vector<VTimer> timers;
  {
    Locked hold;
    for (auto &e : entries) {
      VTimer t = VTimerCreate(
          [](void *data) -> VRC {
            auto *entry = static_cast<Entry *>(data);
            entry->order->push_back(entry->index);  // handlers hold the lock
            return Record(&entry->fired);
          },
          &e, nullptr);
      VTimerSet(t, 5 * kRes);
      timers.push_back(t);
    }
  }
  ASSERT_TRUE(TicksUntil([&] { return entries[3].fired.count > 0; }));
  Locked hold;
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  for (auto &e : entries) EXPECT_EQ(e.fired.tick, entries[0].fired.tick);
  for (VTimer t : timers) VTimerDestroy(t);
}

// Under the lock no tick passes, so the list can be read exactly.
TEST(VTimerTest, SetAndRemoveKeepTheOtherTimersExpiry) {
  ASSERT_EQ(VTimerInit(kRes), 0);
  Fired f;
  VTimer a = VTimerCreate(Record, &f, "a");
  VTimer b = VTimerCreate(Record, &f, "b");
  VTimer c = VTimerCreate(Record, &f, "c");
  Locked hold;
  VTimerSet(a, 2 * kRes);
  VTimerSet(b, 5 * kRes);
  VTimerSet(c, 7 * kRes);
  EXPECT_EQ(vi::TimerDeltaTicks(b), 3);
  EXPECT_NEAR(VTimerLeft(b), 5 * kRes, 1e-9);
  VTimerRemove(a);
  EXPECT_NEAR(VTimerLeft(b), 5 * kRes, 1e-9);
  EXPECT_NEAR(VTimerLeft(c), 7 * kRes, 1e-9);
  VTimerRemove(a);  // idle: left alone
  VTimerSet(b, kRes);
  EXPECT_NEAR(VTimerLeft(b), kRes, 1e-9);
  EXPECT_NEAR(VTimerLeft(c), 7 * kRes, 1e-9);
  VTimerSet(b, 9 * kRes);
  EXPECT_NEAR(VTimerLeft(c), 7 * kRes, 1e-9);
  EXPECT_NEAR(VTimerLeft(b), 9 * kRes, 1e-9);
  EXPECT_NEAR(VTimerLeft(a), 9 * kRes, 1e-9);  // idle: up to the last one
  VTimerDestroy(b);                            // armed: disarmed first
  EXPECT_NEAR(VTimerLeft(c), 7 * kRes, 1e-9);
  VTimerDestroy(a);
  VTimerDestroy(c);
  EXPECT_EQ(f.count.load(), 0);
}

TEST(VTimerTest, AFinerResolutionRescalesArmedTimersACoarserOneChangesNothing) {
  ASSERT_EQ(VTimerInit(1.0), 0);
  Fired f;
  VTimer t = VTimerCreate(Record, &f, "refined");
  Locked hold;
  VTimerSet(t, 4.0);
  EXPECT_EQ(vi::TimerDeltaTicks(t), 4);
  ASSERT_EQ(VTimerInit(0.5), 0);
  EXPECT_EQ(vi::TimerDeltaTicks(t), 8);
  EXPECT_DOUBLE_EQ(VTimerLeft(t), 4.0);
  ASSERT_EQ(VTimerInit(2.0), 0);
  ASSERT_EQ(VTimerInit(0.5), 0);
  EXPECT_EQ(vi::TimerDeltaTicks(t), 8);
  EXPECT_DOUBLE_EQ(vi::TimerResolution(), 0.5);
  VTimerDestroy(t);
}

// Handlers run under the re-entrant lock and may change the list: one
// destroys itself, one removes itself after three firings, one arms the
// next of a chain.
struct Chain {
  VTimer next = nullptr;
  Fired fired;
};

TEST(VTimerTest, HandlersMayDestroyRemoveAndSetTimers) {
  ASSERT_EQ(VTimerInit(kRes), 0);
  Fired selfDestroyed;
  struct SelfDestroying {
    VTimer self;
    Fired *fired;
  } sd{nullptr, &selfDestroyed};
  sd.self = VTimerCreate(
      [](void *data) -> VRC {
        auto *s = static_cast<SelfDestroying *>(data);
        VTimerDestroy(s->self);
        return Record(s->fired);
      },
      &sd, "self-destroying");
  VTimerSetOneShot(sd.self, 0);  // would re-arm if it still existed

  struct Limited {
    VTimer self;
    Fired fired;
  } limited{nullptr, {}};
  limited.self = VTimerCreate(
      [](void *data) -> VRC {
        auto *l = static_cast<Limited *>(data);
        Record(&l->fired);
        if (l->fired.count == 3) VTimerRemove(l->self);
        return 0;
      },
      &limited, "limited");
  VTimerSetOneShot(limited.self, 0);

  Chain second, first;
  first.next = VTimerCreate(Record, &second.fired, "second");
  VTimer head = VTimerCreate(
      [](void *data) -> VRC {
        auto *c = static_cast<Chain *>(data);
        VTimerSet(c->next, 2 * kRes);
        return Record(&c->fired);
      },
      &first, "first");

  SetAt(sd.self, kRes);
  SetAt(limited.self, kRes);
  SetAt(head, kRes);
  ASSERT_TRUE(TicksUntil(
      [&] { return second.fired.count > 0 && limited.fired.count >= 3; }));
  for (int i = 0; i < 5; i++) VTimerWaitForTick();
  EXPECT_EQ(selfDestroyed.count.load(), 1);
  EXPECT_EQ(limited.fired.count.load(), 3);
  EXPECT_EQ(second.fired.tick - first.fired.tick, 2u);
  VTimerDestroy(limited.self);
  VTimerDestroy(head);
  VTimerDestroy(first.next);
}

// 500 timers with delays of 1 to 40 ticks; a quarter removed at once, a
// quarter a few ticks later.  Each kept one fires exactly once, on its
// tick; a removed one never fires after its removal.
TEST(VTimerTest, FiveHundredTimersHalfRemovedFireOnceOnTimeOrNever) {
  ASSERT_EQ(VTimerInit(kRes), 0);
  constexpr int kTimers = 500;
  std::mt19937 random(20261206);
  std::vector<Fired> fired(kTimers);
  std::vector<VTimer> timers;
  std::vector<uint64_t> due(kTimers), removedAt(kTimers, 0);
  std::vector<bool> removed(kTimers, false);
  {
    Locked hold;
    uint64_t now = vi::TimerTicksProcessed();
    for (int i = 0; i < kTimers; i++) {
      int ticks = 1 + static_cast<int>(random() % 40);
      timers.push_back(VTimerCreate(Record, &fired[i], "many"));
      VTimerSet(timers[i], ticks * kRes);
      due[i] = now + ticks;
      if (i % 4 == 1) {
        VTimerRemove(timers[i]);
        removedAt[i] = now;
        removed[i] = true;
      }
    }
  }
  for (int i = 0; i < 5; i++) VTimerWaitForTick();
  {
    Locked hold;
    uint64_t now = vi::TimerTicksProcessed();
    for (int i = 3; i < kTimers; i += 4) {
      VTimerRemove(timers[i]);
      removedAt[i] = now;
      removed[i] = true;
    }
  }
  uint64_t last = *std::max_element(due.begin(), due.end());
  ASSERT_TRUE(TicksUntil([&] { return vi::TimerTicksProcessed() > last + 2; }));
  for (int i = 0; i < kTimers; i++) {
    bool removedFirst = removed[i] && removedAt[i] < due[i];
    EXPECT_EQ(fired[i].count.load(), removedFirst ? 0 : 1) << "timer " << i;
    if (!removedFirst) {
      EXPECT_EQ(fired[i].tick.load(), due[i]) << "timer " << i;
    }
    VTimerDestroy(timers[i]);
  }
}

// A periodic timer fires once per period, even while the wall clock jumps a
// day back and forth on every reading: nothing of the timers reads it.
std::atomic<int> g_wallReads{0};
int JumpingWallClock(clockid_t id, struct timespec *ts) noexcept {
  int rc = clock_gettime(id, ts);
  if (id == CLOCK_REALTIME)
    ts->tv_sec += (g_wallReads++ % 2 == 0) ? -86400 : 86400;
  return rc;
}

TEST(VTimerTest, PeriodicTimersKeepTheirPeriodWhileTheWallClockJumps) {
  vtest::OsOverride wall("clock_gettime", &JumpingWallClock);
  VTimeval tv{};
  v_gettimeofday(&tv);
  time_t real = time(nullptr);
  EXPECT_GT(std::abs(static_cast<double>(tv.tv_sec - real)), 80000.0);
  ASSERT_EQ(VTimerInit(kRes), 0);
  struct Ticks {
    std::vector<uint64_t> seen;
    std::vector<int64_t> nanos;
    std::atomic<int> count{0};
  } ticks;
  VTimer t = VTimerCreate(
      [](void *data) -> VRC {
        auto *s = static_cast<Ticks *>(data);
        s->seen.push_back(vi::TimerTicksProcessed());
        s->nanos.push_back(
            std::chrono::steady_clock::now().time_since_epoch().count());
        s->count++;
        return 0;
      },
      &ticks, "wall");
  VTimerSetOneShot(t, 0);
  SetAt(t, 2 * kRes);
  ASSERT_TRUE(TicksUntil([&] { return ticks.count >= 20; }));
  VTimerRemove(t);
  Locked hold;
  for (size_t i = 1; i < ticks.seen.size(); i++) {
    EXPECT_EQ(ticks.seen[i] - ticks.seen[i - 1], 2u);
  }
  // Twenty periods of 20 ms: well under a second even on a loaded machine,
  // and not all at once.
  double span = (ticks.nanos[19] - ticks.nanos[0]) / 1e9;
  EXPECT_GT(span, 0.1);
  EXPECT_LT(span, 30.0);
  VTimerDestroy(t);
}

TEST(VTimerTest, FlagTimersSetClearToggleAndEventTimersPulse) {
  ASSERT_EQ(VTimerInit(kRes), 0);
  int flag = 0;
  auto read = [&flag] { return std::atomic_ref<int>(flag).load(); };
  VTimer set = VTimerFlagSet(&flag, "set");
  VTimer clear = VTimerFlagClear(&flag, "clear");
  VTimer toggle = VTimerFlagToggle(&flag, "toggle");
  EXPECT_EQ(VTimerGetData(toggle), &flag);
  VTimerSet(set, kRes);
  ASSERT_TRUE(TicksUntil([&] { return read() == 1; }));
  VTimerSet(clear, kRes);
  ASSERT_TRUE(TicksUntil([&] { return read() == 0; }));
  VTimerSet(toggle, kRes);
  ASSERT_TRUE(TicksUntil([&] { return read() == 1; }));
  VTimerSet(toggle, kRes);
  ASSERT_TRUE(TicksUntil([&] { return read() == 0; }));  // as it was
  for (VTimer t : {set, clear, toggle}) VTimerDestroy(t);

  VEvent event = nullptr;
  ASSERT_EQ(VEventCreate(&event), 0);
  VTimer t = VTimerEventTick(&event, "event");
  std::thread waiter([event] { EXPECT_EQ(VEventWait(event), 0); });
  ASSERT_TRUE(
      vtest::YieldUntil([&] { return vi::EventWaiterCount(event) == 1; }));
  VTimerSet(t, kRes);
  waiter.join();
  VTimerDestroy(t);
  VEventDestroy(event);
}

TEST(VTimerTest, SleepsLastTheirTicksAndStopOnAnAbortFlag) {
  ASSERT_EQ(VTimerInit(kRes), 0);
  uint64_t before = vi::TimerTicksProcessed();
  EXPECT_EQ(VTimerSleep(5 * kRes, nullptr), 1);
  EXPECT_GE(vi::TimerTicksProcessed() - before, 5u);

  int quiet = 0, raised = 0;
  int *abort[] = {&quiet, &raised, nullptr};
  std::atomic<int> result{-1};
  std::thread sleeper([&] { result = VTimerSleep(1000.0, abort); });
  std::atomic_ref<int>(raised).store(1);
  sleeper.join();
  EXPECT_EQ(result.load(), 0);

  // A flag timer of the caller's own; one without data returns at once.
  int flag = 1;
  VTimer own = VTimerFlagSet(&flag, "own");
  int *none[] = {nullptr};
  EXPECT_EQ(VTimerSleepSet(own, 2 * kRes, none), 1);
  std::atomic_ref<int>(raised).store(1);
  EXPECT_EQ(VTimerSleepSet(own, 1000.0, abort), 0);
  EXPECT_DOUBLE_EQ(VTimerLeft(own), 0.0);  // removed: nothing is armed
  VTimerDestroy(own);
  VTimer plain = VTimerCreate(Record, nullptr, "plain");
  EXPECT_EQ(VTimerSleepSet(plain, 1000.0, nullptr), 0);
  VTimerDestroy(plain);
}

TEST(VTimerTest, MicrosecondSleepsBelowAMillisecondOnlyYield) {
  vtest::OsCallCounter sleeps("clock_nanosleep");
  v_usleep(999);
  v_usleep(0);
  EXPECT_EQ(sleeps.calls(), 0u);
  auto start = std::chrono::steady_clock::now();
  v_usleep(2500);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(2));
  EXPECT_EQ(sleeps.calls(), 1u);
}

TEST(VTimerTest, NamesAreCopiedAndResolutionMustBePositive) {
  Fired f;
  char name[] = "mine";
  VTimer named = VTimerCreate(Record, &f, name);
  name[0] = 'X';
  EXPECT_STREQ(named->name, "mine");
  VTimer anonymous = VTimerCreate(Record, &f, nullptr);
  EXPECT_STREQ(anonymous->name, "Anonymous");
  EXPECT_EQ(VTimerCreate(nullptr, &f, "no handler"), nullptr);
  VTimerDestroy(named);
  VTimerDestroy(anonymous);
  EXPECT_EQ(VTimerInit(0), EINVAL);
  EXPECT_EQ(VTimerInit(-1), EINVAL);
  EXPECT_EQ(VTimerInit(std::nan("")), EINVAL);
}

// Without its lock the service can never start; every call says why.
TEST(VTimerTest, ALockThatCannotBeMadeFailsEveryStart) {
  vtest::Fault fault(1, true);
  fault.Arm();
  VRC rc = VTimerInit(kRes);
  fault.Disarm();
  EXPECT_EQ(rc, ENOMEM);
  EXPECT_EQ(VTimerInit(kRes), ENOMEM);
  EXPECT_EQ(VTimerWaitForTick(), ENOMEM);
}

TEST(VTimerTest, StartUpFailuresLeaveTheServiceStoppedAndRetryable) {
  ASSERT_NE(vi::TimerServiceLock(), nullptr);
  {
    vtest::OsFault refuse("pthread_create", 1, EAGAIN);
    EXPECT_EQ(VTimerInit(kRes), VRC_FAILURE);
  }
  EXPECT_EQ(vi::TimerResolution(), 0.0);
  vtest::SweepAllocations([](vtest::Fault &fault) {
    fault.Arm();
    VRC rc = VTimerInit(kRes);
    if (fault.Disarm()) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(vi::TimerResolution(), 0.0);
      return;
    }
    EXPECT_EQ(rc, 0);
  });
  Fired f;
  VTimer t = VTimerCreate(Record, &f, "after");
  SetAt(t, kRes);
  ASSERT_TRUE(TicksUntil([&] { return f.count > 0; }));
  VTimerDestroy(t);
}

TEST(VTimerTest, CreationFailuresReturnNullAndLeakNothing) {
  Fired f;
  int flag = 0;
  VEvent event = nullptr;
  for (auto make : {+[](Fired *p, int *, VEvent *) {
                      return VTimerCreate(Record, p, nullptr);
                    },
                    +[](Fired *, int *flag, VEvent *) {
                      return VTimerFlagSet(flag, "flag");
                    },
                    +[](Fired *, int *, VEvent *e) {
                      return VTimerEventTick(e, nullptr);
                    }}) {
    vtest::SweepAllocations([&](vtest::Fault &fault) {
      fault.Arm();
      VTimer t = make(&f, &flag, &event);
      if (fault.Disarm()) {
        EXPECT_EQ(t, nullptr);
        return;
      }
      ASSERT_NE(t, nullptr);
      VTimerDestroy(t);
    });
  }
}

}  // namespace
