// Each test runs in its own process and takes a few real seconds: the
// clock service ticks once a second.
#include "services/clock.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "services/timer.h"
#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "vantrel/vclock.h"
#include "vantrel/vmqueue.h"
#include "vantrel/vtimer.h"

namespace vi = vantrel::internal;

namespace {

VMsgQueue MakeQueue() {
  VMsgQueue q = nullptr;
  EXPECT_EQ(VMsgQueueCreate(&q), 0);
  return q;
}

std::vector<time_t> Drain(VMsgQueue q) {
  std::vector<time_t> times;
  void *m = nullptr;
  while (VMsgQueueGet(q, &m, VMSGQUEUE_NOWAIT) == 0) {
    times.push_back(static_cast<time_t>(reinterpret_cast<uintptr_t>(m)));
  }
  return times;
}

// Waits tick by tick (the timer runs at one second here) until q holds n
// messages, at most `seconds` ticks.
bool AwaitMessages(VMsgQueue q, int n, int seconds = 30) {
  for (int i = 0; i < seconds * 2 && VMsgQueueNumItems(q) < n; i++) {
    VTimerWaitForTick();
  }
  return VMsgQueueNumItems(q) >= n;
}

class Locked {
 public:
  Locked() : lock_(vi::ClockServiceLock()) { VMutexLock(lock_); }
  ~Locked() { VMutexUnlock(lock_); }

 private:
  VMutex lock_;
};

// Registrations made under the lock all start counting on the same
// second.  Over six seconds: rate 1 six times, rate 2 three times, rate 3
// twice, rates 2 and 3 on one queue at seconds 2, 3, 4, 6, 6; rate 0
// never.
TEST(VClockTest, EachRegistrationDeliversAtItsRate) {
  ASSERT_EQ(VClockStart(), 0);
  VMsgQueue every = MakeQueue(), two = MakeQueue(), three = MakeQueue(),
            both = MakeQueue(), never = MakeQueue();
  time_t start = time(nullptr);
  {
    Locked hold;
    EXPECT_EQ(VClockAddMsgQueue(two, 2), 0);
    EXPECT_EQ(VClockAddMsgQueue(three, 3), 0);
    EXPECT_EQ(VClockAddMsgQueue(both, 2), 0);
    EXPECT_EQ(VClockAddMsgQueue(both, 3), 0);
    EXPECT_EQ(VClockAddMsgQueue(never, 0), 0);
    EXPECT_EQ(VClockAddMsgQueue(never, -4), 0);
    EXPECT_EQ(VClockAddMsgQueue(every, 1), 0);  // last: delivered last
  }
  ASSERT_TRUE(AwaitMessages(every, 6));
  time_t end = time(nullptr);
  std::vector<time_t> times;
  {
    Locked hold;  // no delivery while the queues are read
    times = Drain(every);
    // n seconds have passed for every registration alike (six, or more
    // when a second passed before the lock was taken).
    size_t n = times.size();
    EXPECT_EQ(Drain(two).size(), n / 2);
    EXPECT_EQ(Drain(three).size(), n / 3);
    EXPECT_EQ(Drain(both).size(), n / 2 + n / 3);
    EXPECT_EQ(Drain(never).size(), 0u);
    for (VMsgQueue q : {every, two, three, both, never}) {
      while (VClockRemoveMsgQueue(q) == 0) {
      }
    }
  }
  ASSERT_GE(times.size(), 6u);
  for (size_t i = 0; i < times.size(); i++) {
    EXPECT_GE(times[i], start);
    EXPECT_LE(times[i], time(nullptr) + 1);
    if (i > 0) {
      EXPECT_GE(times[i], times[i - 1]);
    }
  }
  // Four seconds is the least six one-second ticks can take even with a
  // late first one; the upper bound only guards against a stalled clock.
  EXPECT_GE(end - start, 4);
  for (VMsgQueue q : {every, two, three, both, never}) {
    VMsgQueueDestroy(q, VClockMsgQueueFree, nullptr);
  }
}

TEST(VClockTest, RateChangesRestartTheCountAndRemovalStopsDeliveries) {
  ASSERT_EQ(VClockStart(), 0);
  VMsgQueue q = MakeQueue(), other = MakeQueue();
  EXPECT_EQ(VClockRemoveMsgQueue(other), VRC_NOT_FOUND);
  EXPECT_EQ(VClockSetRateMsgQueue(other, 1), VRC_NOT_FOUND);
  ASSERT_EQ(VClockAddMsgQueue(q, 1), 0);
  ASSERT_TRUE(AwaitMessages(q, 1));
  uint64_t changed = 0;
  {
    Locked hold;
    Drain(q);
    EXPECT_EQ(VClockSetRateMsgQueue(q, 3), 0);
    changed = vi::TimerTicksProcessed();
  }
  ASSERT_TRUE(AwaitMessages(q, 1));
  // A full new period: three ticks of the one-second timer, give or take
  // the tick that may be between its processing and the delivery.
  EXPECT_GE(vi::TimerTicksProcessed() - changed, 2u);
  EXPECT_EQ(VClockRemoveMsgQueue(q), 0);
  EXPECT_EQ(VClockRemoveMsgQueue(q), VRC_NOT_FOUND);
  Drain(q);
  for (int i = 0; i < 3; i++) VTimerWaitForTick();
  EXPECT_EQ(VMsgQueueNumItems(q), 0);
  VMsgQueueDestroy(q, nullptr, nullptr);
  VMsgQueueDestroy(other, nullptr, nullptr);
}

TEST(VClockTest, TheInstanceCountRisesAndFallsAndZeroStopsNothing) {
  VMsgQueue q = MakeQueue();
  EXPECT_EQ(VClockAddMsgQueue(q, 1), VRC_NOT_READY);  // never started
  EXPECT_EQ(VClockStop(), 0);
  EXPECT_EQ(vi::ClockInstanceCount(), 0);
  ASSERT_EQ(VClockStart(), 0);
  ASSERT_EQ(VClockStart(), 0);
  EXPECT_EQ(vi::ClockInstanceCount(), 2);
  EXPECT_EQ(VClockStop(), 0);
  EXPECT_EQ(vi::ClockInstanceCount(), 1);
  EXPECT_EQ(VClockStop(), 0);
  EXPECT_EQ(vi::ClockInstanceCount(), 0);
  ASSERT_EQ(VClockAddMsgQueue(q, 1), 0);
  EXPECT_TRUE(AwaitMessages(q, 2));
  VClockRemoveMsgQueue(q);
  VMsgQueueDestroy(q, nullptr, nullptr);
}

// The messages carry the wall clock's time of day, wherever it is set;
// the pace of the deliveries follows the monotonic clock.
int FutureWallClock(clockid_t id, struct timespec *ts) noexcept {
  int rc = clock_gettime(id, ts);
  if (id == CLOCK_REALTIME) ts->tv_sec += 86400;
  return rc;
}

TEST(VClockTest, MessagesCarryTheWallClockTheirPaceDoesNot) {
  ASSERT_EQ(VClockStart(), 0);
  VMsgQueue q = MakeQueue();
  auto start = std::chrono::steady_clock::now();
  vtest::OsOverride wall("clock_gettime", &FutureWallClock);
  ASSERT_EQ(VClockAddMsgQueue(q, 1), 0);
  ASSERT_TRUE(AwaitMessages(q, 3));
  auto span = std::chrono::steady_clock::now() - start;
  time_t real = time(nullptr);
  VClockRemoveMsgQueue(q);
  for (time_t t : Drain(q)) {
    EXPECT_GE(t, real + 86400 - 10);
    EXPECT_LE(t, real + 86400 + 1);
  }
  EXPECT_GE(span, std::chrono::seconds(1));
  VMsgQueueDestroy(q, nullptr, nullptr);
}

TEST(VClockTest, RegistrationsThatCannotBeAllocatedChangeNothing) {
  ASSERT_EQ(VClockStart(), 0);
  VMsgQueue q = MakeQueue();
  vtest::SweepAllocations([q](vtest::Fault &fault) {
    fault.Arm();
    VRC rc = VClockAddMsgQueue(q, 1000);
    if (fault.Disarm()) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(VClockRemoveMsgQueue(q), VRC_NOT_FOUND);
      return;
    }
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(VClockRemoveMsgQueue(q), 0);
  });
  VMsgQueueDestroy(q, nullptr, nullptr);
}

