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

// Producers count nodes in `state` and then add them without a lock;
// consumers take from the head under `lock`, only while the puts they have
// seen exceed the takes, and count them in `takes`.  Adding a node is its
// producer's last touch of the record.
struct VMsgQueueRecord {
  VMutex lock;  // "MsgQueueAnon"
  // Messages taken, under `lock`, against the put count in `state`.
  vantrel::internal::TakeCount takes;
  // Nodes of taken messages, gathered under `lock` before being handed
  // back to producers for later puts.
  vantrel::internal::SpareStack<VMsgQueueNode, 256>::Batch taken;
  vantrel::internal::LinkQueue<VMsgQueueNode> nodes;  // taken under `lock`
  // Apart, so that what producers write for every message does not move
  // the cache line consumers write.
  char apart1[64];
  // Messages put (low half, modulo 2^32, also the word sleepers wait on),
  // consumers registered to sleep (bits 32-62) and whether a wake-up is on
  // its way to one of them (bit 63).
  std::atomic<uint64_t> state;
  char apart2[64];
  vantrel::internal::SpareStack<VMsgQueueNode, 256> spares;
};

namespace vantrel::internal {

// VMsgQueuePut, VMsgQueueGet and VMsgQueueNumItems on a valid queue.
VRC QueuePut(VMsgQueue queue, void *message);
VRC QueueGet(VMsgQueue queue, void **out, int mode);
int QueueCount(VMsgQueue queue);
// Consumers registered to sleep and not yet chosen to wake, for tests that
// must know a get has begun to wait.
int32_t QueueSleepers(VMsgQueue queue);

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_MQUEUE_H
