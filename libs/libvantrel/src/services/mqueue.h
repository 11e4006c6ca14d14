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
VRC QueueGet(VMsgQueue queue, void **out, int mode);
int QueueCount(VMsgQueue queue);

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_MQUEUE_H
