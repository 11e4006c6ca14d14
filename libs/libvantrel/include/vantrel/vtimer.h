/* Timers: callbacks after a delay, once or periodically, run by one
 * process-wide thread named "TIMER" that ticks at a fixed resolution on
 * the monotonic clock (setting the date neither stalls nor hurries a
 * timer).  Delays count in whole ticks: a timer set for d seconds fires
 * on the ceil(d / resolution)-th tick after it was set, at least the next
 * one.  Pending timers form a delta list, so a tick costs one decrement
 * however many are pending.
 *
 * Handlers run on the "TIMER" thread in expiry order while it holds the
 * service lock "Timer", which is re-entrant: a handler may set, remove or
 * destroy timers, its own included, but must not block for long.
 *
 * VTimerInit starts the service; the calls that need it running (set,
 * wait for a tick, sleeps) start it at a resolution of 1 second when it
 * was never started.  Once running it stays running until the process
 * ends. */
#ifndef VANTREL_VTIMER_H
#define VANTREL_VTIMER_H

#include "vantrel/vbase.h"
#include "vantrel/vsync.h"

VANTREL_BEGIN_DECLS

/* Handle of a timer. */
typedef struct VTimerRecord *VTimer;

/* A timer's handler; its result is ignored. */
typedef VRC (*VTimerHandler)(void *data);

/* Resolution the service starts with when a call needs it before any
 * VTimerInit. */
#define VTIMER_DEFAULT_RESOLUTION 1.0

/* Starts the service with a tick of `seconds` (> 0), or makes a running
 * service's tick finer: a smaller value rescales every armed timer's
 * remaining ticks to the new tick; an equal or larger one changes nothing.
 * Returns 0; EINVAL (22) for a resolution that is not positive; the code
 * of the service lock's creation when it failed (on every call); ENOMEM
 * (12) or the code of the event or thread that could not be made (the
 * service then stays stopped and a later call tries again). */
VANTREL_API VRC VTimerInit(double seconds);

/* A new idle one-shot timer that will call handler(data).  The name is
 * copied; null gives the catalog's "Anonymous".  Null when memory runs
 * out or handler is null. */
VANTREL_API VTimer VTimerCreate(VTimerHandler handler, void *data,
                                const char *name);

/* Disarms the timer if armed and releases it.  Returns 0. */
VANTREL_API VRC VTimerDestroy(VTimer timer);

/* Disarms an armed timer (the timers behind it keep their expiry); an
 * idle timer is left alone.  A periodic timer that removes itself from its
 * own handler is not armed again.  Returns 0. */
VANTREL_API VRC VTimerRemove(VTimer timer);

/* Disarms the timer if armed, stores `seconds` as its period and arms it
 * to fire after that delay (whole ticks, at least one).  Returns 0, or
 * the service's start-up code. */
VANTREL_API VRC VTimerSet(VTimer timer, double seconds);

/* Seconds until an armed timer fires, to tick precision.  For an idle
 * timer: the time until the last armed timer fires (0 with none). */
VANTREL_API double VTimerLeft(VTimer timer);

/* Plain field access, without locking. */
VANTREL_API VRC VTimerSetData(VTimer timer, void *data);
VANTREL_API void *VTimerGetData(VTimer timer);
/* 1: fires once (the default); 0: re-armed with its period after each
 * firing.  Returns 0. */
VANTREL_API VRC VTimerSetOneShot(VTimer timer, int oneShot);

/* Waits without limit until the tick being processed, or the next one,
 * has been processed.  Returns 0, or the service's start-up code. */
VANTREL_API VRC VTimerWaitForTick(void);

/* Idle timers whose handler sets *flag to 1, sets it to 0, or toggles it
 * (non-zero becomes 0, 0 becomes 1).  The flag is written with an atomic
 * store; readers in other threads should read it atomically.  Null when
 * memory runs out or flag is null. */
VANTREL_API VTimer VTimerFlagSet(int *flag, const char *name);
VANTREL_API VTimer VTimerFlagClear(int *flag, const char *name);
VANTREL_API VTimer VTimerFlagToggle(int *flag, const char *name);

/* An idle timer whose handler pulses *event (the handle variable is read
 * at each firing).  Null when memory runs out or event is null. */
VANTREL_API VTimer VTimerEventTick(VEvent *event, const char *name);

/* For a timer made by VTimerFlagSet: clears its flag, arms it for
 * `seconds` and waits tick by tick until the flag is set; returns 1.
 * Before each wait it reads the flags that `abort` points at (an array of
 * int pointers ended by a null; abort itself may be null): when one is
 * non-zero the timer is removed and 0 returned.  Returns 0 at once for a
 * timer without data or when the service cannot start. */
VANTREL_API int VTimerSleepSet(VTimer timer, double seconds, int **abort);

/* VTimerSleepSet over a timer of its own: 1 after `seconds` (to tick
 * precision), 0 when aborted or when the timer cannot be made. */
VANTREL_API int VTimerSleep(double seconds, int **abort);

/* Suspends the calling thread for microseconds / 1000 milliseconds,
 * truncated; below 1000 it only yields the processor. */
VANTREL_API void v_usleep(unsigned microseconds);

VANTREL_END_DECLS

#endif /* VANTREL_VTIMER_H */
