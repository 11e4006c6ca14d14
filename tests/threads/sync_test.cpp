#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/alloc_sweep.h"
#include "threads/sync_internal.h"

namespace {

namespace vi = vantrel::internal;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Polls until pred holds; false after five seconds.
bool WaitUntil(const std::function<bool()> &pred) {
  for (auto end = Clock::now() + std::chrono::seconds(5); !pred();) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

// Runs body on n threads and joins them at the end of its scope; after a
// failed assertion threads may still block, so the process ends instead.
struct Threads : std::vector<std::thread> {
  Threads(int n, const std::function<void()> &body) {
    while (n-- > 0) emplace_back(body);
  }
  ~Threads() {
    for (auto &t : *this) testing::Test::HasFatalFailure() ? abort() : t.join();
  }
};

long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

VRC TryLockElsewhere(VMutex m) {
  VRC rc = 1;
  std::thread([&] {
    if ((rc = VMutexTryLock(m)) == 0) VMutexUnlock(m);
  }).join();
  return rc;
}

TEST(VMutexTest, ReentrantOwnedAndExclusiveUnderContention) {
  VMutex m = nullptr;
  ASSERT_EQ(VMutexCreate(std::string(60, 'n').c_str(), &m), 0);
  EXPECT_EQ(std::string(m->name), std::string(40, 'n'));
  EXPECT_EQ(VMutexIsLocked(m), 0);
  EXPECT_EQ(VMutexTryLock(m), 0);
  EXPECT_EQ(m->owner.load(), static_cast<uint32_t>(gettid()));
  EXPECT_EQ(VMutexTryLock(m) + VMutexLock(m), 0);  // re-entrant for the owner
  EXPECT_EQ(VMutexUnlock(m), 0);
  // The first unlock clears the owner though two levels are still held.
  EXPECT_EQ(VMutexIsLocked(m), 0);
  EXPECT_EQ(TryLockElsewhere(m), -80);
  EXPECT_EQ(VMutexUnlock(m) + VMutexUnlock(m), 0);
  EXPECT_EQ(TryLockElsewhere(m), 0);

  long counter = 0;  // plain: the sanitizer build checks the exclusion
  Threads(4, [&] {
    for (int i = 0; i < 20000; i++) {
      VMutexLock(m);
      if (i % 7 == 0) VMutexLock(m);  // nested holds count too
      counter++;
      if (i % 7 == 0) VMutexUnlock(m);
      VMutexUnlock(m);
    }
  });
  EXPECT_EQ(counter, 80000);
  EXPECT_EQ(VMutexDestroy(m), 0);
}

// A signal reaches every current waiter and returns once all have left
// their wait; a lost wake-up in the queue would make a consumer time out.
TEST(VCondTest, TimesOutSignalsEveryWaiterAndLosesNoWakeUp) {
  VMutex m = nullptr;
  VCond c = nullptr;
  ASSERT_EQ(VMutexCreate("cond", &m), 0);
  ASSERT_EQ(VCondCreate(&c), 0);
  VMutexLock(m);
  EXPECT_EQ(VCondSignal(c), 0);  // nobody waits: not remembered
  auto start = Clock::now();
  EXPECT_EQ(VCondTimedWait(c, m, 40), VRC_TIMEOUT);
  EXPECT_GE(MsSince(start), 39);
  EXPECT_EQ(TryLockElsewhere(m), VRC_MUTEX_BUSY);  // held again
  VMutexUnlock(m);

  std::atomic<int> woken{0};
  {
    Threads waiters(3, [&] {
      VMutexLock(m);
      woken += VCondWait(c, m) == 0 && VMutexIsLocked(m);
      VMutexUnlock(m);
    });
    ASSERT_TRUE(WaitUntil([&] { return vi::CondWaiterCount(c) == 3; }));
    VMutexLock(m);
    EXPECT_EQ(VCondSignal(c), 0);
    vantrel::platform::MutexLock(&c->guard);
    EXPECT_EQ(c->toLeave + c->waiters + woken, 0);  // all queue for m
    vantrel::platform::MutexUnlock(&c->guard);
    VMutexUnlock(m);
  }
  EXPECT_EQ(woken.load(), 3);

  int queued = 0, consumed = 0, timeouts = 0;
  bool done = false;
  {
    Threads consumers(3, [&] {
      VMutexLock(m);
      for (;; queued--, consumed++) {
        while (queued == 0 && !done) {
          timeouts += VCondTimedWait(c, m, 2000) == VRC_TIMEOUT;
        }
        if (queued == 0) break;
      }
      VMutexUnlock(m);
    });
    for (int i = 0; i <= 3000; i++) {
      VMutexLock(m);
      queued += i < 3000;
      done = i == 3000;
      VCondSignal(c);
      VMutexUnlock(m);
    }
  }
  EXPECT_EQ(consumed, 3000);
  EXPECT_EQ(timeouts, 0);
  VCondDestroy(c);
  VMutexDestroy(m);
}

int32_t Counter(VRWLock l, int32_t VRWLockRecord::*field) {
  VMutexLock(l->lock);
  int32_t n = l->*field;
  VMutexUnlock(l->lock);
  return n;
}

TEST(VRWLockTest, WaitingWriterHoldsBackNewReaders) {
  VRWLock l = nullptr;
  ASSERT_EQ(VRWLockCreate(std::string(50, 'x').c_str(), &l), 0);
  EXPECT_EQ(strlen(l->name), 40u);
  ASSERT_EQ(VRWLockForRead(l), 0);
  std::string order;  // written under the lock only
  std::thread writer([&] {
    VRWLockForWrite(l);
    order += 'w';
    std::this_thread::sleep_for(milliseconds(20));
    order += 'W';
    VRWLockUnlock(l);
  });
  ASSERT_TRUE(WaitUntil(
      [&] { return Counter(l, &VRWLockRecord::waitingWriters) == 1; }));
  std::thread reader([&] {
    VRWLockForRead(l);
    order += 'r';
    VRWLockUnlock(l);
  });
  ASSERT_TRUE(WaitUntil(
      [&] { return Counter(l, &VRWLockRecord::waitingReaders) == 1; }));
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(Counter(l, &VRWLockRecord::activeReaders), 1);  // only the first
  EXPECT_EQ(VRWLockUnlock(l), 0);
  writer.join();
  reader.join();
  EXPECT_EQ(order, "wWr");
  EXPECT_EQ(Counter(l, &VRWLockRecord::activeReaders) +
                Counter(l, &VRWLockRecord::activeWriters) +
                Counter(l, &VRWLockRecord::waitingReaders) +
                Counter(l, &VRWLockRecord::waitingWriters),
            0);
  VRWLockDestroy(l);
}

TEST(VEventTest, SignalWithoutWaiterIsLostAndPulseFreesCurrentWaiters) {
  VEvent e = nullptr;
  ASSERT_EQ(VEventCreate(&e), 0);
  EXPECT_EQ(VEventSignal(e), 0);
  std::atomic<int> passed{0};
  {
    Threads waiters(3, [&] { passed += VEventWait(e) == 0; });
    ASSERT_TRUE(WaitUntil([&] { return vi::EventWaiterCount(e) == 3; }));
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(passed.load(), 0);  // the earlier signal was not kept
    EXPECT_EQ(VEventSignal(e), 0);
  }
  EXPECT_EQ(passed.load(), 3);
  auto start = Clock::now();
  EXPECT_EQ(VEventTimedWait(e, 30), 0);  // times out, still 0
  EXPECT_GE(MsSince(start), 29);
  VEventDestroy(e);
}

// Each step starts a waiter, which must block (an open gate would let it
// pass at once), then acts on the gate, after which the waiter must pass.
TEST(VGateTest, OpenCloseAndReleaseDecideWhoPasses) {
  VGate g = nullptr;
  ASSERT_EQ(VGateCreate(&g), 0);
  EXPECT_EQ(VGateRelease(g), 0);  // no waiter: no effect, still closed
  std::atomic<int> passed{0};
  auto step = [&](VRC (*act)(VGate)) {
    int before = passed;
    Threads waiter(1, [&] { passed += VGateWait(g) == 0; });
    ASSERT_TRUE(WaitUntil([&] { return vi::GateWaiterCount(g) == 1; }));
    EXPECT_EQ(act(g), 0);
    bool through = WaitUntil([&] { return passed == before + 1; });
    EXPECT_TRUE(through);
    if (!through) VGateOpen(g);  // so that the join below returns
  };
  step(VGateRelease);
  VGateOpen(g);
  for (int i = 0; i < 3; i++) EXPECT_EQ(VGateWait(g), 0);  // passes at once
  VGateClose(g);
  step(VGateOpen);
  VGateRelease(g);  // a release leaves even an open gate closed
  step(VGateRelease);
  // Closed again at once: the thread that was waiting still passes.
  step([](VGate gate) { return VGateOpen(gate) | VGateClose(gate); });
  EXPECT_EQ(passed.load(), 4);
  VGateDestroy(g);
}

// Three producers post 6000 units each: one, two and three at a time.
TEST(VSemaphoreTest, CountsClampsRefusesAndBalancesProducersAndConsumers) {
  VSemaphore s = nullptr;
  EXPECT_EQ(VSemaphoreCreateN(-1, &s), VRC_FAILURE);
  EXPECT_EQ(VSemaphoreCreateN(VSEMAPHORE_MAX_COUNT + 1, &s), VRC_FAILURE);
  ASSERT_EQ(VSemaphoreCreateN(VSEMAPHORE_MAX_COUNT, &s), 0);
  VSemaphorePostN(s, VSEMAPHORE_MAX_COUNT);
  EXPECT_EQ(VSemaphorePost(s), 0);
  EXPECT_EQ(s->state.load() & 0xffffffffu,
            uint64_t{VSEMAPHORE_MAX_COUNT});  // clamped
  VSemaphoreDestroy(s);

  ASSERT_EQ(VSemaphoreCreateN(2, &s), 0);
  EXPECT_EQ(VSemaphoreTry(s), 0);
  EXPECT_EQ(VSemaphoreWait(s), 0);
  EXPECT_EQ(VSemaphoreTry(s), EAGAIN);
  VSemaphorePostN(s, 0);
  VSemaphorePostN(s, -5);
  EXPECT_EQ(VSemaphorePostN(s, 3), 0);
  std::atomic<int> taken{0}, next{1};
  {
    Threads producers(3, [&] {
      for (int i = 0, n = next++; i < 6000; i += n) {
        n == 1 ? VSemaphorePost(s) : VSemaphorePostN(s, n);
      }
    });
    Threads consumers(3, [&] {
      for (int i = 0; i < 6000; i++) {
        taken += vi::SemaphoreTimedWait(s, 5000) == 0;
      }
    });
  }
  EXPECT_EQ(taken.load(), 18000);
  EXPECT_EQ(s->state.load(), 3u);  // the three posted before; no sleeper left
  VSemaphoreDestroy(s);
}

std::atomic<int> g_runs{0};
std::atomic<bool> g_finished{false};
VOneTime *g_control = nullptr;

// Its own call on its control must return at once, not run it again.
void SlowRoutine() {
  g_runs++;
  VOneTimeInitialise(g_control, SlowRoutine);
  std::this_thread::sleep_for(milliseconds(5));
  g_finished = true;
}

TEST(VOneTimeTest, RacingCallersRunTheRoutineOnceAndWaitForIt) {
  static VOneTime controls[16];
  for (VOneTime &control : controls) {
    g_runs = 0;
    g_finished = false;
    g_control = &control;
    std::atomic<int> early{0};
    VGate start = nullptr;
    ASSERT_EQ(VGateCreate(&start), 0);
    {
      Threads threads(6, [&] {
        VGateWait(start);
        EXPECT_EQ(VOneTimeInitialise(&control, SlowRoutine), 0);
        early += !g_finished;
      });
      ASSERT_TRUE(WaitUntil([&] { return vi::GateWaiterCount(start) == 6; }));
      VGateOpen(start);
    }
    EXPECT_EQ(early.load(), 0);
    VOneTimeInitialise(&control, SlowRoutine);  // later calls run nothing
    EXPECT_EQ(g_runs.load(), 1);
    VGateDestroy(start);
  }
}

// Without memory for its lock the routine still runs once, under the
// process-wide lock.
TEST(VOneTimeTest, LockAllocationFailureStillRunsOnce) {
  static VOneTime controls[64];
  int index = 0;
  vtest::SweepAllocations([&](vtest::Fault &f) {
    ASSERT_LT(index, 64);
    VOneTime *control = &controls[index++];
    g_runs = 0;
    f.Arm();
    EXPECT_EQ(VOneTimeInitialise(control, [] { g_runs++; }), 0);
    EXPECT_EQ(control->lock == vantrel::platform::ProcessMutex(), f.Disarm());
    VOneTimeInitialise(control, [] { g_runs++; });
    EXPECT_EQ(g_runs.load(), 1);
  });
}

// Every create returns 12 when its allocations fail and leaves nothing
// behind (the leak checker of the sanitizer build watches the rest).
template <typename Handle>
void SweepCreate(const std::function<VRC(Handle *)> &create,
                 VRC (*destroy)(Handle)) {
  vtest::SweepAllocations([&](vtest::Fault &f) {
    Handle h = nullptr;
    f.Arm();
    VRC rc = create(&h);
    if (f.Disarm()) {
      EXPECT_TRUE(rc == ENOMEM && h == nullptr) << rc;
    } else {
      ASSERT_EQ(rc, 0);
      destroy(h);
    }
  });
}

TEST(VSyncTest, EveryCreateReports12WhenAllocationFails) {
  SweepCreate<VMutex>([](VMutex *h) { return VMutexCreate("m", h); },
                      VMutexDestroy);
  SweepCreate<VCond>(VCondCreate, VCondDestroy);
  SweepCreate<VRWLock>([](VRWLock *h) { return VRWLockCreate("rw", h); },
                       VRWLockDestroy);
  SweepCreate<VEvent>(VEventCreate, VEventDestroy);
  SweepCreate<VGate>(VGateCreate, VGateDestroy);
  SweepCreate<VSemaphore>([](VSemaphore *h) { return VSemaphoreCreateN(1, h); },
                          VSemaphoreDestroy);
}

// The one wait loop under the blocking objects (and, later, queues and
// timers): the predicate is tested under the guard before any sleep and
// after every wake-up, so a wake-up that leaves it false does not end the
// wait; the limit ends it with VRC_TIMEOUT.
TEST(GuardedWaitTest, EndsWhenThePredicateHoldsOrTheLimitPasses) {
  vantrel::platform::Mutex guard;
  vantrel::platform::CondVar cond;
  ASSERT_TRUE(vi::InitGuarded(&guard, &cond));
  int value = 0;
  int tests = 0;
  vantrel::platform::MutexLock(&guard);
  EXPECT_EQ(vi::GuardedWait(&guard, &cond, 0u, [&] { return ++tests > 0; }), 0);
  EXPECT_EQ(tests, 1);  // true at once: no sleep
  auto start = Clock::now();
  EXPECT_EQ(vi::GuardedWait(&guard, &cond, 30u, [&] { return value != 0; }),
            VRC_TIMEOUT);
  EXPECT_GE(MsSince(start), 30);
  std::thread waker([&] {
    for (int next : {0, 0, 1}) {  // two wake-ups that change nothing
      vantrel::platform::MutexLock(&guard);
      value = next;
      vantrel::platform::CondBroadcast(&cond);
      vantrel::platform::MutexUnlock(&guard);
    }
  });
  EXPECT_EQ(vi::GuardedWait(&guard, &cond, VSYNC_INFINITE,
                            [&] { return value != 0; }),
            0);
  EXPECT_EQ(value, 1);
  vantrel::platform::MutexUnlock(&guard);
  waker.join();
  vi::DestroyGuarded(&guard, &cond);
}

TEST(VSyncTest, NullHandlesAreRefusedWithEinval) {
  VMutex m = nullptr;
  VCond c = nullptr;
  ASSERT_EQ(VMutexCreate("m", &m) + VCondCreate(&c), 0);
  const VRC refused[] = {
      VMutexCreate(nullptr, &m),
      VMutexCreate("m", nullptr),
      VMutexLock(nullptr),
      VMutexUnlock(nullptr),
      VMutexTryLock(nullptr),
      VMutexDestroy(nullptr),
      VCondCreate(nullptr),
      VCondSignal(nullptr),
      VCondWait(c, nullptr),
      VCondTimedWait(nullptr, m, 0),
      VRWLockCreate("rw", nullptr),
      VRWLockForRead(nullptr),
      VEventCreate(nullptr),
      VEventTimedWait(nullptr, 0),
      VGateWait(nullptr),
      VSemaphoreCreateN(0, nullptr),
      VSemaphoreWait(nullptr),
      VSemaphorePostN(nullptr, 1),
      VOneTimeInitialise(nullptr, [] {}),
  };
  for (VRC rc : refused) EXPECT_EQ(rc, EINVAL);
  EXPECT_EQ(VMutexIsLocked(nullptr), 0);
  EXPECT_EQ(VMutexIsLocked(m), 0);  // nothing above took the real mutex
  VCondDestroy(c);
  VMutexDestroy(m);
}

}  // namespace
