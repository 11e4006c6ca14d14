// VThreadPool: workers take job records from two lists under the queue
// lock.  Stop orders travel the same way: a deferred one queues behind the
// jobs (normal list), an immediate one overtakes them (urgent list), and
// each is acknowledged by the worker that takes it before the stopper goes
// on.
//
// A worker that finds nothing looks again for a few microseconds, then
// sleeps.  Whoever queues an entry wakes a sleeper only when no wake-up is
// already on its way; the woken worker, like every worker that takes an
// entry, passes the wake on while entries remain.  A burst of submissions
// thus costs one wake-up, not one per job.
#include "services/threadpool.h"

#include <errno.h>
#include <stddef.h>

#include <new>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "threads/sync_internal.h"
#include "vantrel/vlog.h"
#include "vantrel/vthread.h"

namespace vantrel::internal {
namespace {

constexpr int kDefaultWorkers = 5;
constexpr const char *kWorkerName = "Thread Pool Thread";
constexpr int kJobLogSet = VLOG_SET_DEBUG;
// An idle worker looks for the next entry this many times (a microsecond
// or two) before it sleeps: a stream of short jobs then runs without a
// sleep and a wake-up per job.  Longer spins only take the processor from
// the submitter.
constexpr int kIdleSpins = 50;
// Enough spare job records for a worker to hand back while the submitter
// takes them, small enough to keep for the pool's life (about 30 KiB).
constexpr int kMaxSpares = 256;

using JobList = VThreadPoolJobList;

void Append(JobList *list, VThreadPoolJobRecord *job) {
  job->next = nullptr;
  if (list->tail != nullptr) {
    list->tail->next = job;
  } else {
    list->head = job;
  }
  list->tail = job;
}

VThreadPoolJobRecord *PopFront(JobList *list) {
  VThreadPoolJobRecord *job = list->head;
  if (job != nullptr) {
    list->head = job->next;
    if (list->head == nullptr) list->tail = nullptr;
  }
  return job;
}

// Under the queue lock: chooses a sleeping worker to wake when entries are
// waiting, none is awake to see them come and no wake-up is on its way.
// The caller posts `wake` after unlocking.
bool ChooseSleeper(VThreadPoolRecord *pool) {
  if (pool->idle == 0 || pool->wakePending ||
      pool->queued.load(std::memory_order_relaxed) == 0) {
    return false;
  }
  pool->idle--;
  pool->wakePending = true;
  return true;
}

// Queues an entry, then unlocks the queue lock the caller holds and wakes
// a worker when one was chosen.
void AppendAndUnlock(VThreadPoolRecord *pool, JobList *list,
                     VThreadPoolJobRecord *job) {
  Append(list, job);
  pool->queued.store(pool->queued.load(std::memory_order_relaxed) + 1,
                     std::memory_order_relaxed);
  bool wake = ChooseSleeper(pool);
  MutexRelease(pool->queueLock);
  if (wake) VSemaphorePost(pool->wake);
}

void Enqueue(VThreadPoolRecord *pool, JobList *list,
             VThreadPoolJobRecord *job) {
  MutexAcquire(pool->queueLock);
  AppendAndUnlock(pool, list, job);
}

// Under the queue lock: the next entry, urgent first, or null.
VThreadPoolJobRecord *Dequeue(VThreadPoolRecord *pool) {
  VThreadPoolJobRecord *job = PopFront(&pool->urgent);
  if (job == nullptr) job = PopFront(&pool->normal);
  if (job != nullptr) {
    pool->queued.store(pool->queued.load(std::memory_order_relaxed) - 1,
                       std::memory_order_relaxed);
  }
  return job;
}

// Under the queue lock: keeps a released job's record for a later
// submission; false when enough are kept already.
bool KeepSpare(VThreadPoolRecord *pool, VThreadPoolJobRecord *record) {
  if (pool->spareCount >= kMaxSpares) return false;
  record->next = pool->spares;
  pool->spares = record;
  pool->spareCount++;
  return true;
}

// Under the queue lock: a kept record, or null.
VThreadPoolJobRecord *TakeSpare(VThreadPoolRecord *pool) {
  VThreadPoolJobRecord *record = pool->spares;
  if (record != nullptr) {
    pool->spares = record->next;
    pool->spareCount--;
  }
  return record;
}

// The next entry for a worker, which hands back the record of the
// released job it ran last (or null); waits as long as it takes.
VThreadPoolJobRecord *TakeEntry(VThreadPoolRecord *pool,
                                VThreadPoolJobRecord *spare) {
  bool spun = false;
  MutexAcquire(pool->queueLock);
  if (spare != nullptr && KeepSpare(pool, spare)) spare = nullptr;
  for (;;) {
    VThreadPoolJobRecord *job = Dequeue(pool);
    if (job != nullptr) {
      bool wake = ChooseSleeper(pool);
      MutexRelease(pool->queueLock);
      if (wake) VSemaphorePost(pool->wake);
      Free(spare);
      return job;
    }
    if (!spun) {
      spun = true;
      MutexRelease(pool->queueLock);
      for (int i = 0; i < kIdleSpins &&
                      pool->queued.load(std::memory_order_relaxed) == 0;
           i++) {
        platform::SpinPause();
      }
      MutexAcquire(pool->queueLock);
      continue;
    }
    // Counted under the lock that every queuing holds, so the next entry
    // sees this sleeper; a unit posted before the wait begins is kept.
    pool->idle++;
    MutexRelease(pool->queueLock);
    VSemaphoreWait(pool->wake);
    MutexAcquire(pool->queueLock);
    pool->wakePending = false;
    spun = false;
  }
}

void FreeJob(VThreadPoolJobRecord *job) {
  Free(job->name);
  Free(job);
}

void ReleaseJob(VThreadPoolJobRecord *job) {
  VSemaphoreWait(job->done);
  FreeJob(job);
}

// Job times are kept, never shown; the coarse clock reads them without
// the cost of a precise clock read, three times per job.
void Stamp(VTimeval *tv) {
  platform::WallTime now;
  platform::WallClockNowCoarse(&now);
  tv->tv_sec = now.seconds;
  tv->tv_usec =
      now.microseconds / 1000 * 1000;  // milliseconds, as v_gettimeofday
}

// Runs a job; returns the record of a released job, done with and ready
// for reuse, or null.
VThreadPoolJobRecord *RunJob(VThreadPoolJobRecord *job) {
  job->status.store(VTHREADPOOL_JOB_RUNNING, std::memory_order_relaxed);
  if (job->name != nullptr) {
    VLog(VLOG_DEBUG, 1, nullptr, kJobLogSet, 0, "Starting job: %s", job->name);
  }
  Stamp(&job->started);
  job->exitCode = job->routine(job->argument);
  Stamp(&job->finished);
  job->status.store(VTHREADPOOL_JOB_FINISHED, std::memory_order_relaxed);
  if (job->callback != nullptr) job->callback(job, job->callbackArgument);
  if (job->name != nullptr) {
    VLog(VLOG_DEBUG, 1, nullptr, kJobLogSet, 0, "Finished job: %s", job->name);
  }
  // A kept job may be released by its owner as soon as `done` is posted.
  int32_t kind = job->kind;
  VSemaphorePost(job->done);
  if (kind != kJobReleased) return nullptr;
  VSemaphoreWait(job->done);
  Free(job->name);
  return job;
}

VRC WorkerMain(VThread, void *arg) {
  auto *pool = static_cast<VThreadPoolRecord *>(arg);
  VThreadPoolJobRecord *spare = nullptr;
  for (;;) {
    VThreadPoolJobRecord *job = TakeEntry(pool, spare);
    if (job->kind == kJobStop) {
      // The pool may be gone once the stopper sees this.
      VSemaphorePost(job->done);
      return 0;
    }
    spare = RunJob(job);
  }
}

// Starts one worker; under the pool lock.
VRC AddWorker(VThreadPoolRecord *pool) {
  VThread thread = nullptr;
  VRC rc = VThreadSpawn(kWorkerName, WorkerMain, pool, nullptr, &thread);
  if (rc == 0) pool->workers++;
  return rc;
}

// Stops one worker, behind the queued jobs or ahead of them, and waits
// for its acknowledgement.  Needs no memory: the order and its semaphore
// live here.
void StopWorker(VThreadPoolRecord *pool, bool immediate) {
  MutexAcquire(pool->poolLock);
  if (pool->workers > 0) {
    VSemaphoreRecord acknowledged{};
    VThreadPoolJobRecord stop{};
    stop.kind = kJobStop;
    stop.done = &acknowledged;
    Enqueue(pool, immediate ? &pool->urgent : &pool->normal, &stop);
    VSemaphoreWait(&acknowledged);
    pool->workers--;
  }
  MutexRelease(pool->poolLock);
}

// Applied to every entry still queued when the pool goes.  No stop order
// is left by then: every worker has taken its own.
void CancelJobs(JobList *list) {
  while (VThreadPoolJobRecord *job = PopFront(list)) {
    int32_t kind = job->kind;
    job->exitCode = VRC_FAILURE;
    job->status.store(VTHREADPOOL_JOB_CANCELLED, std::memory_order_relaxed);
    VSemaphorePost(job->done);
    if (kind == kJobReleased) ReleaseJob(job);
  }
}

// Stops every worker, then releases the parts that exist.
void DestroyPool(VThreadPoolRecord *pool, bool immediate) {
  if (pool->poolLock != nullptr) {
    MutexAcquire(pool->poolLock);
    while (pool->workers > 0) StopWorker(pool, immediate);
    MutexRelease(pool->poolLock);
    VMutexDestroy(pool->poolLock);
  }
  if (pool->queueLock != nullptr) VMutexDestroy(pool->queueLock);
  if (pool->wake != nullptr) VSemaphoreDestroy(pool->wake);
  CancelJobs(&pool->urgent);
  CancelJobs(&pool->normal);
  while (VThreadPoolJobRecord *spare = TakeSpare(pool)) Free(spare);
  Free(pool);
}

VRC MakeParts(VThreadPoolRecord *pool) {
  VRC rc = VSemaphoreCreateN(0, &pool->wake);
  if (rc == 0) rc = VMutexCreate("Threadpool lock", &pool->poolLock);
  if (rc == 0) rc = VMutexCreate("Threadpool Queue lock", &pool->queueLock);
  return rc;
}

VRC CreatePool(int workers, VThreadPool *out) {
  void *block = Calloc(1, sizeof(VThreadPoolRecord));
  if (block == nullptr) return ENOMEM;
  auto *pool = new (block) VThreadPoolRecord{};
  VRC rc = MakeParts(pool);
  if (rc == 0) {
    MutexAcquire(pool->poolLock);
    int wanted = workers == 0 ? kDefaultWorkers : workers;
    for (int i = 0; i < wanted && rc == 0; i++) rc = AddWorker(pool);
    MutexRelease(pool->poolLock);
  }
  if (rc != 0) {
    DestroyPool(pool, true);
    return rc;
  }
  *out = pool;
  return 0;
}

// Queues a new job, in a spare record when there is one; 0 or ENOMEM.
// The record is filled under the queue lock, which a spare needs anyway.
VRC SubmitJob(VThreadPoolRecord *pool, const char *name,
              VThreadPoolRoutine routine, void *argument,
              VThreadPoolCallback callback, void *callbackArgument,
              unsigned flags, VThreadPoolJob *out) {
  char *copy = nullptr;
  if (name != nullptr && (copy = Strdup(name)) == nullptr) return ENOMEM;
  VTimeval submitted;
  Stamp(&submitted);
  MutexAcquire(pool->queueLock);
  void *block = TakeSpare(pool);
  if (block == nullptr) {
    MutexRelease(pool->queueLock);
    block = Malloc(sizeof(VThreadPoolJobRecord));
    if (block == nullptr) {
      Free(copy);
      return ENOMEM;
    }
    MutexAcquire(pool->queueLock);
  }
  auto *job = new (block) VThreadPoolJobRecord{};
  job->kind = (flags & VTHREADPOOL_RELEASE_MASK) != 0 ? kJobReleased : kJobKept;
  job->done = &job->doneStorage;
  job->name = copy;
  job->routine = routine;
  job->argument = argument;
  job->callback = callback;
  job->callbackArgument = callbackArgument;
  job->submitted = submitted;
  if (out != nullptr) *out = job;
  AppendAndUnlock(pool, &pool->normal, job);
  return 0;
}

// Destruction waits for submissions that passed the closing test before
// it was set; they are a few instructions away from done.
void CloseToSubmissions(VThreadPoolRecord *pool) {
  pool->closing.store(1);
  while (pool->submitting.load() != 0) platform::ThreadYield();
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VThreadPoolCreate(int workers, VThreadPool *out) {
  if (out == nullptr) return EINVAL;
  if (workers < 0) return EINVAL;
  return vi::CreatePool(workers, out);
}

VRC VThreadPoolDestroyWithFlags(VThreadPool pool, int flags) {
  if (pool == nullptr) return EINVAL;
  vi::CloseToSubmissions(pool);
  vi::DestroyPool(pool, (flags & VTHREADPOOL_DESTROY_NOW) != 0);
  return 0;
}

VRC VThreadPoolJobSubmit(VThreadPool pool, const char *name,
                         VThreadPoolRoutine routine, void *argument,
                         VThreadPoolCallback callback, void *callbackArgument,
                         unsigned flags, VThreadPoolJob *out) {
  if (out != nullptr) *out = nullptr;
  if (pool == nullptr || routine == nullptr) return EINVAL;
  pool->submitting.fetch_add(1);
  vi::ScopeExit leave([pool] { pool->submitting.fetch_sub(1); });
  if (pool->closing.load() != 0) return VRC_FAILURE;
  return vi::SubmitJob(pool, name, routine, argument, callback,
                       callbackArgument, flags, out);
}

int VThreadPoolJobGetStatus(VThreadPoolJob job) {
  if (job == nullptr) return VTHREADPOOL_JOB_CANCELLED;
  return job->status.load(std::memory_order_relaxed);
}

VRC VThreadPoolJobExitCode(VThreadPoolJob job) {
  if (job == nullptr) return EINVAL;
  VSemaphoreWait(job->done);
  VRC rc = job->exitCode;
  VSemaphorePost(job->done);
  return rc;
}

VRC VThreadPoolJobCleanup(VThreadPoolJob job) {
  if (job == nullptr) return EINVAL;
  vi::ReleaseJob(job);
  return 0;
}

VRC VThreadPoolIncrease(VThreadPool pool) {
  if (pool == nullptr) return EINVAL;
  vi::MutexAcquire(pool->poolLock);
  VRC rc = pool->closing.load() != 0 ? VRC_FAILURE : vi::AddWorker(pool);
  vi::MutexRelease(pool->poolLock);
  return rc;
}

VRC VThreadPoolDecrease(VThreadPool pool) {
  if (pool == nullptr) return EINVAL;
  vi::StopWorker(pool, false);
  return 0;
}

VRC VThreadPoolGetStatistic(VThreadPool, int, void *) { return 0; }
