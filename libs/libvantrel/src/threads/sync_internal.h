// Records behind the synchronisation handles, and the internal calls other
// units use to reach them without going through the exported names.
#ifndef VANTREL_THREADS_SYNC_INTERNAL_H
#define VANTREL_THREADS_SYNC_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <type_traits>

#include "platform/sync.h"
#include "vantrel/vsync.h"

// Name of a mutex or reader/writer lock: 40 characters and a NUL.
inline constexpr size_t kSyncNameSize = VSYNC_NAME_MAX + 1;

// The owner is read by VMutexIsLocked without the lock, so it is a relaxed
// atomic: the answer is advisory and may be stale.
struct VMutexRecord {
  char name[kSyncNameSize];
  vantrel::platform::Mutex lock;  // recursive
  std::atomic<uint32_t> owner;    // thread id of the last locker; 0 unlocked
};

static_assert(std::is_standard_layout_v<VMutexRecord>);
static_assert(offsetof(VMutexRecord, name) == 0);
static_assert(offsetof(VMutexRecord, lock) >= kSyncNameSize);
static_assert(offsetof(VMutexRecord, owner) ==
              offsetof(VMutexRecord, lock) + sizeof(vantrel::platform::Mutex));

// A condition variable whose signal reaches every current waiter and
// returns once they have all left their wait.  Every field is guarded by
// `guard`.
struct VCondRecord {
  int32_t waiters;  // waiting for the current generation's signal
  vantrel::platform::Mutex guard;
  vantrel::platform::CondVar wake;     // waiters sleep here
  vantrel::platform::CondVar allLeft;  // signallers sleep here
  uint32_t generation;                 // advanced by every signal
  int32_t toLeave;  // signalled waiters that have not left their wait yet
};

static_assert(std::is_standard_layout_v<VCondRecord>);
static_assert(offsetof(VCondRecord, waiters) == 0);
static_assert(offsetof(VCondRecord, guard) < offsetof(VCondRecord, wake));
static_assert(offsetof(VCondRecord, wake) < offsetof(VCondRecord, allLeft));
static_assert(offsetof(VCondRecord, allLeft) <
              offsetof(VCondRecord, generation));

// The four counters are read and written only under `lock`.
struct VRWLockRecord {
  char name[kSyncNameSize];
  VMutex lock;  // named "RWLockAnon"
  VCond changed;
  int32_t activeWriters;  // 0 or 1
  int32_t waitingWriters;
  int32_t activeReaders;
  int32_t waitingReaders;
};

static_assert(std::is_standard_layout_v<VRWLockRecord>);
static_assert(offsetof(VRWLockRecord, name) == 0);
static_assert(offsetof(VRWLockRecord, lock) >= kSyncNameSize);
static_assert(offsetof(VRWLockRecord, changed) > offsetof(VRWLockRecord, lock));
static_assert(offsetof(VRWLockRecord, activeWriters) >
              offsetof(VRWLockRecord, changed));
static_assert(offsetof(VRWLockRecord, waitingWriters) ==
              offsetof(VRWLockRecord, activeWriters) + 4);
static_assert(offsetof(VRWLockRecord, activeReaders) ==
              offsetof(VRWLockRecord, activeWriters) + 8);
static_assert(offsetof(VRWLockRecord, waitingReaders) ==
              offsetof(VRWLockRecord, activeWriters) + 12);

// Event and gate share one shape: a manual-reset flag (gates only) and a
// generation advanced by every pulse, both under `guard`.
struct VEventRecord {
  vantrel::platform::Mutex guard;
  vantrel::platform::CondVar cond;
  uint32_t generation;
  int32_t waiters;
};

struct VGateRecord {
  vantrel::platform::Mutex guard;
  vantrel::platform::CondVar cond;
  uint32_t generation;
  int32_t waiters;
  int32_t open;  // 1 while the gate is open
};

// One 64-bit word: the count in the low half, which is also the word that
// sleepers wait on, and the number of threads registered to sleep in the
// high half.  A post changes the count and learns whether anyone sleeps in
// the same atomic step, so it makes a system call only when there is a
// sleeper, and it never reads the record after its change: a waiter may
// take the unit and destroy the semaphore at once.
struct VSemaphoreRecord {
  std::atomic<uint64_t> state;
};

static_assert(std::is_standard_layout_v<VSemaphoreRecord>);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

namespace vantrel::internal {

// Copies name into a 41-byte field: 40 characters at most, NUL-terminated.
void CopySyncName(char *field, const char *name);

// A wait's limit, fixed when the wait starts so that spurious wake-ups do
// not extend it.
struct WaitLimit {
  bool infinite;
  int64_t deadline;  // monotonic nanoseconds, when not infinite
};
WaitLimit StartWait(uint32_t milliseconds);
// One wait on cond (guard held once); false when the limit has passed.
bool WaitOnce(vantrel::platform::CondVar *cond, vantrel::platform::Mutex *guard,
              const WaitLimit &limit);

// The one wait loop of the library's blocking objects.  The caller holds
// `guard` exactly once; the call sleeps on `cond`, which releases the guard
// while sleeping, until done() is true or the limit passes.  done() runs
// with the guard held, before the first sleep and after every wake-up, so
// spurious wake-ups cost a test and nothing more.  Returns 0 once done()
// holds, VRC_TIMEOUT when the limit passed first; the guard is held on
// return either way.  A pulse is a generation counter: note it, then wait
// for done = "the generation has moved on".
template <typename Done>
VRC GuardedWait(vantrel::platform::Mutex *guard,
                vantrel::platform::CondVar *cond, const WaitLimit &limit,
                Done done) {
  while (!done()) {
    if (!WaitOnce(cond, guard, limit)) return done() ? 0 : VRC_TIMEOUT;
  }
  return 0;
}

// GuardedWait for at most `milliseconds` on the monotonic clock, counted
// from this call; VSYNC_INFINITE waits without limit.
template <typename Done>
VRC GuardedWait(vantrel::platform::Mutex *guard,
                vantrel::platform::CondVar *cond, uint32_t milliseconds,
                Done done) {
  return GuardedWait(guard, cond, StartWait(milliseconds), done);
}

// Makes a plain guard and its condition variable, both or neither.
bool InitGuarded(vantrel::platform::Mutex *guard,
                 vantrel::platform::CondVar *cond);
void DestroyGuarded(vantrel::platform::Mutex *guard,
                    vantrel::platform::CondVar *cond);

// The exported mutex operations, for units that should not pay for the
// exported call or that hold the record directly.
void MutexAcquire(VMutexRecord *m);
void MutexRelease(VMutexRecord *m);

// Waits at most `milliseconds` (VSYNC_INFINITE: no limit) for a positive
// count and takes 1: 0, or VRC_TIMEOUT when the time ran out.
VRC SemaphoreTimedWait(VSemaphore s, uint32_t milliseconds);
// VSemaphoreWait that first looks for a unit `spins` times without
// sleeping: for a consumer that expects the next unit within microseconds
// and would otherwise pay a sleep and a wake-up for each.
void SemaphoreWaitSpinning(VSemaphore s, int spins);

// Number of threads blocked on each object right now (taken under its
// guard), so callers and tests can tell that a wait has begun.
int32_t CondWaiterCount(VCond c);
int32_t EventWaiterCount(VEvent e);
int32_t GateWaiterCount(VGate g);
int32_t SemaphoreSleeperCount(VSemaphore s);
// The units a semaphore holds right now.
int32_t SemaphoreCount(VSemaphore s);

}  // namespace vantrel::internal

#endif  // VANTREL_THREADS_SYNC_INTERNAL_H
