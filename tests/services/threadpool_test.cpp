#include "services/threadpool.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "services/services_test_support.h"
#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "vantrel/vsync.h"
#include "vantrel/vthread.h"
#include "vantrel/vthreadpool.h"

namespace {

VThreadPool MakePool(int workers) {
  VThreadPool pool = nullptr;
  EXPECT_EQ(VThreadPoolCreate(workers, &pool), 0);
  return pool;
}

int Workers(VThreadPool pool) {
  VMutexLock(pool->poolLock);
  int n = pool->workers;
  VMutexUnlock(pool->poolLock);
  return n;
}

VRC ReturnArgument(void *arg) {
  return static_cast<VRC>(reinterpret_cast<intptr_t>(arg));
}

VRC CountRun(void *arg) {
  static_cast<std::atomic<int> *>(arg)->fetch_add(1);
  return 0;
}

VRC PostDone(VThreadPoolJob, void *done) {
  return VSemaphorePost(static_cast<VSemaphore>(done));
}

// A job without name or callback; kept (job given) or released (null).
VRC Submit(VThreadPool pool, VThreadPoolRoutine routine, void *arg,
           VThreadPoolJob *job) {
  return VThreadPoolJobSubmit(pool, nullptr, routine, arg, nullptr, nullptr,
                              job ? 0 : VTHREADPOOL_JOB_RELEASE, job);
}

// A job that reports that it runs, then holds its worker until released.
struct Blocker {
  VSemaphore started = nullptr;
  VSemaphore release = nullptr;
  Blocker() {
    VSemaphoreCreateN(0, &started);
    VSemaphoreCreateN(0, &release);
  }
  ~Blocker() {
    VSemaphoreDestroy(started);
    VSemaphoreDestroy(release);
  }
  static VRC Run(void *arg) {
    auto *b = static_cast<Blocker *>(arg);
    VSemaphorePost(b->started);
    VSemaphoreWait(b->release);
    return 0;
  }
};

TEST(VThreadPoolTest, ZeroWorkersMeansFiveNamedLibraryThreads) {
  VThreadPool pool = MakePool(0);
  EXPECT_EQ(Workers(pool), 5);
  struct Names {
    std::string record;
    std::string system;
  } names;
  VThreadPoolJob job = nullptr;
  ASSERT_EQ(Submit(
                pool,
                [](void *arg) -> VRC {
                  auto *n = static_cast<Names *>(arg);
                  n->record = VThreadGetName(VThreadGetID());
                  char buffer[16] = {};
                  pthread_getname_np(pthread_self(), buffer, sizeof buffer);
                  n->system = buffer;
                  return 0;
                },
                &names, &job),
            0);
  EXPECT_EQ(VThreadPoolJobExitCode(job), 0);
  EXPECT_EQ(names.record, "Thread Pool Thread");
  EXPECT_EQ(names.system, "Thread Pool Thr");  // the system keeps 15
  VThreadPoolJobCleanup(job);
  EXPECT_EQ(VThreadPoolDestroyWithFlags(pool, 0), 0);
}

// Jobs queued while every worker sleeps wake as many workers as there are
// jobs, although a burst of submissions starts only one wake-up: five jobs
// that wait for each other all run at once.
TEST(VThreadPoolTest, QueuedJobsWakeEverySleepingWorkerTheyNeed) {
  VThreadPool pool = MakePool(5);
  auto sleeping = [pool] {
    return static_cast<uint32_t>(pool->sleepers.load());
  };
  std::atomic<int> arrived{0};
  for (int round = 0; round < 3; round++) {
    ASSERT_TRUE(vtest::YieldUntil([&] { return sleeping() == 5u; }));
    arrived = 0;
    std::vector<VThreadPoolJob> jobs(5);
    for (auto &job : jobs) {
      Submit(
          pool,
          [](void *arg) -> VRC {
            auto *count = static_cast<std::atomic<int> *>(arg);
            count->fetch_add(1);
            return vtest::YieldUntil([count] { return count->load() == 5; },
                                     std::chrono::seconds(10))
                       ? 0
                       : 1;
          },
          &arrived, &job);
    }
    for (auto &job : jobs) {
      EXPECT_EQ(VThreadPoolJobExitCode(job), 0);
      VThreadPoolJobCleanup(job);
    }
  }
  VThreadPoolDestroyWithFlags(pool, 0);
}

TEST(VThreadPoolTest, JobsRunInSubmissionOrderWhateverTheirPriorityBits) {
  VThreadPool pool = MakePool(1);
  Blocker blocker;
  Submit(pool, Blocker::Run, &blocker, nullptr);
  VSemaphoreWait(blocker.started);
  std::mutex lock;
  std::vector<int> order;
  struct Step {
    std::mutex *lock;
    std::vector<int> *order;
    int index;
  };
  std::vector<Step> steps;
  for (int i = 0; i < 32; i++) steps.push_back({&lock, &order, i});
  VSemaphore done = nullptr;
  VSemaphoreCreateN(0, &done);
  for (int i = 0; i < 32; i++) {
    // Flags 31..0: every priority from 15 to -16 in the low five bits (and
    // with bits 2 or 16 set, a job the pool releases itself).
    ASSERT_EQ(
        VThreadPoolJobSubmit(
            pool, "step",
            [](void *arg) -> VRC {
              auto *s = static_cast<Step *>(arg);
              std::lock_guard<std::mutex> hold(*s->lock);
              s->order->push_back(s->index);
              return 0;
            },
            &steps[i], PostDone, done,
            static_cast<unsigned>(31 - i) | VTHREADPOOL_JOB_RELEASE, nullptr),
        0);
  }
  VSemaphorePost(blocker.release);
  for (int i = 0; i < 32; i++) VSemaphoreWait(done);
  VSemaphoreDestroy(done);
  std::vector<int> expected;
  for (int i = 0; i < 32; i++) expected.push_back(i);
  EXPECT_EQ(order, expected);
  VThreadPoolDestroyWithFlags(pool, 0);
}

// Kept jobs answer for their exit code any number of times; the callback
// has run (after status 2) by the time a waiter is released.
TEST(VThreadPoolTest, KeptJobsReportExitCodesAfterTheirCallback) {
  VThreadPool pool = MakePool(2);
  struct Seen {
    std::atomic<int> calls{0};
    std::atomic<int> statusInCallback{-9};
  } seen;
  VThreadPoolJob job = nullptr;
  ASSERT_EQ(VThreadPoolJobSubmit(
                pool, "seven", ReturnArgument, reinterpret_cast<void *>(7),
                [](VThreadPoolJob j, void *arg) -> VRC {
                  auto *s = static_cast<Seen *>(arg);
                  s->statusInCallback = VThreadPoolJobGetStatus(j);
                  s->calls++;
                  return 99;
                },
                &seen, 0, &job),
            0);
  EXPECT_EQ(VThreadPoolJobExitCode(job), 7);
  EXPECT_EQ(seen.calls.load(), 1);
  EXPECT_EQ(seen.statusInCallback.load(), VTHREADPOOL_JOB_FINISHED);
  EXPECT_EQ(VThreadPoolJobExitCode(job), 7);
  EXPECT_LE(job->submitted.tv_sec * 1000000 + job->submitted.tv_usec,
            job->started.tv_sec * 1000000 + job->started.tv_usec);
  EXPECT_LE(job->started.tv_sec * 1000000 + job->started.tv_usec,
            job->finished.tv_sec * 1000000 + job->finished.tv_usec);
  EXPECT_EQ(VThreadPoolJobCleanup(job), 0);
  VThreadPoolDestroyWithFlags(pool, 0);
}

// Jobs the pool releases are gone after running (LeakSanitizer would see
// them otherwise); their callbacks still run, and their records serve
// later jobs.
TEST(VThreadPoolTest, ReleasedJobsAreFreedByThePool) {
  VThreadPool pool = MakePool(2);
  std::atomic<int> runs{0};
  VSemaphore done = nullptr;
  VSemaphoreCreateN(0, &done);
  for (unsigned flags : {2u, 16u, 32u, 50u, 34u}) {
    ASSERT_EQ(VThreadPoolJobSubmit(pool, "released", CountRun, &runs, PostDone,
                                   done, flags, nullptr),
              0);
  }
  for (int i = 0; i < 5; i++) VSemaphoreWait(done);
  EXPECT_EQ(runs.load(), 5);
  // Their records are kept for the next jobs (and freed with the pool).
  ASSERT_TRUE(vtest::YieldUntil([pool] { return pool->spares.Kept() > 0; }));
  {
    vtest::AllocCounter counter;
    ASSERT_EQ(Submit(pool, CountRun, &runs, nullptr), 0);
    EXPECT_EQ(counter.count(), 0u);
  }
  VThreadPoolDestroyWithFlags(pool, 0);
  EXPECT_EQ(runs.load(), 6);
  VSemaphoreDestroy(done);
}

// One worker busy with a job, two more queued: destroying at once cancels
// the queued jobs after the running one, an ordinary destroy runs them all.
TEST(VThreadPoolTest, DestroyRunsOrCancelsQueuedJobsAfterTheRunningOne) {
  for (int flags : {VTHREADPOOL_DESTROY_NOW, 0}) {
    SCOPED_TRACE(flags);
    VThreadPool pool = MakePool(1);
    Blocker blocker;
    VThreadPoolJob running = nullptr, queued[2] = {};
    Submit(pool, Blocker::Run, &blocker, &running);
    VSemaphoreWait(blocker.started);
    for (auto &job : queued) {
      Submit(pool, ReturnArgument, reinterpret_cast<void *>(5), &job);
    }
    std::thread destroyer(
        [&] { EXPECT_EQ(VThreadPoolDestroyWithFlags(pool, flags), 0); });
    // The stop order must be queued (behind or ahead of the two jobs) before
    // the running job ends; otherwise the worker would rightly take a queued
    // job first.
    ASSERT_TRUE(vtest::YieldUntil(
        [&] { return vantrel::internal::QueuedEntries(pool) == 3; }));
    VThreadPoolJob late = reinterpret_cast<VThreadPoolJob>(&blocker);
    EXPECT_EQ(VThreadPoolJobSubmit(pool, "late", ReturnArgument, nullptr,
                                   nullptr, nullptr, 0, &late),
              VRC_FAILURE);
    EXPECT_EQ(late, nullptr);
    VSemaphorePost(blocker.release);
    destroyer.join();
    EXPECT_EQ(VThreadPoolJobExitCode(running), 0);
    EXPECT_EQ(VThreadPoolJobGetStatus(running), VTHREADPOOL_JOB_FINISHED);
    bool now = (flags & VTHREADPOOL_DESTROY_NOW) != 0;
    for (VThreadPoolJob job : queued) {
      EXPECT_EQ(VThreadPoolJobExitCode(job), now ? VRC_FAILURE : 5);
      EXPECT_EQ(VThreadPoolJobGetStatus(job),
                now ? VTHREADPOOL_JOB_CANCELLED : VTHREADPOOL_JOB_FINISHED);
      VThreadPoolJobCleanup(job);
    }
    VThreadPoolJobCleanup(running);
  }
}

TEST(VThreadPoolTest, DecreaseStopsOneWorkerAndIncreaseAddsOne) {
  VThreadPool pool = MakePool(2);
  EXPECT_EQ(VThreadPoolDecrease(pool), 0);
  EXPECT_EQ(Workers(pool), 1);
  EXPECT_EQ(VThreadPoolIncrease(pool), 0);
  EXPECT_EQ(Workers(pool), 2);
  EXPECT_EQ(VThreadPoolDecrease(pool), 0);
  EXPECT_EQ(VThreadPoolDecrease(pool), 0);
  EXPECT_EQ(Workers(pool), 0);
  EXPECT_EQ(VThreadPoolDecrease(pool), 0);  // nothing left to stop
  // Jobs queued with no worker wait for the next one.
  std::atomic<int> runs{0};
  VThreadPoolJob job = nullptr;
  Submit(pool, CountRun, &runs, &job);
  EXPECT_EQ(VThreadPoolJobGetStatus(job), VTHREADPOOL_JOB_QUEUED);
  EXPECT_EQ(VThreadPoolIncrease(pool), 0);
  EXPECT_EQ(VThreadPoolJobExitCode(job), 0);
  VThreadPoolJobCleanup(job);
  EXPECT_EQ(VThreadPoolGetStatistic(pool, 0, nullptr), 0);
  VThreadPoolDestroyWithFlags(pool, 0);
}

// Many small jobs while another thread keeps adding and removing workers:
// every job runs exactly once.
TEST(VThreadPoolTest, EveryJobRunsOnceWhileWorkersComeAndGo) {
  const int jobs = vtest::SoakSize(100000, 4);
  VThreadPool pool = MakePool(2);
  std::atomic<int> runs{0};
  std::atomic<bool> submitting{true};
  std::thread resizer([&] {
    for (int i = 0; submitting.load(); i++) {
      if (i % 2 == 0) {
        EXPECT_EQ(VThreadPoolIncrease(pool), 0);
      } else {
        EXPECT_EQ(VThreadPoolDecrease(pool), 0);
      }
    }
  });
  std::thread second([&] {
    for (int i = 0; i < jobs / 2; i++) {
      ASSERT_EQ(Submit(pool, CountRun, &runs, nullptr), 0);
    }
  });
  for (int i = jobs / 2; i < jobs; i++) {
    ASSERT_EQ(Submit(pool, CountRun, &runs, nullptr), 0);
  }
  second.join();
  submitting = false;
  resizer.join();
  EXPECT_GE(Workers(pool), 2);
  EXPECT_EQ(VThreadPoolDestroyWithFlags(pool, 0), 0);
  EXPECT_EQ(runs.load(), jobs);
}

// Destroyed at once while submitters keep submitting: every accepted job
// either ran or was cancelled, never both and never neither.  A job holds
// one worker until every submitter has been refused, so that the pool
// outlives their last call.
TEST(VThreadPoolTest, CancellingDestroyAccountsForEveryAcceptedJob) {
  for (int round = 0; round < 10; round++) {
    VThreadPool pool = MakePool(2);
    Blocker blocker;
    VThreadPoolJob holder = nullptr;
    Submit(pool, Blocker::Run, &blocker, &holder);
    VSemaphoreWait(blocker.started);
    std::atomic<int> runs{0}, accepted{0};
    std::vector<std::vector<VThreadPoolJob>> kept(2);
    std::vector<std::thread> submitters;
    for (int s = 0; s < 2; s++) {
      submitters.emplace_back([&, s] {
        for (;;) {
          VThreadPoolJob job = nullptr;
          VRC rc = Submit(pool, CountRun, &runs, &job);
          if (rc == VRC_FAILURE) return;
          ASSERT_EQ(rc, 0);
          accepted++;
          kept[s].push_back(job);
        }
      });
    }
    ASSERT_TRUE(vtest::YieldUntil([&] { return accepted.load() > 100; }));
    std::thread destroyer([pool] {
      EXPECT_EQ(VThreadPoolDestroyWithFlags(pool, VTHREADPOOL_DESTROY_NOW), 0);
    });
    for (auto &t : submitters) t.join();
    VSemaphorePost(blocker.release);
    destroyer.join();
    int finished = 0, cancelled = 0;
    for (auto &list : kept) {
      for (VThreadPoolJob job : list) {
        VRC rc = VThreadPoolJobExitCode(job);
        int status = VThreadPoolJobGetStatus(job);
        if (status == VTHREADPOOL_JOB_FINISHED && rc == 0) finished++;
        if (status == VTHREADPOOL_JOB_CANCELLED && rc == VRC_FAILURE) {
          cancelled++;
        }
        VThreadPoolJobCleanup(job);
      }
    }
    EXPECT_EQ(finished + cancelled, accepted.load());
    EXPECT_EQ(finished, runs.load());
    EXPECT_EQ(VThreadPoolJobExitCode(holder), 0);
    VThreadPoolJobCleanup(holder);
  }
}

TEST(VThreadPoolTest, AllocationFailuresLeaveNothingBehind) {
  vtest::SweepAllocations([](vtest::Fault &fault) {
    VThreadPool pool = nullptr;
    fault.Arm();
    VRC rc = VThreadPoolCreate(2, &pool);
    bool failed = fault.Disarm();
    // The thread manager's first start-up has a failure it survives.
    if (rc != 0) {
      EXPECT_TRUE(failed);
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(pool, nullptr);
      return;
    }
    VThreadPoolDestroyWithFlags(pool, 0);
  });
  VThreadPool pool = MakePool(1);
  std::atomic<int> runs{0};
  {
    // A job without a name is one block: record and semaphore.
    VThreadPoolJob job = nullptr;
    vtest::AllocCounter counter;
    Submit(pool, CountRun, &runs, &job);
    EXPECT_EQ(counter.count(), 1u);
    VThreadPoolJobCleanup(job);
  }
  for (unsigned flags : {0u, VTHREADPOOL_JOB_RELEASE}) {
    int accepted = 0;
    vtest::SweepAllocations([&](vtest::Fault &fault) {
      VThreadPoolJob job = reinterpret_cast<VThreadPoolJob>(&runs);
      fault.Arm();
      VRC rc = VThreadPoolJobSubmit(pool, "named", CountRun, &runs, nullptr,
                                    nullptr, flags, &job);
      if (fault.Disarm()) {
        EXPECT_EQ(rc, ENOMEM);
        EXPECT_EQ(job, nullptr);
        return;
      }
      ASSERT_EQ(rc, 0);
      accepted++;
      if (flags == 0) {
        VThreadPoolJobExitCode(job);
        VThreadPoolJobCleanup(job);
      }
    });
    EXPECT_GE(accepted, 1);
  }
  vtest::SweepAllocations([pool](vtest::Fault &fault) {
    fault.Arm();
    VRC rc = VThreadPoolIncrease(pool);
    bool failed = fault.Disarm();
    int workers = Workers(pool);
    if (failed) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(workers, 1);
      if (rc == 0) VThreadPoolDecrease(pool);
      return;
    }
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(workers, 2);
    VThreadPoolDecrease(pool);
  });
  VThreadPoolDestroyWithFlags(pool, 0);
  EXPECT_GE(runs.load(), 2);
}

// The third worker cannot be started: the two already running are
// stopped and the pool is undone.
TEST(VThreadPoolTest, AWorkerThatCannotStartUndoesThePool) {
  VThreadPool pool = reinterpret_cast<VThreadPool>(&pool);
  {
    vtest::OsFault fault("pthread_create", 3, EAGAIN);
    EXPECT_EQ(VThreadPoolCreate(5, &pool), VRC_FAILURE);
  }
  VThreadPool again = nullptr;
  ASSERT_EQ(VThreadPoolCreate(1, &again), 0);
  EXPECT_EQ(VThreadPoolDestroyWithFlags(again, VTHREADPOOL_DESTROY_NOW), 0);
}

}  // namespace
