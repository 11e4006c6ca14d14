// Spare records for a producer that allocates a record per item and
// consumers on other threads that release them: the records go back to
// the producer instead of the allocator, where both sides would meet for
// every item.  Consumers hand them back in batches, with one atomic step
// per batch; one producer at a time takes the whole stack and uses it up,
// so a record can never leave and come back under a take.
#ifndef VANTREL_SERVICES_SPARES_H
#define VANTREL_SERVICES_SPARES_H

#include <stdint.h>

#include <atomic>

#include "internal/alloc.h"

namespace vantrel::internal {

// T has a `std::atomic<T *> next`, free while the record is spare.  At most
// about kLimit records are kept; the rest are freed.
template <typename T, int32_t kLimit>
class SpareStack {
 public:
  // A consumer's released records, not yet handed back.
  struct Batch {
    T *first = nullptr;
    T *last = nullptr;
    int32_t count = 0;
  };
  static constexpr int32_t kBatch = 16;

  void Add(Batch *batch, T *record) {
    record->next.store(batch->first, std::memory_order_relaxed);
    batch->first = record;
    if (batch->last == nullptr) batch->last = record;
    if (++batch->count == kBatch) Give(batch);
  }

  // Hands a batch back, or frees it when enough are kept.
  void Give(Batch *batch) {
    if (batch->count == 0) return;
    if (count_.load(std::memory_order_relaxed) >= kLimit) {
      FreeChain(batch->first);
    } else {
      T *top = stack_.load(std::memory_order_relaxed);
      do {
        batch->last->next.store(top, std::memory_order_relaxed);
      } while (!stack_.compare_exchange_weak(top, batch->first,
                                             std::memory_order_release,
                                             std::memory_order_relaxed));
      // Counted once on the stack: a count that has grown since the
      // producer last took means records are there to take.
      count_.fetch_add(batch->count, std::memory_order_release);
    }
    *batch = Batch{};
  }

  // A kept record, or null (also while another producer takes one).
  T *Take() {
    if (taking_.exchange(true, std::memory_order_acquire)) return nullptr;
    T *record = taken_;
    if (record == nullptr &&
        stack_.load(std::memory_order_relaxed) != nullptr) {
      record = stack_.exchange(nullptr, std::memory_order_acquire);
    }
    if (record != nullptr) {
      taken_ = record->next.load(std::memory_order_relaxed);
      // Uncounted a batch at a time: the count's line is the one consumers
      // write, and the limit need not be exact.
      int32_t uncounted = uncounted_.load(std::memory_order_relaxed) + 1;
      if (uncounted == kBatch) {
        count_.fetch_sub(kBatch, std::memory_order_relaxed);
        uncounted = 0;
      }
      uncounted_.store(uncounted, std::memory_order_relaxed);
    }
    taking_.store(false, std::memory_order_release);
    return record;
  }

  // The records kept (exact while nobody gives or takes).
  int32_t Kept() const {
    return count_.load(std::memory_order_acquire) -
           uncounted_.load(std::memory_order_relaxed);
  }

  // Frees every kept record; no other thread may use the stack.
  void FreeAll() {
    FreeChain(taken_);
    FreeChain(stack_.exchange(nullptr, std::memory_order_acquire));
    taken_ = nullptr;
    uncounted_.store(0, std::memory_order_relaxed);
    count_.store(0, std::memory_order_relaxed);
  }

  static void FreeChain(T *record) {
    while (record != nullptr) {
      T *next = record->next.load(std::memory_order_relaxed);
      Free(record);
      record = next;
    }
  }

 private:
  std::atomic<T *> stack_{nullptr};
  std::atomic<int32_t> count_{0};
  char apart_[64];  // from the fields consumers write
  std::atomic<bool> taking_{false};
  T *taken_ = nullptr;  // while holding `taking_`
  // Taken and still in `count_`; written while holding `taking_`.
  std::atomic<int32_t> uncounted_{0};
  char after_[64];  // from whatever the owner places behind
};

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_SPARES_H
