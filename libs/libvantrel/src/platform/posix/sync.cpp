// POSIX locks: pthread mutexes (recursive where asked) and condition
// variables bound to CLOCK_MONOTONIC, so that setting the date moves no
// deadline.
#include "platform/sync.h"

#include <errno.h>

#include "platform/clock.h"
#include "platform/posix/os_table.h"

namespace vantrel::platform {
namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(Mutex));
static_assert(alignof(pthread_mutex_t) <= alignof(Mutex));
static_assert(sizeof(pthread_cond_t) <= sizeof(CondVar));
static_assert(alignof(pthread_cond_t) <= alignof(CondVar));

pthread_mutex_t *Native(Mutex *m) {
  return reinterpret_cast<pthread_mutex_t *>(m->opaque);
}

pthread_cond_t *Native(CondVar *c) {
  return reinterpret_cast<pthread_cond_t *>(c->opaque);
}

constexpr int64_t kNanosPerSecond = 1000000000;

// Constant-initialised: no constructor runs and nothing is torn down at
// exit, so it stays usable to the very end of the process.
union ProcessLock {
  pthread_mutex_t native;
  Mutex wrapped;
};
ProcessLock g_process_lock = {PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP};

}  // namespace

int MutexInit(Mutex *m, MutexKind kind) {
  if (kind == MutexKind::kPlain) {
    return VOS(pthread_mutex_init)(Native(m), nullptr);
  }
  pthread_mutexattr_t attr;
  int rc = VOS(pthread_mutexattr_init)(&attr);
  if (rc != 0) return rc;
  rc = VOS(pthread_mutexattr_settype)(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (rc == 0) rc = VOS(pthread_mutex_init)(Native(m), &attr);
  VOS(pthread_mutexattr_destroy)(&attr);
  return rc;
}

void MutexDestroy(Mutex *m) { VOS(pthread_mutex_destroy)(Native(m)); }
void MutexLock(Mutex *m) { VOS(pthread_mutex_lock)(Native(m)); }
void MutexUnlock(Mutex *m) { VOS(pthread_mutex_unlock)(Native(m)); }
int MutexTryLock(Mutex *m) { return VOS(pthread_mutex_trylock)(Native(m)); }

Mutex *ProcessMutex() { return &g_process_lock.wrapped; }

int CondInit(CondVar *c) {
  pthread_condattr_t attr;
  int rc = VOS(pthread_condattr_init)(&attr);
  if (rc != 0) return rc;
  rc = VOS(pthread_condattr_setclock)(&attr, CLOCK_MONOTONIC);
  if (rc == 0) rc = VOS(pthread_cond_init)(Native(c), &attr);
  VOS(pthread_condattr_destroy)(&attr);
  return rc;
}

void CondDestroy(CondVar *c) { VOS(pthread_cond_destroy)(Native(c)); }

void CondWait(CondVar *c, Mutex *m) {
  VOS(pthread_cond_wait)(Native(c), Native(m));
}

int CondTimedWait(CondVar *c, Mutex *m, int64_t deadline) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(deadline / kNanosPerSecond);
  ts.tv_nsec = static_cast<long>(deadline % kNanosPerSecond);
  return VOS(pthread_cond_timedwait)(Native(c), Native(m), &ts);
}

void CondSignal(CondVar *c) { VOS(pthread_cond_signal)(Native(c)); }
void CondBroadcast(CondVar *c) { VOS(pthread_cond_broadcast)(Native(c)); }

// FUTEX_WAIT_BITSET takes an absolute deadline on CLOCK_MONOTONIC, so a
// woken-early waiter sleeps again without recomputing its timeout.
int AddressWait(const uint32_t *word, uint32_t expected, int64_t deadline) {
  struct timespec ts;
  struct timespec *limit = nullptr;
  if (deadline != kNoDeadline) {
    ts.tv_sec = static_cast<time_t>(deadline / kNanosPerSecond);
    ts.tv_nsec = static_cast<long>(deadline % kNanosPerSecond);
    limit = &ts;
  }
  if (VOS(futex)(const_cast<uint32_t *>(word),
                 FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected, limit,
                 nullptr, FUTEX_BITSET_MATCH_ANY) == 0) {
    return 0;
  }
  return errno == ETIMEDOUT ? ETIMEDOUT : 0;
}

// A private futex is keyed by the address alone; the kernel does not read
// the word on a wake.
void AddressWake(const uint32_t *word, int count) {
  VOS(futex)
  (const_cast<uint32_t *>(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG,
   static_cast<uint32_t>(count), nullptr, nullptr, 0);
}

int64_t DeadlineAfter(uint32_t milliseconds) {
  return MonotonicNanoseconds() +
         static_cast<int64_t>(milliseconds) * (kNanosPerSecond / 1000);
}

}  // namespace vantrel::platform
