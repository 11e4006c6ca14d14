/* Message queues: unbounded first-in-first-out queues of pointer-sized
 * messages between threads.  Any number of threads put and get at once;
 * a consumer either waits for a message or asks without waiting.  The
 * queue never looks at a message: it is usually a pointer to a record the
 * sender hands over to whoever gets it.
 *
 * Each message costs one allocation when put and its release when got.
 * There is no time limit on a waiting get and no close: a queue must not
 * be destroyed while a thread still uses it. */
#ifndef VANTREL_VMQUEUE_H
#define VANTREL_VMQUEUE_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* Handle of a message queue. */
typedef struct VMsgQueueRecord *VMsgQueue;

/* Modes of VMsgQueueGet. */
#define VMSGQUEUE_WAIT 1   /* wait without limit for a message */
#define VMSGQUEUE_NOWAIT 2 /* return EAGAIN (11) at once when empty */

/* Creates an empty queue with its lock (named "MsgQueueAnon") and
 * stores it in *out.  Returns 0, ENOMEM (12), or the code of the lock
 * that could not be made; on failure nothing is left behind. */
VANTREL_API VRC VMsgQueueCreate(VMsgQueue *out);

/* Hands every message still queued, oldest first, to visitor(message,
 * argument) (its result is ignored; a null visitor drops them), then
 * releases the queue.  No thread may be using the queue.  Returns 0. */
VANTREL_API VRC VMsgQueueDestroy(VMsgQueue queue, VVisitFunc visitor,
                                 void *argument);

/* Appends message at the tail and wakes one waiting consumer.  Returns 0,
 * or ENOMEM (12) with the queue unchanged.  Never blocks for longer than
 * the few pointer operations of the append. */
VANTREL_API VRC VMsgQueuePut(VMsgQueue queue, void *message);

/* Takes the oldest message into *out.  With VMSGQUEUE_NOWAIT returns
 * EAGAIN (11) at once, leaving *out untouched, when nothing is queued;
 * with any other mode waits without limit for a message.  Returns 0 with
 * a message; VRC_FAILURE (-19) when the wait fails otherwise. */
VANTREL_API VRC VMsgQueueGet(VMsgQueue queue, void **out, int mode);

/* The number of messages queued now (0 for a null queue). */
VANTREL_API int VMsgQueueNumItems(VMsgQueue queue);

VANTREL_END_DECLS

#endif /* VANTREL_VMQUEUE_H */