// Every step of the first start can fail; the service then stays
// stopped, and the next start tries again.
TEST(VClockTest, StartUpFailuresAreReturnedAndRetried) {
  ASSERT_NE(vi::ClockServiceLock(), nullptr);
  ASSERT_NE(vi::TimerServiceLock(), nullptr);
  {
    vtest::OsFault refuse("pthread_create", 1, EAGAIN, true);
    EXPECT_EQ(VClockStart(), VRC_FAILURE);
  }
  EXPECT_EQ(vi::ClockInstanceCount(), 0);
  vtest::SweepAllocations([](vtest::Fault &fault) {
    fault.Arm();
    VRC rc = VClockStart();
    if (fault.Disarm()) {
      EXPECT_TRUE(rc == ENOMEM || rc == VRC_FAILURE) << rc;
      EXPECT_EQ(vi::ClockInstanceCount(), 0);
      return;
    }
    EXPECT_EQ(rc, 0);
  });
  EXPECT_GE(vi::ClockInstanceCount(), 1);  // one start per sweep mode
}

TEST(VClockTest, ALockThatCannotBeMadeFailsEveryStart) {
  vtest::Fault fault(1, true);
  fault.Arm();
  VRC rc = VClockStart();
  fault.Disarm();
  EXPECT_EQ(rc, VRC_FAILURE);
  EXPECT_EQ(VClockStart(), VRC_FAILURE);
}

}  // namespace
