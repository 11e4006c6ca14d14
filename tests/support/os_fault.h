// Failures, counts and stand-ins for the library's operating-system calls,
// through the platform layer's table of calls.  Operations are named as the
// system calls are ("open", "rename", "connect", "dlopen", ...).
#ifndef VANTREL_TESTS_OS_FAULT_H
#define VANTREL_TESTS_OS_FAULT_H

#include <stdint.h>

#include "platform/oscall.h"

namespace vtest {

// While it lives, call `nth` (1 is the next) of the named operation fails
// with `error` (and with repeat every later call too), whichever thread
// makes it; the failure looks as the system reports it (-1 and errno, null
// and errno, or the error returned).  nth 0 only counts the calls.
class OsFault {
 public:
  OsFault(const char *op, uint64_t nth, int error, bool repeat = false);
  ~OsFault();
  OsFault(const OsFault &) = delete;
  OsFault &operator=(const OsFault &) = delete;
  // Calls of the operation since construction, from every thread.
  uint64_t calls() const;
  // True once a call has been failed.
  bool fired() const { return nth_ != 0 && calls() >= nth_; }

 private:
  const char *op_;
  uint64_t nth_;
};

// Counts the calls of the named operation while it lives.
class OsCallCounter : public OsFault {
 public:
  explicit OsCallCounter(const char *op) : OsFault(op, 0, 0) {}
};

// OsCallReplace, reporting an unknown operation as a test failure.
void ReplaceOsCall(const char *op, vantrel::platform::OsFunction fn,
                   vantrel::platform::OsFunction *previous);

// While it lives, the named operation runs fn instead of the system's call.
// Fn must be the operation's exact function-pointer type; previous() is the
// function it stands in for.
template <class Fn>
class OsOverride {
 public:
  OsOverride(const char *op, Fn fn) : op_(op) {
    ReplaceOsCall(op, reinterpret_cast<vantrel::platform::OsFunction>(fn),
                  &previous_);
  }
  ~OsOverride() {
    vantrel::platform::OsFunction ignored;
    ReplaceOsCall(op_, previous_, &ignored);
  }
  OsOverride(const OsOverride &) = delete;
  OsOverride &operator=(const OsOverride &) = delete;
  Fn previous() const { return reinterpret_cast<Fn>(previous_); }

 private:
  const char *op_;
  vantrel::platform::OsFunction previous_ = nullptr;
};

}  // namespace vtest

#endif  // VANTREL_TESTS_OS_FAULT_H
