// VThreadPool: workers take job records from a queue that submitters add
// to without a lock.  Stop orders travel the same way: a deferred one
// queues behind the jobs, an immediate one overtakes them (urgent list),
// and each is acknowledged by the worker that takes it before the stopper
// goes on.
//
// A worker that finds nothing looks again for a microsecond or two, then
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
#include "platform/sync.h"
#include "platform/thread.h"
#include "threads/sync_internal.h"
#include "vantrel/vlog.h"
#include "vantrel/vthread.h"

namespace vantrel::internal {
namespace {

using Record = VThreadPoolJobRecord;

constexpr int kDefaultWorkers = 5;
constexpr const char *kWorkerName = "Thread Pool Thread";
constexpr int kJobLogSet = VLOG_SET_DEBUG;
// An idle worker looks for the next entry this many times (a microsecond
// or two) before it sleeps: a stream of short jobs then runs without a
// sleep and a wake-up per job.  Longer spins only take the processor from
// the submitter.
constexpr int kIdleSpins = 50;
constexpr uint64_t kWakeInFlight = uint64_t{1} << 32;

void Append(VThreadPoolJobList *list, Record *record) {
  record->next.store(nullptr, std::memory_order_relaxed);
  if (list->tail != nullptr) {
    list->tail->next.store(record, std::memory_order_relaxed);
  } else {
    list->head = record;
  }
  list->tail = record;
}

Record *PopFront(VThreadPoolJobList *list) {
  Record *record = list->head;
  if (record != nullptr) {
    list->head = record->next.load(std::memory_order_relaxed);
    if (list->head == nullptr) list->tail = nullptr;
  }
  return record;
}

// Whether a sleeping worker may be chosen to wake: one sleeps and no
// wake-up is on its way.
bool SleeperToChoose(uint64_t sleepers) {
  return static_cast<uint32_t>(sleepers) != 0 &&
         (sleepers & kWakeInFlight) == 0;
}

// Wakes a sleeping worker unless none sleeps or a wake-up is on its way.
// Called after an entry is counted; a worker about to sleep counts itself
// first and then looks for entries, so one of the two sees the other.
void WakeOne(VThreadPoolRecord *pool) {
  uint64_t state = pool->sleepers.load();
  while (SleeperToChoose(state)) {
    if (pool->sleepers.compare_exchange_weak(state,
                                             state - 1 + kWakeInFlight)) {
      VSemaphorePost(pool->wake);
      return;
    }
  }
}

void Counted(VThreadPoolRecord *pool) {
  pool->counted.fetch_add(1);
  WakeOne(pool);
}

// After a take: passes the wake on when a worker sleeps and entries
// remain.  The sleepers' word is looked at first: it is rarely written,
// while the count changes with every submission.
void PassWake(VThreadPoolRecord *pool) {
  if (SleeperToChoose(pool->sleepers.load()) && QueuedEntries(pool) > 0) {
    WakeOne(pool);
  }
}

using Spares = decltype(VThreadPoolRecord::spares);

// The next entry, urgent first, or null when none is counted.
Record *Dequeue(VThreadPoolRecord *pool) {
  MutexAcquire(pool->queueLock);
  Record *record = nullptr;
  if (pool->taken.Claim([pool] { return pool->counted.load(); })) {
    // Urgent entries are appended under this lock before they are counted.
    record = PopFront(&pool->urgent);
    if (record == nullptr) record = pool->jobs.PopClaimed();
  }
  MutexRelease(pool->queueLock);
  return record;
}

// The next entry for a worker; waits as long as it takes.  A worker with
// nothing to do hands back the released records it holds before sleeping.
Record *TakeEntry(VThreadPoolRecord *pool, Spares::Batch *spares) {
  bool spun = false;
  for (;;) {
    Record *record = Dequeue(pool);
    if (record != nullptr) {
      PassWake(pool);
      return record;
    }
    if (!spun) {
      spun = true;
      for (int i = 0; i < kIdleSpins && QueuedEntries(pool) <= 0; i++) {
        platform::SpinPause();
      }
      continue;
    }
    pool->spares.Give(spares);
    pool->sleepers.fetch_add(1);
    if (QueuedEntries(pool) > 0) WakeOne(pool);
    VSemaphoreWait(pool->wake);
    pool->sleepers.fetch_sub(kWakeInFlight);
    spun = false;
  }
}

void ReleaseJob(Record *job) {
  VSemaphoreWait(job->done);
  Free(job->name);
  Free(job);
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
  Spares::Batch spares;
  for (;;) {
    VThreadPoolJobRecord *job = TakeEntry(pool, &spares);
    if (job->kind == kJobStop) {
      pool->spares.Give(&spares);
      // The pool may be gone once the stopper sees this.
      VSemaphorePost(job->done);
      return 0;
    }
    if (Record *spare = RunJob(job)) pool->spares.Add(&spares, spare);
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
    if (immediate) {
      MutexAcquire(pool->queueLock);
      Append(&pool->urgent, &stop);
      MutexRelease(pool->queueLock);
    } else {
      pool->jobs.Push(&stop);
    }
    Counted(pool);
    VSemaphoreWait(&acknowledged);
    pool->workers--;
  }
  MutexRelease(pool->poolLock);
}

// Applied to every entry still queued when the pool goes.  No stop order
// is left by then: every worker has taken its own.
void Cancel(Record *job) {
  int32_t kind = job->kind;
  job->exitCode = VRC_FAILURE;
  job->status.store(VTHREADPOOL_JOB_CANCELLED, std::memory_order_relaxed);
  VSemaphorePost(job->done);
  if (kind == kJobReleased) ReleaseJob(job);
}

// Stops every worker, then releases the parts that exist.
void DestroyPool(VThreadPoolRecord *pool, bool immediate) {
  if (pool->poolLock != nullptr) {
    MutexAcquire(pool->poolLock);
    while (pool->workers > 0) StopWorker(pool, immediate);
    MutexRelease(pool->poolLock);
    VMutexDestroy(pool->poolLock);
  }
  if (pool->wake != nullptr) VSemaphoreDestroy(pool->wake);
  while (Record *job = PopFront(&pool->urgent)) Cancel(job);
  while (Record *job = pool->jobs.Pop()) Cancel(job);
  if (pool->queueLock != nullptr) VMutexDestroy(pool->queueLock);
  pool->spares.FreeAll();
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
  pool->jobs.Init();
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
VRC SubmitJob(VThreadPoolRecord *pool, const char *name,
              VThreadPoolRoutine routine, void *argument,
              VThreadPoolCallback callback, void *callbackArgument,
              unsigned flags, VThreadPoolJob *out) {
  char *copy = nullptr;
  if (name != nullptr && (copy = Strdup(name)) == nullptr) return ENOMEM;
  VTimeval submitted;
  Stamp(&submitted);
  void *block = pool->spares.Take();
  if (block == nullptr) block = Malloc(sizeof(VThreadPoolJobRecord));
  if (block == nullptr) {
    Free(copy);
    return ENOMEM;
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
  pool->jobs.Push(job);
  Counted(pool);
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
