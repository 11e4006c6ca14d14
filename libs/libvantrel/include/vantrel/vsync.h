/* Synchronisation objects: named re-entrant mutexes, condition variables,
 * reader/writer locks with writer preference, events (pulses), gates,
 * counting semaphores and one-time initialisation.
 *
 * Every object is a heap record made by its create call and released by
 * its destroy call; handles are opaque.  Waits are in milliseconds, and
 * VSYNC_INFINITE waits without limit.  Null handles are refused (see
 * vbase.h); any other misuse, such as a destroyed object or an unlock by a
 * thread that does not hold the mutex, is not detected. */
#ifndef VANTREL_VSYNC_H
#define VANTREL_VSYNC_H

#include "vantrel/vbase.h"
#include "vantrel/vrc.h"

VANTREL_BEGIN_DECLS

/* Handles of the synchronisation objects. */
typedef struct VMutexRecord *VMutex;
typedef struct VCondRecord *VCond;
typedef struct VRWLockRecord *VRWLock;
typedef struct VEventRecord *VEvent;
typedef struct VGateRecord *VGate;
typedef struct VSemaphoreRecord *VSemaphore;

/* A wait limit meaning "no limit". */
#define VSYNC_INFINITE 0xFFFFFFFFu

/* Largest count of a VSemaphore; posts beyond it are clamped silently. */
#define VSEMAPHORE_MAX_COUNT 134217727

/* Length of object names kept by VMutex and VRWLock; longer names are cut. */
#define VSYNC_NAME_MAX 40

/* ---- Mutex: re-entrant for its owner, which must unlock it as many times
 * as it locked it. */

/* Creates an unlocked mutex named `name` (required; cut to 40 characters;
 * only stored, not visible to other processes).  0, ENOMEM (12) when the
 * record cannot be allocated, VRC_FAILURE (-19) when the system lock cannot
 * be made. */
VANTREL_API VRC VMutexCreate(const char *name, VMutex *out);
/* Releases an unheld mutex nobody waits on; 0. */
VANTREL_API VRC VMutexDestroy(VMutex m);
/* Waits without limit, then records the caller as owner; 0. */
VANTREL_API VRC VMutexLock(VMutex m);
/* Clears the owner, then releases one level of the caller's hold; 0. */
VANTREL_API VRC VMutexUnlock(VMutex m);
/* Locks without waiting: 0, or VRC_MUTEX_BUSY (-80) when another thread
 * holds the mutex.  The owner may lock again (re-entrant). */
VANTREL_API VRC VMutexTryLock(VMutex m);
/* 1 when an owner is recorded, else 0; reads without locking, so the answer
 * may be stale by the time the caller sees it.  The owner is cleared by the
 * first unlock even when the owner still holds nested levels. */
VANTREL_API int VMutexIsLocked(VMutex m);

/* ---- Condition variable, always used with the same VMutex. */

/* 0, ENOMEM (12) when the record cannot be allocated, VRC_FAILURE (-19) when a
 * system object cannot be made (nothing is left behind). */
VANTREL_API VRC VCondCreate(VCond *out);
/* Releases a condition variable nobody waits on; 0. */
VANTREL_API VRC VCondDestroy(VCond c);
/* Wakes every thread waiting at this moment and returns only after all of
 * them have left their wait (they may still be re-acquiring the mutex).
 * There is no separate broadcast.  The caller should hold the waiters'
 * mutex.  0. */
VANTREL_API VRC VCondSignal(VCond c);
/* VCondTimedWait without a limit. */
VANTREL_API VRC VCondWait(VCond c, VMutex m);
/* The caller holds m exactly once (a nested hold would not be released
 * while it sleeps).  Atomically releases m and waits for a signal; m is
 * held again, with the caller as owner, in every case on return.  0 when
 * signalled, VRC_TIMEOUT (-18) when the limit passed first. */
VANTREL_API VRC VCondTimedWait(VCond c, VMutex m, unsigned milliseconds);

/* ---- Reader/writer lock with writer preference: a waiting writer holds
 * back every new reader.  Read access must not be nested, the lock does not
 * record who holds it, and any thread may release it. */

/* Creates the lock with its inner mutex "RWLockAnon" and condition
 * variable; 0, ENOMEM (12) when the record cannot be allocated, or the code of
 * the inner object that could not be made (nothing is left behind). */
