// The thread pool's records, for the pool's own unit and its tests.
#ifndef VANTREL_SERVICES_THREADPOOL_H
#define VANTREL_SERVICES_THREADPOOL_H

#include <stdint.h>

#include <atomic>

#include "services/link_queue.h"
#include "services/spares.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"
#include "vantrel/vthreadpool.h"
#include "vantrel/vtime.h"

// Zero-filled at creation.  The status is written by the worker and read
// by anyone without a lock, so it is a relaxed atomic: a snapshot.  Every
// other field is written before the job is queued or before `done` is
// posted, and read after taking the job or after `done`.
struct VThreadPoolJobRecord {
  // The next entry of a queue, or the next spare record.
  std::atomic<VThreadPoolJobRecord *> next;
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

// Immediate stop orders, oldest first, linked through their `next`.
struct VThreadPoolJobList {
  VThreadPoolJobRecord *head;
  VThreadPoolJobRecord *tail;
};

// Zero-filled at creation.  `workers` changes only under the pool lock;
// `closing` and `submitting` are read by submitters without any lock.
// Jobs and deferred stop orders wait in `jobs`, which submitters add to
// without a lock and workers take from under the queue lock.  Entries are
// counted in `counted` by whoever queues them and in `taken` by the
// workers, so that neither side changes a word the other changes for
// every job.
struct VThreadPoolRecord {
  VMutex poolLock;   // "Threadpool lock"
  VMutex queueLock;  // "Threadpool Queue lock": taking from jobs, urgent
  VThreadPoolJobList urgent;  // immediate stop orders
  VSemaphore wake;            // one unit per sleeping worker chosen to wake
  int32_t workers;
  // Apart from what workers read for every job: submitters change these
  // twice per job.
  char apart0[64];
  std::atomic<int32_t> closing;
  std::atomic<int32_t> submitting;  // submissions past the closing test
  // Entries queued, modulo 2^32: counted after queueing.
  std::atomic<uint32_t> counted;
  char apart1[64];
  // Sleeping workers not yet chosen to wake (low half) and whether a
  // chosen one is on its way (bit 32): one wake-up in flight at a time.
  // Read by both sides for every job, written only around sleeps.
  std::atomic<uint64_t> sleepers;
  char apart2[64];
  // Entries taken, under the queue lock, against `counted`.
  vantrel::internal::TakeCount taken;
  vantrel::internal::LinkQueue<VThreadPoolJobRecord> jobs;
  char apart3[64];
  // Records of released jobs, kept for later submissions.
  vantrel::internal::SpareStack<VThreadPoolJobRecord, 256> spares;
};

namespace vantrel::internal {

// Job kinds.
inline constexpr int32_t kJobKept = 1;
inline constexpr int32_t kJobReleased = 2;
inline constexpr int32_t kJobStop = -1;

// Entries counted and not yet taken.
inline int32_t QueuedEntries(const VThreadPoolRecord *pool) {
  uint32_t taken = pool->taken.taken.load();
  return static_cast<int32_t>(pool->counted.load() - taken);
}

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_THREADPOOL_H
