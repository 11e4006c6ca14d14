// A queue that any number of threads add to without a lock and that one
// thread at a time takes from (the owner serialises takers with its own
// lock).  An adder swaps the tail, then links its node behind the one it
// replaced; between the two steps the queue looks shorter to the taker
// than it is.  `stub` stands in whenever the queue would otherwise be
// empty, so adders never look at the head.
#ifndef VANTREL_SERVICES_LINK_QUEUE_H
#define VANTREL_SERVICES_LINK_QUEUE_H

#include <stdint.h>

#include <atomic>

#include "platform/thread.h"

namespace vantrel::internal {

// T has a `std::atomic<T *> next`.  The queue must not move once Init has
// run: the stub points into it.
template <typename T>
struct LinkQueue {
  T *head;
  char apart1[64];  // the taker writes `head`, adders `tail`
  std::atomic<T *> tail;
  char apart2[64];
  T stub;

  void Init() {
    head = &stub;
    tail.store(&stub, std::memory_order_relaxed);
  }

  void Push(T *node) {
    node->next.store(nullptr, std::memory_order_relaxed);
    T *previous = tail.exchange(node, std::memory_order_acq_rel);
    previous->next.store(node, std::memory_order_release);
  }

  // The oldest node, or null when there is none or the next one is still
  // being linked.
  T *Pop() {
    T *first = head;
    T *next = first->next.load(std::memory_order_acquire);
    if (first == &stub) {
      if (next == nullptr) return nullptr;
      head = first = next;
      next = next->next.load(std::memory_order_acquire);
    }
    if (next != nullptr) {
      head = next;
      return first;
    }
    // `first` is the last node linked: put the stub behind it so that it
    // can leave, unless an add is half done behind it.
    if (first != tail.load(std::memory_order_acquire)) return nullptr;
    Push(&stub);
    next = first->next.load(std::memory_order_acquire);
    if (next == nullptr) return nullptr;
    head = next;
    return first;
  }

  // The oldest node, for a taker that has claimed a counted one: adders
  // count a node before linking it, so it may still be a few instructions
  // away (more if its adder was preempted in between).
  T *PopClaimed() {
    T *node;
    while ((node = Pop()) == nullptr) platform::ThreadYield();
    return node;
  }
};

// The takers' count of a queue whose adders count entries on a word of
// their own, so that neither side changes a word the other changes for
// every entry.  Used under the takers' lock.
struct TakeCount {
  std::atomic<uint32_t> taken;  // modulo 2^32; read by anyone
  uint32_t seen;                // the adders' count as last read

  // Claims an entry when the adders' count says one is there; added()
  // reads that count, only once the last one read is used up, so a run of
  // takes reads the adders' word once.
  template <typename Added>
  bool Claim(Added added) {
    uint32_t count = taken.load(std::memory_order_relaxed);
    if (seen == count) seen = added();
    if (seen == count) return false;
    taken.store(count + 1, std::memory_order_release);
    return true;
  }
};

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_LINK_QUEUE_H
