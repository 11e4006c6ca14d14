// A queue that any number of threads add to without a lock and that one
// thread at a time takes from (the owner serialises takers with its own
// lock).  An adder swaps the tail, then links its node behind the one it
// replaced; between the two steps the queue looks shorter to the taker
// than it is.  `stub` stands in whenever the queue would otherwise be
// empty, so adders never look at the head.
#ifndef VANTREL_SERVICES_LINK_QUEUE_H
#define VANTREL_SERVICES_LINK_QUEUE_H

#include <atomic>

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
};

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_LINK_QUEUE_H
