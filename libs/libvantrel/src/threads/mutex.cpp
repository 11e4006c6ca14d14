// VMutex: a named, re-entrant lock that records its last owner; also the
// small helpers the other synchronisation objects share.
#include <errno.h>
#include <string.h>

#include <new>

#include "internal/alloc.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {

void CopySyncName(char *field, const char *name) {
  strncpy(field, name, kSyncNameSize - 1);
  field[kSyncNameSize - 1] = '\0';
}

WaitLimit StartWait(uint32_t milliseconds) {
  if (milliseconds == VSYNC_INFINITE) return WaitLimit{true, 0};
  return WaitLimit{false, platform::DeadlineAfter(milliseconds)};
}

bool WaitOnce(platform::CondVar *cond, platform::Mutex *guard,
              const WaitLimit &limit) {
  if (!limit.infinite)
    return platform::CondTimedWait(cond, guard, limit.deadline) != ETIMEDOUT;
  platform::CondWait(cond, guard);
  return true;
}

bool InitGuarded(platform::Mutex *guard, platform::CondVar *cond) {
  if (platform::MutexInit(guard, platform::MutexKind::kPlain) != 0) {
    return false;
  }
  if (platform::CondInit(cond) == 0) return true;
  platform::MutexDestroy(guard);
  return false;
}

void DestroyGuarded(platform::Mutex *guard, platform::CondVar *cond) {
  platform::CondDestroy(cond);
  platform::MutexDestroy(guard);
}

void MutexAcquire(VMutexRecord *m) {
  platform::MutexLock(&m->lock);
  m->owner.store(platform::CurrentThreadId(), std::memory_order_relaxed);
}

// The owner goes first: once the system lock is released another thread
// may already have recorded itself.
void MutexRelease(VMutexRecord *m) {
  m->owner.store(0, std::memory_order_relaxed);
  platform::MutexUnlock(&m->lock);
}

namespace {

VRC CreateMutex(const char *name, VMutex *out) {
  auto *m = static_cast<VMutexRecord *>(Malloc(sizeof(VMutexRecord)));
  if (m == nullptr) return ENOMEM;
  CopySyncName(m->name, name);
  if (platform::MutexInit(&m->lock, platform::MutexKind::kRecursive) != 0) {
    Free(m);
    return VRC_FAILURE;
  }
  new (&m->owner) std::atomic<uint32_t>(0);
  *out = m;
  return 0;
}

VRC TryLockMutex(VMutexRecord *m) {
  if (platform::MutexTryLock(&m->lock) != 0) return VRC_MUTEX_BUSY;
  m->owner.store(platform::CurrentThreadId(), std::memory_order_relaxed);
  return 0;
}

}  // namespace
}  // namespace vantrel::internal

VRC VMutexCreate(const char *name, VMutex *out) {
  if (name == nullptr || out == nullptr) return EINVAL;
  return vantrel::internal::CreateMutex(name, out);
}

VRC VMutexDestroy(VMutex m) {
  if (m == nullptr) return EINVAL;
  vantrel::platform::MutexDestroy(&m->lock);
  vantrel::internal::Free(m);
  return 0;
}

VRC VMutexLock(VMutex m) {
  if (m == nullptr) return EINVAL;
  vantrel::internal::MutexAcquire(m);
  return 0;
}

VRC VMutexUnlock(VMutex m) {
  if (m == nullptr) return EINVAL;
  vantrel::internal::MutexRelease(m);
  return 0;
}

VRC VMutexTryLock(VMutex m) {
  if (m == nullptr) return EINVAL;
  return vantrel::internal::TryLockMutex(m);
}

int VMutexIsLocked(VMutex m) {
  if (m == nullptr) return 0;
  return m->owner.load(std::memory_order_relaxed) != 0 ? 1 : 0;
}
