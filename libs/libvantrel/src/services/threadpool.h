// The thread pool's records, for the pool's own unit and its tests.
#ifndef VANTREL_SERVICES_THREADPOOL_H
#define VANTREL_SERVICES_THREADPOOL_H

#include <stdint.h>

#include <atomic>

#include "threads/sync_internal.h"
#include "vantrel/vsync.h"
#include "vantrel/vthreadpool.h"
#include "vantrel/vtime.h"

struct VThreadPoolJobRecord;

// Entries waiting for a worker, oldest first, linked through their `next`.
struct VThreadPoolJobList {
  VThreadPoolJobRecord *head;
  VThreadPoolJobRecord *tail;
};

// Zero-filled at creation.  `workers` changes only under the pool lock;
// `closing` and `submitting` are read by submitters without any lock.  The
// lists, `idle`, `wakePending` and the spares belong to the queue lock; `queued` is
// written under it and read without it by workers about to sleep.
struct VThreadPoolRecord {
  VMutex poolLock;   // "Threadpool lock"
  VMutex queueLock;  // "Threadpool Queue lock"
  std::atomic<int32_t> closing;
  VThreadPoolJobList urgent;  // immediate stop orders
  VThreadPoolJobList normal;  // jobs and deferred stop orders
  std::atomic<int32_t> queued;  // entries in both lists together
  // Sleeping workers not yet chosen to wake, and whether a chosen one is
  // still on its way: at most one wake-up is in flight at a time.
  int32_t idle;
  bool wakePending;
  VSemaphore wake;  // one unit per sleeping worker chosen to wake
  // Records of released jobs kept for the next submissions, linked through
  // `next`: submitter and workers would otherwise meet in the allocator.
  VThreadPoolJobRecord *spares;
  int32_t spareCount;
  int32_t workers;
  std::atomic<int32_t> submitting;  // submissions past the closing test
};

namespace vantrel::internal {

// Job kinds.
inline constexpr int32_t kJobKept = 1;
inline constexpr int32_t kJobReleased = 2;
inline constexpr int32_t kJobStop = -1;

}  // namespace vantrel::internal

// Zero-filled at creation.  The status is written by the worker and read
// by anyone without a lock, so it is a relaxed atomic: a snapshot.  Every
// other field is written before the job is queued or before `done` is
// posted, and read after taking the job or after `done`.
struct VThreadPoolJobRecord {
  VThreadPoolJobRecord *next;  // in a queue list
  int32_t kind;                // kJobKept, kJobReleased or kJobStop
  VSemaphore done;  // posted once the job has run or been cancelled
  char *name;       // may be null
  VThreadPoolRoutine routine;
  void *argument;
  VRC exitCode;
  VThreadPoolCallback callback;
  void *callbackArgument;
  VTimeval submitted;
  VTimeval started;
  VTimeval finished;
  std::atomic<int32_t> status;
  // The storage behind `done`: a job and its semaphore are one block.
  // Released jobs never use it: nobody waits for them.
  VSemaphoreRecord doneStorage;
};

#endif  // VANTREL_SERVICES_THREADPOOL_H
