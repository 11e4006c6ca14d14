// VEvent: a pulse.  Each signal advances a generation; a waiter leaves once
// the generation it started under has passed, so a signal releases exactly
// the threads waiting at that moment and is lost when nobody waits.
#include <errno.h>

#include "internal/alloc.h"
#include "platform/sync.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {
namespace {

VRC CreateEvent(VEvent *out) {
  auto *e = static_cast<VEventRecord *>(Malloc(sizeof(VEventRecord)));
  if (e == nullptr) return ENOMEM;
  if (!InitGuarded(&e->guard, &e->cond)) {
    Free(e);
    return VRC_FAILURE;
  }
  e->generation = 0;
  e->waiters = 0;
  *out = e;
  return 0;
}

void Pulse(VEventRecord *e) {
  platform::MutexLock(&e->guard);
  e->generation++;
  if (e->waiters > 0) platform::CondBroadcast(&e->cond);
  platform::MutexUnlock(&e->guard);
}

void WaitForPulse(VEventRecord *e, uint32_t milliseconds) {
  WaitLimit limit = StartWait(milliseconds);
  platform::MutexLock(&e->guard);
  uint32_t generation = e->generation;
  e->waiters++;
  GuardedWait(&e->guard, &e->cond, limit,
              [e, generation] { return e->generation != generation; });
  e->waiters--;
  platform::MutexUnlock(&e->guard);
}

}  // namespace

int32_t EventWaiterCount(VEvent e) {
  platform::MutexLock(&e->guard);
  int32_t n = e->waiters;
  platform::MutexUnlock(&e->guard);
  return n;
}

}  // namespace vantrel::internal

VRC VEventCreate(VEvent *out) {
  if (out == nullptr) return EINVAL;
  return vantrel::internal::CreateEvent(out);
}

VRC VEventDestroy(VEvent e) {
  if (e == nullptr) return EINVAL;
  vantrel::internal::DestroyGuarded(&e->guard, &e->cond);
  vantrel::internal::Free(e);
  return 0;
}

VRC VEventSignal(VEvent e) {
  if (e == nullptr) return EINVAL;
  vantrel::internal::Pulse(e);
  return 0;
}

VRC VEventWait(VEvent e) {
  if (e == nullptr) return EINVAL;
  vantrel::internal::WaitForPulse(e, VSYNC_INFINITE);
  return 0;
}

// The result cannot tell a signal from the end of the time limit.
VRC VEventTimedWait(VEvent e, unsigned milliseconds) {
  if (e == nullptr) return EINVAL;
  vantrel::internal::WaitForPulse(e, milliseconds);
  return 0;
}