VANTREL_API VRC VRWLockCreate(const char *name, VRWLock *out);
/* Releases a lock nobody holds or waits on; 0. */
VANTREL_API VRC VRWLockDestroy(VRWLock l);
/* Wait without limit for read or write access; 0. */
VANTREL_API VRC VRWLockForRead(VRWLock l);
VANTREL_API VRC VRWLockForWrite(VRWLock l);
/* Gives up the access held (the writer's when one is active, else one
 * reader's) and wakes every waiter to test its condition again; 0. */
VANTREL_API VRC VRWLockUnlock(VRWLock l);

/* ---- Event: a pulse that releases the threads waiting at that moment. */

/* 0, ENOMEM (12) when the record cannot be allocated, VRC_FAILURE (-19) when a
 * system object cannot be made. */
VANTREL_API VRC VEventCreate(VEvent *out);
/* Releases an event nobody waits on; 0. */
VANTREL_API VRC VEventDestroy(VEvent e);
/* Releases every thread waiting now; a signal with no waiter is lost.  0. */
VANTREL_API VRC VEventSignal(VEvent e);
/* Waits without limit for the next signal; 0. */
VANTREL_API VRC VEventWait(VEvent e);
/* Waits at most `milliseconds` for the next signal; 0 either way. */
VANTREL_API VRC VEventTimedWait(VEvent e, unsigned milliseconds);

/* ---- Gate: open (everyone passes), closed (everyone waits) or pulsed. */

/* Creates a closed gate; 0, ENOMEM (12) when the record cannot be
 * allocated, VRC_FAILURE (-19) when a system object cannot be made. */
VANTREL_API VRC VGateCreate(VGate *out);
/* Releases a gate nobody waits on; 0. */
VANTREL_API VRC VGateDestroy(VGate g);
/* Opens the gate until VGateClose; present and future waiters pass.  0. */
VANTREL_API VRC VGateOpen(VGate g);
/* Closes the gate: later waiters wait until it opens or is released.  0. */
VANTREL_API VRC VGateClose(VGate g);
/* Lets the threads waiting now pass and leaves the gate closed; 0. */
VANTREL_API VRC VGateRelease(VGate g);
/* Waits without limit until the gate is open or released; 0. */
VANTREL_API VRC VGateWait(VGate g);

/* ---- Counting semaphore, maximum count VSEMAPHORE_MAX_COUNT. */

/* 0, ENOMEM (12) when the record cannot be allocated, VRC_FAILURE (-19) when
 * the semaphore cannot be made (also for an initial count outside
 * 0..VSEMAPHORE_MAX_COUNT). */
VANTREL_API VRC VSemaphoreCreateN(int initial, VSemaphore *out);
/* Releases a semaphore nobody waits on; 0. */
VANTREL_API VRC VSemaphoreDestroy(VSemaphore s);
/* Add 1 or n (n < 1 adds nothing) to the count, clamped at the maximum
 * without report; 0. */
VANTREL_API VRC VSemaphorePost(VSemaphore s);
VANTREL_API VRC VSemaphorePostN(VSemaphore s, int n);
/* Waits without limit until the count is positive and takes 1; 0. */
VANTREL_API VRC VSemaphoreWait(VSemaphore s);
/* Takes 1 without waiting: 0, or EAGAIN (11) when the count is 0. */
VANTREL_API VRC VSemaphoreTry(VSemaphore s);

/* ---- One-time initialisation. */

/* Control of one initialisation, normally a static object set to
 * VONETIME_INIT.  The lock is made on first use and never released. */
typedef struct VOneTime {
  void *lock;   /* the library's; null until first use */
  int32_t done; /* non-zero once the routine has run */
} VOneTime;

/* The initial value of a VOneTime. */
#define VONETIME_INIT \
  { 0, 0 }

/* The initialisation routine: no argument, nothing returned. */
typedef void (*VOneTimeRoutine)(void);

/* Runs routine exactly once per control however many threads call at once;
 * callers arriving while it runs return after it has finished.  A call made
 * by the routine itself on its own control returns at once.  0, or EINVAL
 * (22) for a null control or routine. */
VANTREL_API VRC VOneTimeInitialise(VOneTime *control, VOneTimeRoutine routine);

VANTREL_END_DECLS

#endif /* VANTREL_VSYNC_H */
