// The message queue's record and the calls the other services make on it
// without going through the exported names.
#ifndef VANTREL_SERVICES_MQUEUE_H
#define VANTREL_SERVICES_MQUEUE_H

#include "vantrel/vlist.h"
#include "vantrel/vmqueue.h"
#include "vantrel/vsync.h"

// The list is touched only under `lock`; `available` counts the messages
// put and not yet claimed, so a consumer that has claimed one always finds
// an item in the list.
struct VMsgQueueRecord {
  VMutex lock;  // "MsgQueueAnon"
  VSemaphore available;
  VList *messages;  // items hold one pointer each
};

namespace vantrel::internal {

// VMsgQueuePut, VMsgQueueGet and VMsgQueueNumItems on a valid queue.
VRC QueuePut(VMsgQueue queue, void *message);
// A list item for QueuePutItem, made ahead by a caller that must not fail
// later; null when it cannot be allocated.  The get that takes its message
// releases it.
void *QueueNewItem();
// Appends message in an item from QueueNewItem; cannot fail.
void QueuePutItem(VMsgQueue queue, void *item, void *message);
VRC QueueGet(VMsgQueue queue, void **out, int mode);
int QueueCount(VMsgQueue queue);
// For a caller that allocates each message together with its list item
// (one block, released by the caller): QueuePutItem with such an item;
// these take the oldest item without releasing it (its first pointer is
// the message).  QueueTryGetItem returns null at once when the queue is
// empty, at the cost of no lock.
void *QueueGetItem(VMsgQueue queue);
void *QueueTryGetItem(VMsgQueue queue);
// Hands every queued item, oldest first, to fn(item, arg) without
// releasing it; the queue is left empty.  No other thread may use it.
void QueueDrainItems(VMsgQueue queue, void (*fn)(void *item, void *arg),
                     void *arg);

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_MQUEUE_H
