// The clock service: a periodic one-second timer pulses an event; the
// "CLOCK" thread wakes on each pulse and walks the registrations, putting
// the UTC time onto every queue whose count has reached its rate.
#include "services/clock.h"

#include <errno.h>
#include <stdint.h>

#include "core/retcode.h"
#include "internal/alloc.h"
#include "services/mqueue.h"
#include "threads/sync_internal.h"
#include "vantrel/vclock.h"
#include "vantrel/vlist.h"
#include "vantrel/vlog.h"
#include "vantrel/vthread.h"
#include "vantrel/vtime.h"
#include "vantrel/vtimer.h"

namespace vantrel::internal {
namespace {

constexpr int kLogSet = 3;
constexpr int kTimerFailedNumber = 12;
constexpr int kTimerHandlerFailedNumber = 13;
constexpr int kEventFailedNumber = 14;
constexpr int kLockFailedNumber = 15;

// A VList item of the tick list.
struct Registration {
  VMsgQueue queue;
  int32_t rate;   // seconds between ticks
  int32_t count;  // seconds since the last tick
};

// Process-wide; made by the first successful start and kept to the end.
VOneTime g_once = VONETIME_INIT;
VMutex g_lock = nullptr;  // "ClockSubsystem"
// Under g_lock.
int32_t g_instances = 0;
VEvent g_tick = nullptr;
VTimer g_tickTimer = nullptr;
VList *g_registrations = nullptr;
VThread g_thread = nullptr;

void CreateLock() {
  if (VMutexCreate("ClockSubsystem", &g_lock) != 0) {
    g_lock = nullptr;
    VLog(VLOG_ERROR, 1, LibraryCatalog(), kLogSet, kLockFailedNumber,
         "Failed to create tick_list_lock");
  }
}

void LogFailure(int number, const char *text) {
  VLog(VLOG_ERROR, 1, LibraryCatalog(), kLogSet, number, "%s", text);
}

// One second's deliveries, under the lock.  A failed put ends the pass:
// the registrations behind it are not advanced this second.
void Deliver() {
  void *now =
      reinterpret_cast<void *>(static_cast<uintptr_t>(VGetCurrentUTC(nullptr)));
  for (void *item = VListFirst(g_registrations); item != nullptr;
       item = VListNext(item)) {
    auto *r = static_cast<Registration *>(item);
    if (r->rate <= 0 || ++r->count != r->rate) continue;
    if (QueuePut(r->queue, now) != 0) return;
    r->count = 0;
  }
}

VRC ClockMain(VThread self, void *) {
  while (VThreadShouldContinue(self)) {
    VEventWait(g_tick);
    MutexAcquire(g_lock);
    Deliver();
    MutexRelease(g_lock);
  }
  return 0;
}

void Undo() {
  if (g_registrations != nullptr) {
    VListDestroyWith(g_registrations, nullptr, nullptr, Free);
  }
  if (g_tickTimer != nullptr) VTimerDestroy(g_tickTimer);
  if (g_tick != nullptr) VEventDestroy(g_tick);
  g_registrations = nullptr;
  g_tickTimer = nullptr;
  g_tick = nullptr;
}

// Under the lock, the first time: all of it, or nothing but the lock.
VRC SetUp() {
  VRC rc = VTimerInit(1.0);
  if (rc != 0) {
    LogFailure(kTimerFailedNumber,
               "Failed to initialise VTimer for CLOCK tick");
    return rc;
  }
  rc = VEventCreate(&g_tick);
  if (rc != 0) {
    g_tick = nullptr;
    LogFailure(kEventFailedNumber, "Failed to create VEvent for CLOCK tick");
    return rc;
  }
  g_tickTimer = VTimerEventTick(&g_tick, "CLOCK tick");
  if (g_tickTimer == nullptr) {
    LogFailure(kTimerHandlerFailedNumber,
               "Failed to create VTimerHandler for CLOCK tick_timer");
    Undo();
    return VRC_FAILURE;
  }
  g_registrations = VListCreateWith(Malloc);
  if (g_registrations == nullptr) {
    Undo();
    return ENOMEM;
  }
  VTimerSetOneShot(g_tickTimer, 0);
  VTimerSet(g_tickTimer, 1.0);
  rc = VThreadSpawn("CLOCK", ClockMain, nullptr, nullptr, &g_thread);
  if (rc != 0) {
    Undo();
    return rc;
  }
  g_instances = 1;
  return 0;
}

VRC Start() {
  VOneTimeInitialise(&g_once, CreateLock);
  if (g_lock == nullptr) return VRC_FAILURE;
  MutexAcquire(g_lock);
  VRC rc = 0;
  if (g_thread != nullptr) {
    g_instances++;
  } else {
    rc = SetUp();
  }
  MutexRelease(g_lock);
  return rc;
}

// The first registration of queue, or null; under the lock.
Registration *Find(VMsgQueue queue) {
  for (void *item = VListFirst(g_registrations); item != nullptr;
       item = VListNext(item)) {
    if (static_cast<Registration *>(item)->queue == queue) {
      return static_cast<Registration *>(item);
    }
  }
  return nullptr;
}

// The lock when the service has been started, else null.
VMutex LockIfStarted() {
  VOneTimeInitialise(&g_once, CreateLock);
  if (g_lock == nullptr) return nullptr;
  MutexAcquire(g_lock);
  if (g_registrations != nullptr) return g_lock;
  MutexRelease(g_lock);
  return nullptr;
}

}  // namespace

VMutex ClockServiceLock() {
  VOneTimeInitialise(&g_once, CreateLock);
  return g_lock;
}

int32_t ClockInstanceCount() {
  VMutex lock = LockIfStarted();
  if (lock == nullptr) return 0;
  int32_t n = g_instances;
  MutexRelease(lock);
  return n;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VClockStart(void) { return vi::Start(); }

VRC VClockStop(void) {
  VMutex lock = vi::LockIfStarted();
  if (lock == nullptr) return 0;
  vi::g_instances--;
  vi::MutexRelease(lock);
  return 0;
}

VRC VClockAddMsgQueue(VMsgQueue queue, int seconds) {
  if (queue == nullptr) return EINVAL;
  VMutex lock = vi::LockIfStarted();
  if (lock == nullptr) return VRC_NOT_READY;
  auto *r = static_cast<vi::Registration *>(
      VListAllocWith(vi::Malloc, sizeof(vi::Registration)));
  VRC rc = ENOMEM;
  if (r != nullptr) {
    *r = vi::Registration{queue, seconds, 0};
    VListInsertAfter(vi::g_registrations, r, VListTail(vi::g_registrations));
    rc = 0;
  }
  vi::MutexRelease(lock);
  return rc;
}

VRC VClockRemoveMsgQueue(VMsgQueue queue) {
  if (queue == nullptr) return EINVAL;
  VMutex lock = vi::LockIfStarted();
  if (lock == nullptr) return VRC_NOT_FOUND;
  vi::Registration *r = vi::Find(queue);
  if (r != nullptr) VListDelete(vi::g_registrations, r);
  vi::MutexRelease(lock);
  if (r == nullptr) return VRC_NOT_FOUND;
  VListFreeWith(r, vi::Free);
  return 0;
}

VRC VClockSetRateMsgQueue(VMsgQueue queue, int seconds) {
  if (queue == nullptr) return EINVAL;
  VMutex lock = vi::LockIfStarted();
  if (lock == nullptr) return VRC_NOT_FOUND;
  vi::Registration *r = vi::Find(queue);
  if (r != nullptr) {
    r->rate = seconds;
    r->count = 0;
  }
  vi::MutexRelease(lock);
  return r != nullptr ? 0 : VRC_NOT_FOUND;
}

int VClockMsgQueueFree(void *, void *) { return 0; }
