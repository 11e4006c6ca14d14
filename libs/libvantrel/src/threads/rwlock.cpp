// VRWLock: reader/writer lock with writer preference, built from a VMutex
// and a VCond.  A waiting writer keeps every new reader out; each release
// wakes all waiters, who test their condition again.
#include <errno.h>

#include "internal/alloc.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {
namespace {

// Every reader/writer lock's inner mutex bears this name.
constexpr char kInnerMutexName[] = "RWLockAnon";

VRC CreateRWLock(const char *name, VRWLock *out) {
  auto *l = static_cast<VRWLockRecord *>(Malloc(sizeof(VRWLockRecord)));
  if (l == nullptr) return ENOMEM;
  CopySyncName(l->name, name);
  VRC rc = VMutexCreate(kInnerMutexName, &l->lock);
  if (rc != 0) {
    Free(l);
    return rc;
  }
  rc = VCondCreate(&l->changed);
  if (rc != 0) {
    VMutexDestroy(l->lock);
    Free(l);
    return rc;
  }
  l->activeWriters = l->waitingWriters = 0;
  l->activeReaders = l->waitingReaders = 0;
  *out = l;
  return 0;
}

void AcquireForRead(VRWLockRecord *l) {
  MutexAcquire(l->lock);
  l->waitingReaders++;
  while (l->activeWriters > 0 || l->waitingWriters > 0) {
    VCondWait(l->changed, l->lock);
  }
  l->waitingReaders--;
  l->activeReaders++;
  MutexRelease(l->lock);
}

void AcquireForWrite(VRWLockRecord *l) {
  MutexAcquire(l->lock);
  l->waitingWriters++;
  while (l->activeWriters > 0 || l->activeReaders > 0) {
    VCondWait(l->changed, l->lock);
  }
  l->waitingWriters--;
  l->activeWriters++;
  MutexRelease(l->lock);
}

void Release(VRWLockRecord *l) {
  MutexAcquire(l->lock);
  if (l->activeWriters != 0) {
    l->activeWriters--;
  } else {
    l->activeReaders--;
  }
  VCondSignal(l->changed);
  MutexRelease(l->lock);
}

}  // namespace
}  // namespace vantrel::internal

VRC VRWLockCreate(const char *name, VRWLock *out) {
  if (name == nullptr || out == nullptr) return EINVAL;
  return vantrel::internal::CreateRWLock(name, out);
}

VRC VRWLockDestroy(VRWLock l) {
  if (l == nullptr) return EINVAL;
  VCondDestroy(l->changed);
  VMutexDestroy(l->lock);
  vantrel::internal::Free(l);
  return 0;
}

VRC VRWLockForRead(VRWLock l) {
  if (l == nullptr) return EINVAL;
  vantrel::internal::AcquireForRead(l);
  return 0;
}

VRC VRWLockForWrite(VRWLock l) {
  if (l == nullptr) return EINVAL;
  vantrel::internal::AcquireForWrite(l);
  return 0;
}

VRC VRWLockUnlock(VRWLock l) {
  if (l == nullptr) return EINVAL;
  vantrel::internal::Release(l);
  return 0;
}
