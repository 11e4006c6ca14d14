// VMsgQueue: a list of one-pointer items under a mutex, with a semaphore
// that counts the items.  Producers append and post; consumers claim a
// unit of the semaphore first, so the lock is only ever held for the few
// pointer operations of an append or a removal, never across a wait.
#include "services/mqueue.h"

#include <errno.h>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "threads/sync_internal.h"

namespace vantrel::internal {
namespace {

constexpr const char *kLockName = "MsgQueueAnon";

void DestroyParts(VMsgQueueRecord *q) {
  if (q->messages != nullptr)
    VListDestroyWith(q->messages, nullptr, nullptr, Free);
  if (q->available != nullptr) VSemaphoreDestroy(q->available);
  if (q->lock != nullptr) VMutexDestroy(q->lock);
  Free(q);
}

VRC CreateQueue(VMsgQueue *out) {
  auto *q = static_cast<VMsgQueueRecord *>(Calloc(1, sizeof(VMsgQueueRecord)));
  if (q == nullptr) return ENOMEM;
  ScopeExit undo([q] { DestroyParts(q); });
  VRC rc = VMutexCreate(kLockName, &q->lock);
  if (rc != 0) return rc;
  rc = VSemaphoreCreateN(0, &q->available);
  if (rc != 0) return rc;
  q->messages = VListCreateWith(Malloc);
  if (q->messages == nullptr) return ENOMEM;
  undo.Dismiss();
  *out = q;
  return 0;
}

struct Visit {
  VVisitFunc visitor;
  void *argument;
};

// Hands each item's message, oldest first, to the caller's visitor, and
// releases the item (the list leaves its items to its owner).
int VisitMessage(void *item, void *arg) {
  auto *visit = static_cast<Visit *>(arg);
  void *message = *static_cast<void **>(item);
  VListFreeWith(item, Free);
  if (visit->visitor != nullptr) visit->visitor(message, visit->argument);
  return 0;
}

}  // namespace

VRC QueuePut(VMsgQueue q, void *message) {
  void *item = VListAllocWith(Malloc, sizeof(void *));
  if (item == nullptr) return ENOMEM;
  *static_cast<void **>(item) = message;
  MutexAcquire(q->lock);
  VListInsertAfter(q->messages, item, VListTail(q->messages));
  MutexRelease(q->lock);
  VSemaphorePost(q->available);
  return 0;
}

namespace {

// Removes the head item, which a claimed unit guarantees.
void *TakeClaimed(VMsgQueue q) {
  MutexAcquire(q->lock);
  void *item = VListDeleteNext(q->messages, VListHead(q->messages));
  MutexRelease(q->lock);
  return item;
}

}  // namespace

VRC QueueGet(VMsgQueue q, void **out, int mode) {
  VRC rc = mode == VMSGQUEUE_NOWAIT ? VSemaphoreTry(q->available)
                                    : VSemaphoreWait(q->available);
  if (rc == EAGAIN) return EAGAIN;
  if (rc != 0) return VRC_FAILURE;
  void *item = TakeClaimed(q);
  *out = *static_cast<void **>(item);
  VListFreeWith(item, Free);
  return 0;
}

int QueueCount(VMsgQueue q) {
  MutexAcquire(q->lock);
  int n = VListNumItems(q->messages);
  MutexRelease(q->lock);
  return n;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VMsgQueueCreate(VMsgQueue *out) {
  if (out == nullptr) return EINVAL;
  return vi::CreateQueue(out);
}

VRC VMsgQueueDestroy(VMsgQueue queue, VVisitFunc visitor, void *argument) {
  if (queue == nullptr) return EINVAL;
  vi::Visit visit{visitor, argument};
  VListFlush(queue->messages, vi::VisitMessage, &visit);
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
