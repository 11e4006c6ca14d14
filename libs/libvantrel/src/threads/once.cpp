// VOneTimeInitialise: each control gets its own recursive lock on first
// use, made under a process-wide spin counter; the routine runs under that
// lock, so late callers wait for it to finish.
#include <errno.h>

#include <atomic>

#include "internal/alloc.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {
namespace {

// Guards the creation of every control's lock; held only for that.
constinit std::atomic<int32_t> g_spin{0};

void SpinAcquire() {
  while (g_spin.fetch_add(1) + 1 >= 2) {
    g_spin.fetch_sub(1);
    platform::ThreadYield();  // the holder may be waiting for this core
  }
}

void SpinRelease() { g_spin.fetch_sub(1); }

// When no lock can be made the control is bound for good to the process
// mutex instead: every caller of that control then agrees on one lock, so
// the routine still runs once.  Controls that share it merely serialise.
platform::Mutex *MakeLock() {
  auto *lock = static_cast<platform::Mutex *>(Malloc(sizeof(platform::Mutex)));
  if (lock != nullptr &&
      platform::MutexInit(lock, platform::MutexKind::kRecursive) == 0) {
    return lock;
  }
  Free(lock);
  return platform::ProcessMutex();
}

platform::Mutex *ControlLock(VOneTime *control) {
  SpinAcquire();
  auto *lock = static_cast<platform::Mutex *>(control->lock);
  if (lock == nullptr) {
    lock = MakeLock();
    control->lock = lock;
  }
  SpinRelease();
  return lock;
}

// done is set before the routine runs, so a call the routine makes on its
// own control (the lock is recursive) returns instead of running it again.
// Other threads cannot see it early: they read it under the lock.
void RunOnce(VOneTime *control, VOneTimeRoutine routine) {
  platform::Mutex *lock = ControlLock(control);
  platform::MutexLock(lock);
  if (control->done == 0) {
    control->done = 1;
    routine();
  }
  platform::MutexUnlock(lock);
}

}  // namespace
}  // namespace vantrel::internal

VRC VOneTimeInitialise(VOneTime *control, VOneTimeRoutine routine) {
  if (control == nullptr || routine == nullptr) return EINVAL;
  vantrel::internal::RunOnce(control, routine);
  return 0;
}
