// VSemaphore: a counting semaphore on a guard and a condition variable.
// Posts wake sleepers only when there are some, so a post nobody waits for
// stays in user space.
#include <errno.h>

#include "internal/alloc.h"
#include "platform/sync.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {
namespace {

VRC CreateSemaphore(int initial, VSemaphore *out) {
  auto *s = static_cast<VSemaphoreRecord *>(Malloc(sizeof(VSemaphoreRecord)));
  if (s == nullptr) return ENOMEM;
  // An initial count out of range is refused as the system would refuse it.
  if (initial < 0 || initial > VSEMAPHORE_MAX_COUNT ||
      !InitGuarded(&s->guard, &s->cond)) {
    Free(s);
    return VRC_FAILURE;
  }
  s->count = initial;
  s->sleepers = 0;
  *out = s;
  return 0;
}

void Post(VSemaphoreRecord *s, int n) {
  if (n < 1) return;
  platform::MutexLock(&s->guard);
  int64_t count = static_cast<int64_t>(s->count) + n;
  s->count = static_cast<int32_t>(
      count > VSEMAPHORE_MAX_COUNT ? VSEMAPHORE_MAX_COUNT : count);
  // Each signal wakes one sleeper; never more than there are units.
  for (int32_t i = 0; i < s->sleepers && i < n; i++) {
    platform::CondSignal(&s->cond);
  }
  platform::MutexUnlock(&s->guard);
}

VRC Take(VSemaphoreRecord *s, uint32_t milliseconds) {
  WaitLimit limit = StartWait(milliseconds);
  platform::MutexLock(&s->guard);
  bool inTime = true;
  while (s->count == 0 && inTime) {
    s->sleepers++;
    inTime = WaitOnce(&s->cond, &s->guard, limit);
    s->sleepers--;
  }
  VRC rc = VRC_TIMEOUT;
  if (s->count > 0) {
    s->count--;
    rc = 0;
  }
  platform::MutexUnlock(&s->guard);
  return rc;
}

VRC TryTake(VSemaphoreRecord *s) {
  platform::MutexLock(&s->guard);
  VRC rc = EAGAIN;
  if (s->count > 0) {
    s->count--;
    rc = 0;
  }
  platform::MutexUnlock(&s->guard);
  return rc;
}

}  // namespace

VRC SemaphoreTimedWait(VSemaphore s, uint32_t milliseconds) {
  return Take(s, milliseconds);
}

int32_t SemaphoreSleeperCount(VSemaphore s) {
  platform::MutexLock(&s->guard);
  int32_t n = s->sleepers;
  platform::MutexUnlock(&s->guard);
  return n;
}

}  // namespace vantrel::internal

extern "C" VANTREL_API VRC VSemaphoreCreateN(int initial, VSemaphore *out) {
  return vantrel::internal::CreateSemaphore(initial, out);
}

extern "C" VANTREL_API VRC VSemaphoreDestroy(VSemaphore s) {
  vantrel::internal::DestroyGuarded(&s->guard, &s->cond);
  vantrel::internal::Free(s);
  return 0;
}

extern "C" VANTREL_API VRC VSemaphorePost(VSemaphore s) {
  vantrel::internal::Post(s, 1);
  return 0;
}

extern "C" VANTREL_API VRC VSemaphorePostN(VSemaphore s, int n) {
  vantrel::internal::Post(s, n);
  return 0;
}

extern "C" VANTREL_API VRC VSemaphoreWait(VSemaphore s) {
  return vantrel::internal::Take(s, VSYNC_INFINITE);
}

extern "C" VANTREL_API VRC VSemaphoreTry(VSemaphore s) {
  return vantrel::internal::TryTake(s);
}
