/* Threads: named threads with a per-thread record, a process-wide table of
 * those records keyed by the system thread id, cooperative stop, joinable
 * threads, and thread-local data keys.
 *
 * Every thread that calls into the library has a record: threads started
 * with VThreadSpawn get theirs at once, the thread that initialises the
 * library is "MAIN", and any other thread gets an "UNKNOWN!" record on its
 * first VThreadGetID.  The record also holds the thread's error buffer and
 * exception chain. */
#ifndef VANTREL_VTHREAD_H
#define VANTREL_VTHREAD_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* Handle of a thread record. */
typedef struct VThreadData *VThread;

/* Handle of a thread-local data key. */
typedef struct VThreadDataKeyData *VThreadDataKey;

/* The routine a spawned thread runs; its result is the thread's exit code. */
typedef VRC (*VThreadRoutine)(VThread self, void *argument);

/* VThreadAttr.flags bits. */
#define VTHREAD_ATTR_STACK_SIZE 1u /* stackSize is to be used */
#define VTHREAD_ATTR_JOINABLE 64u  /* the record stays until VThreadDestroy */

/* Stack size of a thread spawned without VTHREAD_ATTR_STACK_SIZE. */
#define VTHREAD_DEFAULT_STACK_SIZE 65536u

/* Optional attributes of VThreadSpawn. */
typedef struct VThreadAttr {
  uint32_t flags;     /* VTHREAD_ATTR_... bits */
  uint32_t stackSize; /* bytes, used with VTHREAD_ATTR_STACK_SIZE */
} VThreadAttr;

/* Starts a thread named `name` (cut to 43 characters; null gives an empty
 * name) that runs routine(record, argument).  *out is set to null first and
 * to the new record on success; the routine always finds *out set and its
 * record in the table.  A record is released by the thread itself when the
 * routine returns, unless attributes ask for a joinable thread. Returns 0;
 * ENOMEM (12) when the record cannot be allocated; the semaphores' code when
 * they cannot be made; VRC_FAILURE (-19) when the platform cannot start the
 * thread.  On failure nothing is left behind. */
VANTREL_API VRC VThreadSpawn(const char *name, VThreadRoutine routine,
                             void *argument, const VThreadAttr *attributes,
                             VThread *out);

/* Joinable threads only, at most once: waits until the routine has
 * returned, releases the record and returns the routine's exit code. */
VANTREL_API VRC VThreadDestroy(VThread thread);

/* Clears the thread's continue flag; the thread is not interrupted. */
VANTREL_API void VThreadScheduleStop(VThread thread);

/* 1 until VThreadScheduleStop was called on the thread, then 0. */
VANTREL_API int VThreadShouldContinue(VThread thread);

/* The record's name; valid as long as the record. */
VANTREL_API const char *VThreadGetName(VThread thread);

/* The calling thread's record, made on the fly ("UNKNOWN!") for a thread
 * the library did not start.  Null before the thread subsystem is
 * initialised or when a new record cannot be allocated. */
VANTREL_API VThread VThreadGetID(void);

/* Creates a process-wide key; each thread sees its own value (initially
 * null).  *out is set to null first.
 * Returns 0; ENOMEM (12); VRC_FAILURE (-19) when the platform has no key
 * left. */
VANTREL_API VRC VThreadDataKeyCreate(VThreadDataKey *out);

/* Releases the key.  Returns 0, or VRC_FAILURE (-19) when the platform
 * refuses; the key then stays valid. */
VANTREL_API VRC VThreadDataKeyDestroy(VThreadDataKey key);

/* Stores value for the calling thread.  Returns 0 or VRC_FAILURE (-19). */
VANTREL_API VRC VThreadDataSet(VThreadDataKey key, void *value);

/* Delivers the calling thread's value (null if never set).  Returns 0. */
VANTREL_API VRC VThreadDataGet(VThreadDataKey key, void **out);

VANTREL_END_DECLS

#endif /* VANTREL_VTHREAD_H */
