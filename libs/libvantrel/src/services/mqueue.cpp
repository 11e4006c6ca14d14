// VMsgQueue: a queue of one-message nodes with a semaphore that counts
// them.  Producers add a node without a lock and post; consumers claim a
// unit of the semaphore first, then take the head node under a mutex that
// only consumers share, so a producer never waits for a consumer.  Nodes
// of taken messages go back to the producers (see spares.h).
#include "services/mqueue.h"

#include <errno.h>

#include <new>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "platform/thread.h"
#include "threads/sync_internal.h"

namespace vantrel::internal {
namespace {

using Node = VMsgQueueNode;

constexpr const char *kLockName = "MsgQueueAnon";

void DestroyParts(VMsgQueueRecord *q) {
  q->spares.Give(&q->taken);
  q->spares.FreeAll();
  if (q->available != nullptr) VSemaphoreDestroy(q->available);
  if (q->lock != nullptr) VMutexDestroy(q->lock);
  Free(q);
}

VRC CreateQueue(VMsgQueue *out) {
  void *block = Calloc(1, sizeof(VMsgQueueRecord));
  if (block == nullptr) return ENOMEM;
  auto *q = new (block) VMsgQueueRecord{};
  q->nodes.Init();
  ScopeExit undo([q] { DestroyParts(q); });
  VRC rc = VMutexCreate(kLockName, &q->lock);
  if (rc != 0) return rc;
  rc = VSemaphoreCreateN(0, &q->available);
  if (rc != 0) return rc;
  undo.Dismiss();
  *out = q;
  return 0;
}

// Hands each message, oldest first, to the caller's visitor and releases
// its node.  No other thread uses the queue any more.
void Drain(VMsgQueueRecord *q, VVisitFunc visitor, void *argument) {
  while (Node *node = q->nodes.Pop()) {
    void *message = node->message;
    Free(node);
    if (visitor != nullptr) visitor(message, argument);
  }
}

}  // namespace

VRC QueuePut(VMsgQueue q, void *message) {
  void *block = q->spares.Take();
  if (block == nullptr) block = Malloc(sizeof(Node));
  if (block == nullptr) return ENOMEM;
  auto *node = static_cast<Node *>(block);
  new (node) Node{};
  node->message = message;
  q->nodes.Push(node);
  VSemaphorePost(q->available);
  return 0;
}

VRC QueueGet(VMsgQueue q, void **out, int mode) {
  VRC rc = mode == VMSGQUEUE_NOWAIT ? VSemaphoreTry(q->available)
                                    : VSemaphoreWait(q->available);
  if (rc == EAGAIN) return EAGAIN;
  if (rc != 0) return VRC_FAILURE;
  MutexAcquire(q->lock);
  Node *node = q->nodes.Pop();
  // The claimed node's producer, or one ahead of it, is between its two
  // steps: a few instructions, unless it was preempted there.
  while (node == nullptr) {
    platform::ThreadYield();
    node = q->nodes.Pop();
  }
  *out = node->message;
  q->spares.Add(&q->taken, node);
  MutexRelease(q->lock);
  return 0;
}

// Messages put and not yet claimed: a get between its claim and its take
// no longer counts its message.
int QueueCount(VMsgQueue q) { return SemaphoreCount(q->available); }

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VMsgQueueCreate(VMsgQueue *out) {
  if (out == nullptr) return EINVAL;
  return vi::CreateQueue(out);
}

VRC VMsgQueueDestroy(VMsgQueue queue, VVisitFunc visitor, void *argument) {
  if (queue == nullptr) return EINVAL;
  vi::Drain(queue, visitor, argument);
  vi::DestroyParts(queue);
  return 0;
}

VRC VMsgQueuePut(VMsgQueue queue, void *message) {
  if (queue == nullptr) return EINVAL;
  return vi::QueuePut(queue, message);
}

VRC VMsgQueueGet(VMsgQueue queue, void **out, int mode) {
  if (queue == nullptr || out == nullptr) return EINVAL;
  return vi::QueueGet(queue, out, mode);
}

int VMsgQueueNumItems(VMsgQueue queue) {
  if (queue == nullptr) return 0;
  return vi::QueueCount(queue);
}
