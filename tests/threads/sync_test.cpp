#include "platform/sync.h"

#include <dirent.h>
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
#include "vantrel/vsync.h"

namespace {

namespace vi = vantrel::internal;
using Clock = std::chrono::steady_clock;

int ThreadCount() {
  int n = 0;
  DIR *dir = opendir("/proc/self/task");
  while (dirent *entry = readdir(dir)) n += entry->d_name[0] != '.';
  closedir(dir);
  return n;
}

// Polls until pred holds; false after five seconds.
bool WaitUntil(const std::function<bool()> &pred) {
  auto end = Clock::now() + std::chrono::seconds(5);
  while (!pred()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Starts n threads running body.
std::vector<std::thread> Spawn(int n, const std::function<void()> &body) {
  std::vector<std::thread> threads;
  for (int i = 0; i < n; i++) threads.emplace_back(body);
  return threads;
}

void JoinAll(std::vector<std::thread> &threads) {
  for (auto &t : threads) t.join();
}

long ElapsedMs(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                               start)
      .count();
}

// Every test must leave no thread behind.  A joined thread may linger in
// the task list for a moment after it has been joined.
class VSyncTest : public testing::Test {
 protected:
  void SetUp() override {
    // The thread sanitizer's runtime adds a helper thread when the first
    // thread starts; let that happen before counting.
    static bool warmed = [] {
      std::thread([] {}).join();
      return true;
    }();
    (void)warmed;
    threads_ = ThreadCount();
  }
  void TearDown() override {
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads_; }))
        << ThreadCount() << " threads, " << threads_ << " before";
  }
  int threads_ = 0;
};

using VMutexTest = VSyncTest;
using VRWLockTest = VSyncTest;
using VEventTest = VSyncTest;
using VGateTest = VSyncTest;
using VSemaphoreTest = VSyncTest;
using VOneTimeTest = VSyncTest;

VRC TryLockElsewhere(VMutex m) {
  VRC rc = 1;
  std::thread([&] {
    rc = VMutexTryLock(m);
    if (rc == 0) VMutexUnlock(m);
  }).join();
  return rc;
}

TEST_F(VMutexTest, NameIsCutAndOwnerFollowsLockAndFirstUnlock) {
  std::string longName(60, 'n');
  VMutex m = nullptr;
  ASSERT_EQ(VMutexCreate(longName.c_str(), &m), 0);
  EXPECT_EQ(std::string(m->name), longName.substr(0, 40));
  EXPECT_EQ(m->name[40], '\0');
  EXPECT_EQ(VMutexIsLocked(m), 0);

  EXPECT_EQ(VMutexLock(m), 0);
  EXPECT_EQ(m->owner.load(), static_cast<uint32_t>(gettid()));
  EXPECT_EQ(VMutexTryLock(m), 0);  // re-entrant for the owner
  EXPECT_EQ(TryLockElsewhere(m), VRC_MUTEX_BUSY);
  EXPECT_EQ(VMutexUnlock(m), 0);
  // The first unlock clears the owner though one level is still held.
  EXPECT_EQ(VMutexIsLocked(m), 0);
  EXPECT_EQ(TryLockElsewhere(m), VRC_MUTEX_BUSY);
  EXPECT_EQ(VMutexUnlock(m), 0);
  EXPECT_EQ(TryLockElsewhere(m), 0);
  EXPECT_EQ(VMutexDestroy(m), 0);
}

TEST_F(VMutexTest, ExcludesUnderContention) {
  VMutex m = nullptr;
  ASSERT_EQ(VMutexCreate("counter", &m), 0);
  long counter = 0;  // plain: the sanitizer build checks the exclusion
  auto threads = Spawn(4, [&] {
    for (int i = 0; i < 20000; i++) {
      VMutexLock(m);
      if (i % 7 == 0) VMutexLock(m);  // nested holds count too
      counter++;
      if (i % 7 == 0) VMutexUnlock(m);
      VMutexUnlock(m);
    }
  });
  JoinAll(threads);
  EXPECT_EQ(counter, 80000);
  VMutexDestroy(m);
}

class VCondTest : public VSyncTest {
 protected:
  void SetUp() override {
    VSyncTest::SetUp();
    ASSERT_EQ(VMutexCreate("cond", &m_), 0);
    ASSERT_EQ(VCondCreate(&c_), 0);
  }
  void TearDown() override {
    VCondDestroy(c_);
    VMutexDestroy(m_);
    VSyncTest::TearDown();
  }
  int32_t ToLeave() {
    vantrel::platform::MutexLock(&c_->guard);
    int32_t n = c_->toLeave;
    vantrel::platform::MutexUnlock(&c_->guard);
    return n;
  }
  VMutex m_ = nullptr;
  VCond c_ = nullptr;
};

