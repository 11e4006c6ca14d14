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
  VRC rc = 0;
  if (s->count == 0) {
    s->sleepers++;
    rc = GuardedWait(&s->guard, &s->cond, limit, [s] { return s->count > 0; });
    s->sleepers--;
  }
  if (rc == 0) s->count--;
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

VRC VSemaphoreCreateN(int initial, VSemaphore *out) {
  if (out == nullptr) return EINVAL;
  return vantrel::internal::CreateSemaphore(initial, out);
}

VRC VSemaphoreDestroy(VSemaphore s) {
  if (s == nullptr) return EINVAL;
  vantrel::internal::DestroyGuarded(&s->guard, &s->cond);
  vantrel::internal::Free(s);
  return 0;
}

VRC VSemaphorePost(VSemaphore s) {
  if (s == nullptr) return EINVAL;
  vantrel::internal::Post(s, 1);
  return 0;
}

VRC VSemaphorePostN(VSemaphore s, int n) {
  if (s == nullptr) return EINVAL;
  vantrel::internal::Post(s, n);
  return 0;
}

VRC VSemaphoreWait(VSemaphore s) {
  if (s == nullptr) return EINVAL;
  return vantrel::internal::Take(s, VSYNC_INFINITE);
}

VRC VSemaphoreTry(VSemaphore s) {
  if (s == nullptr) return EINVAL;
  return vantrel::internal::TryTake(s);
}
