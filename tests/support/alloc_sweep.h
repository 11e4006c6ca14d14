// Allocation-failure sweeps: run an operation with its 1st, 2nd, 3rd ...
// allocation failing until it completes without a failure, once failing only
// that allocation and once failing every allocation from it on.
#ifndef VANTREL_TESTS_ALLOC_SWEEP_H
#define VANTREL_TESTS_ALLOC_SWEEP_H

#include <stddef.h>
#include <stdint.h>

#include <functional>

namespace vtest {

// Handed to the body of a sweep.  The body sets up its state, calls Arm()
// right before the operation under test and Disarm() right after it, then
// checks the outcome: Disarm() tells whether a failure was injected.
class Fault {
 public:
  Fault(uint64_t nth, bool repeat) : nth_(nth), repeat_(repeat) {}
  void Arm();
  bool Disarm();
  uint64_t nth() const { return nth_; }
  bool repeat() const { return repeat_; }
  bool fired() const { return fired_; }
  bool armed_once() const { return armed_once_; }

 private:
  uint64_t nth_;
  bool repeat_;
  bool armed_ = false;
  bool armed_once_ = false;
  bool fired_ = false;
};

// Runs body for n = 1, 2, ... in both modes until a run in which no failure
// fired.  Fails the test if the body never armed the hook or the operation
// never succeeds within `limit` steps.  Returns the number of allocations
// the successful run made (the last n minus one).
uint64_t SweepAllocations(const std::function<void(Fault &)> &body,
                          uint64_t limit = 100000);

// malloc-shaped allocator and free-shaped release function that go through
// the library's funnel, so an armed sweep fails them too.  Pass them to the
// ...With calls.
void *FunnelMalloc(size_t size);
void FunnelFree(void *block);

// An allocator that always fails, for the ...With calls.
void *NullMalloc(size_t size);

// Counts the allocation attempts the calling thread makes through the
// funnel while it lives (other threads are not counted), for checks that an
// operation allocates nothing or a known number of times.
class AllocCounter {
 public:
  AllocCounter();
  ~AllocCounter();
  AllocCounter(const AllocCounter &) = delete;
  AllocCounter &operator=(const AllocCounter &) = delete;
  // Attempts since construction.
  uint64_t count() const;

 private:
  uint64_t start_;
};

}  // namespace vtest

#endif  // VANTREL_TESTS_ALLOC_SWEEP_H
