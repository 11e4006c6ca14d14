// The timer record and the service's internals, for the clock service and
// the tests.
#ifndef VANTREL_SERVICES_TIMER_H
#define VANTREL_SERVICES_TIMER_H

#include <stdint.h>

#include <atomic>

#include "vantrel/vsync.h"
#include "vantrel/vtimer.h"

// A VList item.  handler and name never change; data and the one-shot
// flag are set without the lock, so they are relaxed atomics; everything
// else is under the service lock.
struct VTimerRecord {
  VTimerHandler handler;
  std::atomic<void *> data;
  char *name;
  std::atomic<int32_t> oneShot;  // 1: fires once; 0: periodic
  double period;                 // seconds, the value last set
  int32_t ticks;  // armed: ticks after the expiry of the timer in front
  int32_t armed;  // 1 while in the service's list
};

namespace vantrel::internal {

// The service lock "Timer" (made on the first call; null when that
// failed), the number
// of ticks processed so far and the resolution in seconds (both under the
// lock), and an armed timer's own delta.  For tests.
VMutex TimerServiceLock();
uint64_t TimerTicksProcessed();
double TimerResolution();
int32_t TimerDeltaTicks(VTimer timer);

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_TIMER_H
