// The thread pool's records, for the pool's own unit and its tests.
#ifndef VANTREL_SERVICES_THREADPOOL_H
#define VANTREL_SERVICES_THREADPOOL_H

#include <stdint.h>

#include <atomic>

#include "threads/sync_internal.h"
#include "vantrel/vmqueue.h"
#include "vantrel/vsync.h"
#include "vantrel/vthreadpool.h"
#include "vantrel/vtime.h"

// Zero-filled at creation.  `workers` changes only under the pool lock;
// `closing` and `submitting` are read by submitters without any lock.
struct VThreadPoolRecord {
  VMutex poolLock;   // "Threadpool lock"
  VMutex queueLock;  // "Threadpool Queue lock"
  std::atomic<int32_t> closing;
  VSemaphore work;  // entries waiting in both queues together
  VMsgQueue urgent;
  VMsgQueue normal;
  int32_t workers;
  std::atomic<int32_t> submitting;  // submissions past the closing test
  // One queue item per running worker, made when the worker starts, so
  // that stopping a worker never needs memory.  Linked through the items'
  // message slots; under the pool lock.
  void *stopItems;
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
  int32_t kind;     // kJobKept, kJobReleased or kJobStop
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
  VSemaphoreRecord doneStorage;
};

#endif  // VANTREL_SERVICES_THREADPOOL_H
