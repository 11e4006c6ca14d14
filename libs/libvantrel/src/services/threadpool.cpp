// VThreadPool: workers take job records from two message queues, counted
// together by one semaphore.  Stop orders travel the same way: a deferred
// one queues behind the jobs (normal queue), an immediate one overtakes
// them (urgent queue), and each is acknowledged by the worker that takes
// it before the stopper goes on.
#include "services/threadpool.h"

#include <errno.h>
#include <stddef.h>

#include <new>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "services/mqueue.h"
#include "threads/sync_internal.h"
#include "vantrel/vlog.h"
#include "vantrel/vthread.h"

namespace vantrel::internal {
namespace {

constexpr int kDefaultWorkers = 5;
constexpr const char *kWorkerName = "Thread Pool Thread";
constexpr int kJobLogSet = VLOG_SET_DEBUG;
// An idle worker looks for the next job this many times (a few
// microseconds) before it sleeps: a stream of short jobs then runs without
// a sleep and a wake-up per job.
constexpr int kIdleSpins = 200;

// A job is one block: the queue's list item, whose first pointer is the
// message (the record's address), with the record behind it.  Queuing a
// job therefore allocates nothing more, and the worker that takes it
// keeps the block.
struct JobBlock {
  void *message;
  VThreadPoolJobRecord job;
};

JobBlock *BlockOf(VThreadPoolJobRecord *job) {
  return reinterpret_cast<JobBlock *>(reinterpret_cast<char *>(job) -
                                      offsetof(JobBlock, job));
}

VThreadPoolJobRecord *EntryOf(void *item) {
  return static_cast<VThreadPoolJobRecord *>(*static_cast<void **>(item));
}

// The next item of either queue, urgent first.  Stop orders are records of
// kind kJobStop in the stopper's own storage, in a plain item.
void *TakeItem(VThreadPoolRecord *pool) {
  SemaphoreWaitSpinning(pool->work, kIdleSpins);
  MutexAcquire(pool->queueLock);
  void *item = QueueTryGetItem(pool->urgent);
  if (item == nullptr) item = QueueGetItem(pool->normal);
  MutexRelease(pool->queueLock);
  return item;
}

void ReleaseJob(VThreadPoolJobRecord *job) {
  VSemaphoreWait(job->done);
  Free(job->name);
  VListFreeWith(BlockOf(job), Free);
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

void RunJob(VThreadPoolJobRecord *job) {
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
  if (kind == kJobReleased) ReleaseJob(job);
}

VRC WorkerMain(VThread, void *arg) {
  auto *pool = static_cast<VThreadPoolRecord *>(arg);
  for (;;) {
    void *item = TakeItem(pool);
    VThreadPoolJobRecord *job = EntryOf(item);
    if (job->kind == kJobStop) {
      VListFreeWith(item, Free);
      // The pool may be gone once the stopper sees this.
      VSemaphorePost(job->done);
      return 0;
    }
    RunJob(job);
  }
}

// Starts one worker with its stop item; under the pool lock.
VRC AddWorker(VThreadPoolRecord *pool) {
  void *item = QueueNewItem();
  if (item == nullptr) return ENOMEM;
  VThread thread = nullptr;
  VRC rc = VThreadSpawn(kWorkerName, WorkerMain, pool, nullptr, &thread);
  if (rc != 0) {
    VListFreeWith(item, Free);
    return rc;
  }
  *static_cast<void **>(item) = pool->stopItems;
  pool->stopItems = item;
  pool->workers++;
  return 0;
}

// Stops one worker, behind the queued jobs or ahead of them, and waits
// for its acknowledgement.  Needs no memory: the order and its semaphore
// live here, its queue item was made with the worker.
void StopWorker(VThreadPoolRecord *pool, bool immediate) {
  MutexAcquire(pool->poolLock);
  if (pool->workers > 0) {
    VSemaphoreRecord acknowledged{};
    VThreadPoolJobRecord stop{};
    stop.kind = kJobStop;
    stop.done = &acknowledged;
    void *item = pool->stopItems;
    pool->stopItems = *static_cast<void **>(item);
    QueuePutItem(immediate ? pool->urgent : pool->normal, item, &stop);
    VSemaphorePost(pool->work);
    VSemaphoreWait(&acknowledged);
    pool->workers--;
  }
  MutexRelease(pool->poolLock);
}

// Applied to every item still queued when the pool goes.  No stop order
// is left by then: every worker has taken its own.
void CancelItem(void *item, void *) {
  VThreadPoolJobRecord *job = EntryOf(item);
  int32_t kind = job->kind;
  job->exitCode = VRC_FAILURE;
  job->status.store(VTHREADPOOL_JOB_CANCELLED, std::memory_order_relaxed);
  VSemaphorePost(job->done);
  if (kind == kJobReleased) ReleaseJob(job);
}

void DestroyQueue(VMsgQueue q) {
  if (q == nullptr) return;
  QueueDrainItems(q, CancelItem, nullptr);
  VMsgQueueDestroy(q, nullptr, nullptr);
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
  if (pool->work != nullptr) VSemaphoreDestroy(pool->work);
  DestroyQueue(pool->urgent);
  DestroyQueue(pool->normal);
  Free(pool);
}

VRC MakeParts(VThreadPoolRecord *pool) {
  VRC rc = VMsgQueueCreate(&pool->urgent);
  if (rc == 0) rc = VMsgQueueCreate(&pool->normal);
  if (rc == 0) rc = VSemaphoreCreateN(0, &pool->work);
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

// A job ready to queue, or null when it cannot be allocated.
VThreadPoolJobRecord *NewJob(const char *name, VThreadPoolRoutine routine,
                             void *argument, VThreadPoolCallback callback,
                             void *callbackArgument, unsigned flags) {
  char *copy = nullptr;
  if (name != nullptr && (copy = Strdup(name)) == nullptr) return nullptr;
  void *item = VListAllocWith(Malloc, sizeof(JobBlock));
  if (item == nullptr) {
    Free(copy);
    return nullptr;
  }
  auto *block = new (item) JobBlock{};
  VThreadPoolJobRecord *job = &block->job;
  block->message = job;
  job->kind = (flags & VTHREADPOOL_RELEASE_MASK) != 0 ? kJobReleased : kJobKept;
  job->done = &job->doneStorage;
  job->name = copy;
  job->routine = routine;
  job->argument = argument;
  job->callback = callback;
  job->callbackArgument = callbackArgument;
  Stamp(&job->submitted);
  return job;
}

void Submit(VThreadPoolRecord *pool, VThreadPoolJobRecord *job) {
  QueuePutItem(pool->normal, BlockOf(job), job);
  VSemaphorePost(pool->work);
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
  VThreadPoolJobRecord *job =
      vi::NewJob(name, routine, argument, callback, callbackArgument, flags);
  if (job == nullptr) return ENOMEM;
  if (out != nullptr) *out = job;
  vi::Submit(pool, job);
  return 0;
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