TEST_F(VCondTest, TimedWaitTimesOutWithTheMutexHeldAgain) {
  VMutexLock(m_);
  EXPECT_EQ(VCondSignal(c_), 0);  // nobody waits: not remembered
  auto start = Clock::now();
  EXPECT_EQ(VCondTimedWait(c_, m_, 40), VRC_TIMEOUT);
  EXPECT_GE(ElapsedMs(start), 39);
  EXPECT_EQ(VCondTimedWait(c_, m_, 0), VRC_TIMEOUT);
  EXPECT_EQ(VMutexIsLocked(m_), 1);
  EXPECT_EQ(m_->owner.load(), static_cast<uint32_t>(gettid()));
  EXPECT_EQ(TryLockElsewhere(m_), VRC_MUTEX_BUSY);
  EXPECT_EQ(vi::CondWaiterCount(c_), 0);
  VMutexUnlock(m_);
}

TEST_F(VCondTest, SignalReturnsOnlyAfterEveryWaiterLeft) {
  std::atomic<int> woken{0};
  auto waiters = Spawn(3, [&] {
    VMutexLock(m_);
    if (VCondWait(c_, m_) == 0 && VMutexIsLocked(m_)) woken++;
    VMutexUnlock(m_);
  });
  ASSERT_TRUE(WaitUntil([&] { return vi::CondWaiterCount(c_) == 3; }));
  VMutexLock(m_);
  EXPECT_EQ(VCondSignal(c_), 0);
  // All three have left their wait but queue for the mutex we still hold.
  EXPECT_EQ(ToLeave(), 0);
  EXPECT_EQ(vi::CondWaiterCount(c_), 0);
  EXPECT_EQ(woken.load(), 0);
  VMutexUnlock(m_);
  JoinAll(waiters);
  EXPECT_EQ(woken.load(), 3);
}

// A producer/consumer queue: a lost wake-up between releasing the mutex
// and starting the wait would hang a consumer (caught by the time limits).
TEST_F(VCondTest, QueueHandsOverEveryItem) {
  constexpr int kItems = 3000;
  int queued = 0, consumed = 0, timeouts = 0;
  bool done = false;
  auto consumers = Spawn(3, [&] {
    VMutexLock(m_);
    while (true) {
      while (queued == 0 && !done) {
        if (VCondTimedWait(c_, m_, 2000) == VRC_TIMEOUT) timeouts++;
      }
      if (queued == 0) break;
      queued--;
      consumed++;
    }
    VMutexUnlock(m_);
  });
  for (int i = 0; i < kItems; i++) {
    VMutexLock(m_);
    queued++;
    VCondSignal(c_);
    VMutexUnlock(m_);
  }
  VMutexLock(m_);
  done = true;
  VCondSignal(c_);
  VMutexUnlock(m_);
  JoinAll(consumers);
  EXPECT_EQ(consumed, kItems);
  EXPECT_EQ(timeouts, 0);
}

struct RWProbe {
  int32_t activeWriters, waitingWriters, activeReaders, waitingReaders;
};

RWProbe Probe(VRWLock l) {
  VMutexLock(l->lock);
  RWProbe p{l->activeWriters, l->waitingWriters, l->activeReaders,
            l->waitingReaders};
  VMutexUnlock(l->lock);
  return p;
}

