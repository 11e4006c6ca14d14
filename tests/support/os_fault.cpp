#include "support/os_fault.h"

#include <gtest/gtest.h>

namespace vtest {

namespace vp = vantrel::platform;

OsFault::OsFault(const char *op, uint64_t nth, int error, bool repeat)
    : op_(op), nth_(nth) {
  EXPECT_EQ(vp::OsCallArm(op, nth, repeat, error), 0) << "arming " << op;
}

OsFault::~OsFault() { vp::OsCallDisarm(op_); }

uint64_t OsFault::calls() const { return vp::OsCallCount(op_); }

void ReplaceOsCall(const char *op, vp::OsFunction fn,
                   vp::OsFunction *previous) {
  EXPECT_EQ(vp::OsCallReplace(op, fn, previous), 0) << "replacing " << op;
}

}  // namespace vtest
