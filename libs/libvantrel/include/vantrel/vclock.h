/* The clock service: periodic wall-clock ticks delivered to message
 * queues.  A client registers a VMsgQueue with a rate in whole seconds;
 * every that many seconds the service puts the current UTC time (seconds
 * since 1970, in the message's pointer-sized value: (void *)(uintptr_t)t)
 * onto the queue, so a thread that already waits on its queue for work
 * also receives its housekeeping ticks there.  The receiver frees
 * nothing.
 *
 * One process-wide thread named "CLOCK" serves every registration,
 * woken each second by a periodic timer of the timer service (vtimer.h).
 * A tick that arrives while it is still delivering is lost: the service
 * never catches up on missed seconds.  Registrations are guarded by the
 * lock "ClockSubsystem", which is taken before any queue's lock. */
#ifndef VANTREL_VCLOCK_H
#define VANTREL_VCLOCK_H

#include "vantrel/vbase.h"
#include "vantrel/vmqueue.h"

VANTREL_BEGIN_DECLS

/* The first successful call starts the service; every call counts one
 * more instance.  Returns 0; VRC_FAILURE (-19) when the service lock could
 * not be made; otherwise the code of the failing start-up step (logged;
 * the next call tries again). */
VANTREL_API VRC VClockStart(void);

/* Counts one instance less.  The service keeps running, also at 0.
 * Returns 0. */
VANTREL_API VRC VClockStop(void);

/* Registers queue to receive a tick every `seconds` seconds, the first
 * one `seconds` seconds from now; a rate of 0 or less never delivers.  A
 * queue may be registered several times; each registration ticks on its
 * own.  A queue must be removed before it is destroyed.  Returns 0;
 * ENOMEM (12); VRC_NOT_READY (-32) when the service was never started. */
VANTREL_API VRC VClockAddMsgQueue(VMsgQueue queue, int seconds);

/* Removes the first registration of queue.  Returns 0, or VRC_NOT_FOUND
 * (-22) when it has none. */
VANTREL_API VRC VClockRemoveMsgQueue(VMsgQueue queue);

/* Sets the rate of queue's first registration and restarts its count:
 * the next tick comes a full new period later.  Returns 0, or
 * VRC_NOT_FOUND (-22). */
VANTREL_API VRC VClockSetRateMsgQueue(VMsgQueue queue, int seconds);

/* A visitor for VMsgQueueDestroy on a queue of ticks: ticks own nothing,
 * so it does nothing.  Returns 0. */
VANTREL_API int VClockMsgQueueFree(void *message, void *argument);

VANTREL_END_DECLS

#endif /* VANTREL_VCLOCK_H */