TEST_F(VRWLockTest, WaitingWriterHoldsBackNewReaders) {
  VRWLock l = nullptr;
  ASSERT_EQ(VRWLockCreate(std::string(50, 'x').c_str(), &l), 0);
  EXPECT_EQ(strlen(l->name), 40u);
  EXPECT_STREQ(l->lock->name, "RWLockAnon");
  ASSERT_EQ(VRWLockForRead(l), 0);

  std::atomic<int> step{0}, writerIn{0}, writerOut{0}, readerIn{0};
  std::thread writer([&] {
    VRWLockForWrite(l);
    writerIn = ++step;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writerOut = ++step;
    VRWLockUnlock(l);
  });
  ASSERT_TRUE(WaitUntil([&] { return Probe(l).waitingWriters == 1; }));
  std::thread reader([&] {
    VRWLockForRead(l);
    readerIn = ++step;
    VRWLockUnlock(l);
  });
  ASSERT_TRUE(WaitUntil([&] { return Probe(l).waitingReaders == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Probe(l).activeReaders, 1);  // still only the first reader
  EXPECT_EQ(VRWLockUnlock(l), 0);
  writer.join();
  reader.join();
  EXPECT_EQ(writerIn.load(), 1);
  EXPECT_EQ(writerOut.load(), 2);
  EXPECT_EQ(readerIn.load(), 3);
  RWProbe end = Probe(l);
  EXPECT_EQ(end.activeReaders + end.activeWriters + end.waitingReaders +
                end.waitingWriters,
            0);
  VRWLockDestroy(l);
}

TEST_F(VEventTest, SignalWithoutWaiterIsLostAndPulseFreesCurrentWaiters) {
  VEvent e = nullptr;
  ASSERT_EQ(VEventCreate(&e), 0);
  EXPECT_EQ(VEventSignal(e), 0);
  std::atomic<int> passed{0};
  auto waiters = Spawn(3, [&] {
    VEventWait(e);
    passed++;
  });
  ASSERT_TRUE(WaitUntil([&] { return vi::EventWaiterCount(e) == 3; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(passed.load(), 0);  // the earlier signal was not kept
  EXPECT_EQ(VEventSignal(e), 0);
  JoinAll(waiters);
  EXPECT_EQ(passed.load(), 3);

  auto start = Clock::now();
  EXPECT_EQ(VEventTimedWait(e, 30), 0);  // times out, still 0
  EXPECT_GE(ElapsedMs(start), 29);
  VEventDestroy(e);
}

TEST_F(VGateTest, OpenCloseAndReleaseDecideWhoPasses) {
  VGate g = nullptr;
  ASSERT_EQ(VGateCreate(&g), 0);
  EXPECT_EQ(VGateRelease(g), 0);  // no waiter: no effect, still closed
  std::atomic<int> passed{0};
  auto waiter = [&] {
    auto threads = Spawn(1, [&] {
      VGateWait(g);
      passed++;
    });
    EXPECT_TRUE(WaitUntil([&] { return vi::GateWaiterCount(g) == 1; }));
    return threads;
  };
  auto first = waiter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(passed.load(), 0);
  VGateRelease(g);
  JoinAll(first);
  EXPECT_EQ(passed.load(), 1);

  VGateOpen(g);
  for (int i = 0; i < 3; i++) EXPECT_EQ(VGateWait(g), 0);  // passes at once
  VGateClose(g);
  auto second = waiter();
  VGateOpen(g);
  JoinAll(second);
  VGateRelease(g);  // a release leaves even an open gate closed
  auto third = waiter();
  EXPECT_EQ(passed.load(), 2);
  VGateRelease(g);
  JoinAll(third);
  EXPECT_EQ(passed.load(), 3);
  VGateDestroy(g);
}

TEST_F(VSemaphoreTest, CountsClampsAndRefusesWithoutWaiting) {
  VSemaphore s = nullptr;
  EXPECT_EQ(VSemaphoreCreateN(-1, &s), VRC_FAILURE);
  EXPECT_EQ(VSemaphoreCreateN(VSEMAPHORE_MAX_COUNT + 1, &s), VRC_FAILURE);
  ASSERT_EQ(VSemaphoreCreateN(2, &s), 0);
  EXPECT_EQ(VSemaphoreTry(s), 0);
  EXPECT_EQ(VSemaphoreWait(s), 0);
  auto start = Clock::now();
  EXPECT_EQ(VSemaphoreTry(s), EAGAIN);
  EXPECT_EQ(vi::SemaphoreTimedWait(s, 30), VRC_TIMEOUT);
  EXPECT_GE(ElapsedMs(start), 29);
  VSemaphorePostN(s, 0);
  VSemaphorePostN(s, -5);
  EXPECT_EQ(VSemaphoreTry(s), EAGAIN);
  EXPECT_EQ(VSemaphorePostN(s, 3), 0);
  EXPECT_EQ(s->count, 3);
  VSemaphorePostN(s, VSEMAPHORE_MAX_COUNT);
  EXPECT_EQ(VSemaphorePost(s), 0);
  EXPECT_EQ(s->count, VSEMAPHORE_MAX_COUNT);
  VSemaphoreDestroy(s);
}

TEST_F(VSemaphoreTest, ProducersAndConsumersBalance) {
  VSemaphore s = nullptr;
  ASSERT_EQ(VSemaphoreCreateN(0, &s), 0);
  constexpr int kPerProducer = 6000;
  std::atomic<int> taken{0};
  std::atomic<int> next{0};
  auto producers = Spawn(3, [&] {
    int t = next++;
    for (int i = 0; i < kPerProducer; i += 1 + t) {
      t == 0 ? VSemaphorePost(s) : VSemaphorePostN(s, 1 + t);
    }
  });
  auto consumers = Spawn(3, [&] {
    for (int i = 0; i < kPerProducer; i++) {
      if (vi::SemaphoreTimedWait(s, 5000) == 0) taken++;
    }
  });
  JoinAll(producers);
  JoinAll(consumers);
  EXPECT_EQ(taken.load(), 3 * kPerProducer);
  EXPECT_EQ(VSemaphoreTry(s), EAGAIN);
  VSemaphoreDestroy(s);
}

std::atomic<int> g_runs{0};
std::atomic<bool> g_finished{false};
VOneTime g_controls[16];

void SlowRoutine() {
  g_runs++;
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  g_finished = true;
}

TEST_F(VOneTimeTest, RacingCallersRunTheRoutineOnceAndWaitForIt) {
  for (VOneTime &control : g_controls) {
    g_runs = 0;
    g_finished = false;
    std::atomic<int> early{0};
    VGate start = nullptr;
    ASSERT_EQ(VGateCreate(&start), 0);
    auto threads = Spawn(6, [&] {
      VGateWait(start);
      EXPECT_EQ(VOneTimeInitialise(&control, SlowRoutine), 0);
      if (!g_finished) early++;
    });
    ASSERT_TRUE(WaitUntil([&] { return vi::GateWaiterCount(start) == 6; }));
    VGateOpen(start);
    JoinAll(threads);
    EXPECT_EQ(g_runs.load(), 1);
    EXPECT_EQ(early.load(), 0);
    EXPECT_EQ(control.done, 1);
    VOneTimeInitialise(&control, SlowRoutine);  // later calls run nothing
    EXPECT_EQ(g_runs.load(), 1);
    VGateDestroy(start);
  }
}

VOneTime g_nested = VONETIME_INIT;
int g_nestedRuns = 0;

void NestedRoutine() {
  g_nestedRuns++;
  VOneTimeInitialise(&g_nested, NestedRoutine);  // must not recurse
}

TEST_F(VOneTimeTest, CallFromTheRoutineOnItsOwnControlReturns) {
  VOneTimeInitialise(&g_nested, NestedRoutine);
  EXPECT_EQ(g_nestedRuns, 1);
}

VOneTime g_sweepControls[64];
int g_sweepRuns = 0;
void CountRun() { g_sweepRuns++; }

TEST_F(VOneTimeTest, LockAllocationFailureStillRunsOnce) {
  int index = 0;
  vtest::SweepAllocations([&](vtest::Fault &f) {
    ASSERT_LT(index, 64);
    VOneTime *control = &g_sweepControls[index++];
    g_sweepRuns = 0;
    f.Arm();
    EXPECT_EQ(VOneTimeInitialise(control, CountRun), 0);
    bool failed = f.Disarm();
    EXPECT_EQ(control->lock == vantrel::platform::ProcessMutex(), failed);
    VOneTimeInitialise(control, CountRun);
    EXPECT_EQ(g_sweepRuns, 1);
  });
}

// Every create returns 12 when its allocations fail and leaves nothing
// behind (the leak checker of the sanitizer build watches the rest).
template <typename Handle>
void SweepCreate(const std::function<VRC(Handle *)> &create,
                 const std::function<void(Handle)> &destroy) {
  vtest::SweepAllocations([&](vtest::Fault &f) {
    Handle h = nullptr;
    f.Arm();
    VRC rc = create(&h);
    if (f.Disarm()) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(h, nullptr);
    } else {
      ASSERT_EQ(rc, 0);
      destroy(h);
    }
  });
}

TEST_F(VSyncTest, EveryCreateReports12WhenAllocationFails) {
  SweepCreate<VMutex>([](VMutex *h) { return VMutexCreate("m", h); },
                      [](VMutex h) { VMutexDestroy(h); });
  SweepCreate<VCond>(VCondCreate, [](VCond h) { VCondDestroy(h); });
  SweepCreate<VRWLock>([](VRWLock *h) { return VRWLockCreate("rw", h); },
                       [](VRWLock h) { VRWLockDestroy(h); });
  SweepCreate<VEvent>(VEventCreate, [](VEvent h) { VEventDestroy(h); });
  SweepCreate<VGate>(VGateCreate, [](VGate h) { VGateDestroy(h); });
  SweepCreate<VSemaphore>([](VSemaphore *h) { return VSemaphoreCreateN(1, h); },
                          [](VSemaphore h) { VSemaphoreDestroy(h); });
}

}  // namespace
