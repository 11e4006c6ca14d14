// VCond: a condition variable whose signal wakes every current waiter and
// returns only after all of them have left their wait.
//
// Waiters sleep on a private guard rather than on the caller's mutex, so a
// signaller that holds that mutex can wait for them to leave: they leave
// the wait first and only then queue for the mutex.  A waiter releases the
// caller's mutex while it holds the guard, and a signal needs the guard, so
// no signal can fall between the release and the start of the wait.
#include <errno.h>

#include "internal/alloc.h"
#include "platform/sync.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {
namespace {

bool InitCondObjects(VCondRecord *c) {
  if (!InitGuarded(&c->guard, &c->wake)) return false;
  if (platform::CondInit(&c->allLeft) == 0) return true;
  DestroyGuarded(&c->guard, &c->wake);
  return false;
}

VRC CreateCond(VCond *out) {
  auto *c = static_cast<VCondRecord *>(Malloc(sizeof(VCondRecord)));
  if (c == nullptr) return ENOMEM;
  if (!InitCondObjects(c)) {
    Free(c);
    return VRC_FAILURE;
  }
  c->waiters = 0;
  c->generation = 0;
  c->toLeave = 0;
  *out = c;
  return 0;
}

// Called with the guard held by a waiter whose wait is over.
void LeaveWait(VCondRecord *c, VRC rc) {
  if (rc == VRC_TIMEOUT) {
    c->waiters--;  // never signalled: the limit passed
    return;
  }
  if (--c->toLeave == 0) platform::CondBroadcast(&c->allLeft);
}

VRC TimedWait(VCondRecord *c, VMutexRecord *m, uint32_t milliseconds) {
  WaitLimit limit = StartWait(milliseconds);
  platform::MutexLock(&c->guard);
  c->waiters++;
  uint32_t generation = c->generation;
  MutexRelease(m);
  VRC rc = GuardedWait(&c->guard, &c->wake, limit,
                       [c, generation] { return c->generation != generation; });
  LeaveWait(c, rc);
  platform::MutexUnlock(&c->guard);
  MutexAcquire(m);
  return rc;
}

// Signals that overlap wait for each other's waiters too; that only makes
// the promise "every waiter has left" hold for a larger set.
void Signal(VCondRecord *c) {
  platform::MutexLock(&c->guard);
  if (c->waiters > 0) {
    c->toLeave += c->waiters;
    c->waiters = 0;
    c->generation++;
    platform::CondBroadcast(&c->wake);
    GuardedWait(&c->guard, &c->allLeft, VSYNC_INFINITE,
                [c] { return c->toLeave <= 0; });
  }
  platform::MutexUnlock(&c->guard);
}

}  // namespace

int32_t CondWaiterCount(VCond c) {
  platform::MutexLock(&c->guard);
  int32_t n = c->waiters;
  platform::MutexUnlock(&c->guard);
  return n;
}

}  // namespace vantrel::internal

VRC VCondCreate(VCond *out) {
  if (out == nullptr) return EINVAL;
  return vantrel::internal::CreateCond(out);
}

VRC VCondDestroy(VCond c) {
  if (c == nullptr) return EINVAL;
  vantrel::platform::CondDestroy(&c->allLeft);
  vantrel::internal::DestroyGuarded(&c->guard, &c->wake);
  vantrel::internal::Free(c);
  return 0;
}

VRC VCondSignal(VCond c) {
  if (c == nullptr) return EINVAL;
  vantrel::internal::Signal(c);
  return 0;
}

VRC VCondWait(VCond c, VMutex m) {
  if (c == nullptr || m == nullptr) return EINVAL;
  return vantrel::internal::TimedWait(c, m, VSYNC_INFINITE);
}

VRC VCondTimedWait(VCond c, VMutex m, unsigned milliseconds) {
  if (c == nullptr || m == nullptr) return EINVAL;
  return vantrel::internal::TimedWait(c, m, milliseconds);
}
