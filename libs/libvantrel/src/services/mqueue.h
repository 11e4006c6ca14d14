// The message queue's record and the calls the other services make on it
// without going through the exported names.
#ifndef VANTREL_SERVICES_MQUEUE_H
#define VANTREL_SERVICES_MQUEUE_H

#include <stdint.h>

#include <atomic>

#include "services/link_queue.h"
#include "services/spares.h"
#include "vantrel/vmqueue.h"
#include "vantrel/vsync.h"

// One queued message.
struct VMsgQueueNode {
  std::atomic<VMsgQueueNode *> next;
  void *message;
};

// Producers add nodes without a lock; consumers take from the head under
// `lock`.  `available` counts the messages put and not yet claimed, so a
// consumer that has claimed one always finds its node, at worst after its
// producer has finished linking; it is also the count VMsgQueueNumItems
// reports.
struct VMsgQueueRecord {
  VMutex lock;  // "MsgQueueAnon"
  VSemaphore available;
  // Apart, so that what one side writes for every message does not move
  // the cache line the other side reads.
  char apart1[64];
  // Nodes of taken messages, gathered under `lock` before being handed
  // back to producers for later puts.
  vantrel::internal::SpareStack<VMsgQueueNode, 256>::Batch taken;
  vantrel::internal::LinkQueue<VMsgQueueNode> nodes;  // taken under `lock`
  char apart2[64];
  vantrel::internal::SpareStack<VMsgQueueNode, 256> spares;
};

namespace vantrel::internal {

// VMsgQueuePut, VMsgQueueGet and VMsgQueueNumItems on a valid queue.
VRC QueuePut(VMsgQueue queue, void *message);
VRC QueueGet(VMsgQueue queue, void **out, int mode);
int QueueCount(VMsgQueue queue);

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_MQUEUE_H
