#include "support/alloc_sweep.h"

#include <gtest/gtest.h>

#include "internal/alloc.h"

namespace vtest {

namespace vi = vantrel::internal;

void Fault::Arm() {
  armed_ = true;
  armed_once_ = true;
  vi::AllocFailArm(nth_, repeat_);
}

bool Fault::Disarm() {
  if (armed_) fired_ = vi::AllocFailDisarm() || fired_;
  armed_ = false;
  return fired_;
}

uint64_t SweepAllocations(const std::function<void(Fault &)> &body,
                          uint64_t limit) {
  uint64_t needed = 0;
  for (bool repeat : {false, true}) {
    for (uint64_t n = 1;; ++n) {
      SCOPED_TRACE(testing::Message()
                   << "allocation " << n << (repeat ? " and later" : "")
                   << " failing");
      Fault fault(n, repeat);
      body(fault);
      bool fired = fault.Disarm();
      if (!fault.armed_once()) {
        ADD_FAILURE() << "sweep body never armed the fault";
        return needed;
      }
      if (!fired) {
        needed = n - 1;
        break;
      }
      if (n >= limit || testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "sweep did not finish";
        return needed;
      }
    }
  }
  return needed;
}

void *FunnelMalloc(size_t size) { return vi::Malloc(size); }
void FunnelFree(void *block) { vi::Free(block); }
void *NullMalloc(size_t) { return nullptr; }
AllocCounter::AllocCounter() {
  vi::AllocCountBegin();
  start_ = vi::AllocThreadCount();
}

AllocCounter::~AllocCounter() { vi::AllocCountEnd(); }

uint64_t AllocCounter::count() const { return vi::AllocThreadCount() - start_; }

}  // namespace vtest
