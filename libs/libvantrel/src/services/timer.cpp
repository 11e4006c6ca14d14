// The timer service: one "TIMER" thread ticks on a grid of the monotonic
// clock and fires the timers of a delta list, in which each armed timer
// stores its distance in ticks from the one in front of it.  A late
// thread processes the ticks it missed back to back until it is on the
// grid again; the wall clock is never read, so setting the date moves
// nothing.
#include "services/timer.h"

#include <errno.h>

#include <new>

#include "core/retcode.h"
#include "internal/alloc.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "threads/sync_internal.h"
#include "vantrel/vi18n.h"
#include "vantrel/vlist.h"
#include "vantrel/vlog.h"
#include "vantrel/vthread.h"

namespace vantrel::internal {
namespace {

constexpr int kLogSet = 3;
constexpr int kLockFailedNumber = 16;
constexpr int kAnonymousSet = 4;
constexpr int kAnonymousNumber = 35;
constexpr size_t kNameBufferSize = 128;
constexpr double kNanosPerSecond = 1e9;
// Delays are divided by the resolution in floating point; a quotient this
// close above a whole number is that number (0.3 / 0.1 must be 3 ticks).
constexpr double kTickSlack = 1e-9;

// Process-wide; set up by the first VTimerInit and never released.
VOneTime g_once = VONETIME_INIT;
VRC g_lockResult = 0;
VMutex g_lock = nullptr;
std::atomic<bool> g_running{false};
// Under g_lock.
double g_resolution = 0;
int64_t g_resolutionNanos = 0;
VList *g_list = nullptr;
VEvent g_tick = nullptr;
uint64_t g_ticksProcessed = 0;
// The timer whose handler runs; cleared when the handler destroys or
// removes it, so that a periodic timer is not armed again behind its back.
VTimerRecord *g_firing = nullptr;

void CreateLock() {
  g_lockResult = VMutexCreate("Timer", &g_lock);
  if (g_lockResult != 0) {
    VLog(VLOG_ERROR, 1, LibraryCatalog(), kLogSet, kLockFailedNumber,
         "Failed to create timer_mutex");
  }
}

VTimerRecord *First() {
  return static_cast<VTimerRecord *>(VListFirst(g_list));
}
VTimerRecord *After(VTimerRecord *t) {
  return static_cast<VTimerRecord *>(VListNext(t));
}

// Takes an armed timer out; the one behind it inherits its ticks.
void Unlink(VTimerRecord *t) {
  VTimerRecord *next = After(t);
  if (next != nullptr) next->ticks += t->ticks;
  VListDelete(g_list, t);
  t->armed = 0;
}

int32_t TicksFor(double seconds) {
  double quotient = seconds / g_resolution - kTickSlack;
  if (!(quotient > 1)) return 1;  // also NaN and negative delays
  if (quotient >= INT32_MAX) return INT32_MAX;
  auto ticks = static_cast<int32_t>(quotient);  // rounded up below
  return ticks < quotient ? ticks + 1 : ticks;
}

// Inserts behind every timer due no later, so timers due on the same tick
// fire in the order they were set.
void Arm(VTimerRecord *t, double seconds) {
  int32_t remaining = TicksFor(seconds);
  VTimerRecord *at = First();
  while (at != nullptr && at->ticks <= remaining) {
    remaining -= at->ticks;
    at = After(at);
  }
  if (at != nullptr) {
    at->ticks -= remaining;
    VListInsertBefore(g_list, t, at);
  } else {
    VListInsertAfter(g_list, t, VListTail(g_list));
  }
  t->ticks = remaining;
  t->armed = 1;
}

// One tick: the first timer comes one tick closer, and every timer now due
// fires, in list order, with the lock held.
void ProcessTick() {
  g_ticksProcessed++;
  VTimerRecord *t = First();
  if (t == nullptr) return;
  t->ticks--;
  while ((t = First()) != nullptr && t->ticks <= 0) {
    t->ticks = 0;  // due now: the one behind keeps its own distance
    Unlink(t);
    g_firing = t;
    t->handler(t->data.load(std::memory_order_relaxed));
    // The handler may have destroyed, removed or set its own timer.
    if (g_firing == t && t->armed == 0 &&
        t->oneShot.load(std::memory_order_relaxed) == 0) {
      Arm(t, t->period);
    }
    g_firing = nullptr;
  }
}

VRC TimerMain(VThread self, void *) {
  int64_t next = platform::MonotonicNanoseconds();
  while (VThreadShouldContinue(self)) {
    MutexAcquire(g_lock);
    next += g_resolutionNanos;
    ProcessTick();
    MutexRelease(g_lock);
    VEventSignal(g_tick);
    platform::SleepUntil(next);
  }
  return 0;
}

// A tick of more than about thirty years is as good as none.
constexpr double kLongestTickNanos = 1e18;

void SetResolution(double seconds) {
  g_resolution = seconds;
  double nanos = seconds * kNanosPerSecond;
  if (nanos > kLongestTickNanos) nanos = kLongestTickNanos;
  g_resolutionNanos = nanos < 1 ? 1 : static_cast<int64_t>(nanos);
}

// A finer tick: every armed timer's delta is rescaled, truncated.
void Refine(double seconds) {
  double scale = g_resolution / seconds;
  for (VTimerRecord *t = First(); t != nullptr; t = After(t)) {
    double ticks = t->ticks * scale;
    t->ticks = ticks >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(ticks);
  }
  SetResolution(seconds);
}

// Under the lock, with the service stopped: all of it or nothing.
VRC Start(double seconds) {
  g_list = VListCreateWith(Malloc);
  if (g_list == nullptr) return ENOMEM;
  SetResolution(seconds);
  VRC rc = VEventCreate(&g_tick);
  if (rc == 0) {
    VThread thread = nullptr;
    rc = VThreadSpawn("TIMER", TimerMain, nullptr, nullptr, &thread);
    if (rc == 0) return 0;
    VEventDestroy(g_tick);
    g_tick = nullptr;
  }
  VListDestroyWith(g_list, nullptr, nullptr, Free);
  g_list = nullptr;
  g_resolution = 0;
  g_resolutionNanos = 0;
  return rc;
}

VRC Init(double seconds) {
  if (!(seconds > 0)) return EINVAL;
  VOneTimeInitialise(&g_once, CreateLock);
  if (g_lockResult != 0) return g_lockResult;
  MutexAcquire(g_lock);
  VRC rc = 0;
  if (g_running.load(std::memory_order_relaxed)) {
    if (seconds < g_resolution) Refine(seconds);
  } else {
    rc = Start(seconds);
    if (rc == 0) g_running.store(true, std::memory_order_release);
  }
  MutexRelease(g_lock);
  return rc;
}

VRC EnsureRunning() {
  if (g_running.load(std::memory_order_acquire)) return 0;
  return Init(VTIMER_DEFAULT_RESOLUTION);
}

// The service lock when the service runs; null before (then no timer can
// be armed).
VMutex LockIfRunning() {
  if (!g_running.load(std::memory_order_acquire)) return nullptr;
  MutexAcquire(g_lock);
  return g_lock;
}

VTimer CreateTimer(VTimerHandler handler, void *data, const char *name) {
  char fallback[kNameBufferSize];
  if (name == nullptr) {
    VI18nMessageGet(LibraryCatalog(), kAnonymousSet, kAnonymousNumber,
                    "Anonymous", fallback, sizeof fallback);
    name = fallback;
  }
  char *copy = Strdup(name);
  if (copy == nullptr) return nullptr;
  void *item = VListAllocWith(Malloc, sizeof(VTimerRecord));
  if (item == nullptr) {
    Free(copy);
    return nullptr;
  }
  auto *t = new (item) VTimerRecord{};
  t->handler = handler;
  t->data.store(data, std::memory_order_relaxed);
  t->name = copy;
  t->oneShot.store(1, std::memory_order_relaxed);
  return t;
}

VRC SetFlag(void *data) {
  std::atomic_ref<int>(*static_cast<int *>(data))
      .store(1, std::memory_order_relaxed);
  return 0;
}

VRC ClearFlag(void *data) {
  std::atomic_ref<int>(*static_cast<int *>(data))
      .store(0, std::memory_order_relaxed);
  return 0;
}

VRC ToggleFlag(void *data) {
  std::atomic_ref<int> flag(*static_cast<int *>(data));
  flag.store(flag.load(std::memory_order_relaxed) != 0 ? 0 : 1,
             std::memory_order_relaxed);
  return 0;
}

VRC PulseEvent(void *data) {
  VEvent event = *static_cast<VEvent *>(data);
  if (event != nullptr) VEventSignal(event);
  return 0;
}

bool Aborted(int **abort) {
  if (abort == nullptr) return false;
  for (; *abort != nullptr; abort++) {
    if (std::atomic_ref<int>(**abort).load(std::memory_order_relaxed) != 0) {
      return true;
    }
  }
  return false;
}

// The tick event's generation now: a tick processed after this moment is
// seen by WaitForTickAfter even when it comes before that call.
uint32_t TickGeneration() {
  platform::MutexLock(&g_tick->guard);
  uint32_t generation = g_tick->generation;
  platform::MutexUnlock(&g_tick->guard);
  return generation;
}

void WaitForTickAfter(uint32_t generation) {
  VEventRecord *e = g_tick;
  platform::MutexLock(&e->guard);
  e->waiters++;
  GuardedWait(&e->guard, &e->cond, VSYNC_INFINITE,
              [e, generation] { return e->generation != generation; });
  e->waiters--;
  platform::MutexUnlock(&e->guard);
}

int SleepOn(VTimer timer, double seconds, int **abort) {
  auto *flag = static_cast<int *>(timer->data.load(std::memory_order_relaxed));
  if (flag == nullptr || EnsureRunning() != 0) return 0;
  std::atomic_ref<int>(*flag).store(0, std::memory_order_relaxed);
  VTimerSet(timer, seconds);
  for (;;) {
    uint32_t generation = TickGeneration();
    if (Aborted(abort)) {
      VTimerRemove(timer);
      return 0;
    }
    if (std::atomic_ref<int>(*flag).load(std::memory_order_relaxed) != 0) {
      return 1;
    }
    WaitForTickAfter(generation);
  }
}

}  // namespace

VMutex TimerServiceLock() {
  VOneTimeInitialise(&g_once, CreateLock);
  return g_lock;
}

uint64_t TimerTicksProcessed() {
  VMutex lock = LockIfRunning();
  uint64_t n = g_ticksProcessed;
  if (lock != nullptr) MutexRelease(lock);
  return n;
}

double TimerResolution() {
  VMutex lock = LockIfRunning();
  double r = g_resolution;
  if (lock != nullptr) MutexRelease(lock);
  return r;
}

int32_t TimerDeltaTicks(VTimer timer) {
  VMutex lock = LockIfRunning();
  int32_t n = timer->ticks;
  if (lock != nullptr) MutexRelease(lock);
  return n;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VTimerInit(double seconds) { return vi::Init(seconds); }

VTimer VTimerCreate(VTimerHandler handler, void *data, const char *name) {
  if (handler == nullptr) return nullptr;
  return vi::CreateTimer(handler, data, name);
}

VRC VTimerDestroy(VTimer timer) {
  if (timer == nullptr) return EINVAL;
  VMutex lock = vi::LockIfRunning();
  if (lock != nullptr) {
    if (timer->armed != 0) vi::Unlink(timer);
    if (vi::g_firing == timer) vi::g_firing = nullptr;
    vi::MutexRelease(lock);
  }
  vi::Free(timer->name);
  VListFreeWith(timer, vi::Free);
  return 0;
}

VRC VTimerRemove(VTimer timer) {
  if (timer == nullptr) return EINVAL;
  VMutex lock = vi::LockIfRunning();
  if (lock == nullptr) return 0;
  if (timer->armed != 0) vi::Unlink(timer);
  if (vi::g_firing == timer) vi::g_firing = nullptr;
  vi::MutexRelease(lock);
  return 0;
}

VRC VTimerSet(VTimer timer, double seconds) {
  if (timer == nullptr) return EINVAL;
  VRC rc = vi::EnsureRunning();
  if (rc != 0) return rc;
  vi::MutexAcquire(vi::g_lock);
  if (timer->armed != 0) vi::Unlink(timer);
  timer->period = seconds;
  vi::Arm(timer, seconds);
  vi::MutexRelease(vi::g_lock);
  return 0;
}

double VTimerLeft(VTimer timer) {
  if (timer == nullptr) return 0;
  VMutex lock = vi::LockIfRunning();
  if (lock == nullptr) return 0;
  int64_t ticks = 0;
  for (VTimerRecord *t = vi::First(); t != nullptr; t = vi::After(t)) {
    ticks += t->ticks;
    if (t == timer) break;
  }
  double left = static_cast<double>(ticks) * vi::g_resolution;
  vi::MutexRelease(lock);
  return left;
}

VRC VTimerSetData(VTimer timer, void *data) {
  if (timer == nullptr) return EINVAL;
  timer->data.store(data, std::memory_order_relaxed);
  return 0;
}

void *VTimerGetData(VTimer timer) {
  if (timer == nullptr) return nullptr;
  return timer->data.load(std::memory_order_relaxed);
}

VRC VTimerSetOneShot(VTimer timer, int oneShot) {
  if (timer == nullptr) return EINVAL;
  timer->oneShot.store(oneShot, std::memory_order_relaxed);
  return 0;
}

VRC VTimerWaitForTick(void) {
  VRC rc = vi::EnsureRunning();
  if (rc != 0) return rc;
  vi::WaitForTickAfter(vi::TickGeneration());
  return 0;
}

VTimer VTimerFlagSet(int *flag, const char *name) {
  if (flag == nullptr) return nullptr;
  return vi::CreateTimer(vi::SetFlag, flag, name);
}

VTimer VTimerFlagClear(int *flag, const char *name) {
  if (flag == nullptr) return nullptr;
  return vi::CreateTimer(vi::ClearFlag, flag, name);
}

VTimer VTimerFlagToggle(int *flag, const char *name) {
  if (flag == nullptr) return nullptr;
  return vi::CreateTimer(vi::ToggleFlag, flag, name);
}

VTimer VTimerEventTick(VEvent *event, const char *name) {
  if (event == nullptr) return nullptr;
  return vi::CreateTimer(vi::PulseEvent, event, name);
}

int VTimerSleepSet(VTimer timer, double seconds, int **abort) {
  if (timer == nullptr) return 0;
  return vi::SleepOn(timer, seconds, abort);
}

int VTimerSleep(double seconds, int **abort) {
  int flag = 0;
  VTimer timer = vi::CreateTimer(vi::SetFlag, &flag, nullptr);
  if (timer == nullptr) return 0;
  int result = vi::SleepOn(timer, seconds, abort);
  VTimerDestroy(timer);
  return result;
}

void v_usleep(unsigned microseconds) {
  if (microseconds < 1000) {
    vantrel::platform::ThreadYield();
    return;
  }
  vantrel::platform::SleepMilliseconds(microseconds / 1000);
}
