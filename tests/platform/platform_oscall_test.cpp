// The table of operating-system calls: failures injected by name reach the
// caller as the system would report them, on the Nth call, once or from
// then on, from any thread, and the system's call comes back afterwards.
#include <errno.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <time.h>

#include <functional>
#include <thread>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/random.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "support/os_fault.h"

namespace {

namespace vp = vantrel::platform;

// One seam call per case; it undoes whatever it made and returns its code.
struct Case {
  const char *op;
  int error;     // injected
  int expected;  // what the seam call returns then
  std::function<int()> call;
};

std::vector<Case> Cases() {
  return {
      {"open", EACCES, EACCES,
       [] {
         int fd;
         int rc = vp::FileOpen("/dev/null", vp::kFileRead, 0, &fd);
         if (rc == 0) vp::FileClose(fd);
         return rc;
       }},
      {"pthread_mutex_init", EAGAIN, EAGAIN,  // the error is returned
       [] {
         vp::Mutex m;
         int rc = vp::MutexInit(&m, vp::MutexKind::kRecursive);
         if (rc == 0) vp::MutexDestroy(&m);
         return rc;
       }},
      {"dlopen", ENOENT, ENOENT,  // null and errno
       [] {
         vp::ModuleHandle m;
         int rc = vp::ModuleOpen(nullptr, &m);  // the program itself
         if (rc == 0) vp::ModuleClose(m);
         return rc;
       }},
      {"getaddrinfo", EAI_AGAIN, vp::kResolveTryAgain,
       [] {
         vp::AddressList *list = nullptr;
         int rc = vp::AddressResolve("127.0.0.1", nullptr, nullptr, &list);
         vp::AddressListFree(list);
         return rc;
       }},
      {"socket", EMFILE, EMFILE,
       [] {
         int s;
         int rc = vp::SocketOpen(vp::AddressFamily::kIpv4,
                                 vp::SocketType::kStream, 0, &s);
         if (rc == 0) vp::SocketClose(s);
         return rc;
       }},
  };
}

TEST(OsCallTest, NthCallFailsOnceOrFromThenOnAndTheSystemComesBack) {
  for (const Case &c : Cases()) {
    SCOPED_TRACE(c.op);
    for (bool repeat : {false, true}) {
      {
        vtest::OsFault fault(c.op, 2, c.error, repeat);
        EXPECT_EQ(c.call(), 0);
        EXPECT_FALSE(fault.fired());
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_EQ(c.call(), repeat ? c.expected : 0);
        EXPECT_TRUE(fault.fired());
        EXPECT_GE(fault.calls(), 3u);
      }
      EXPECT_EQ(c.call(), 0);
    }
  }
}

TEST(OsCallTest, FailsCallsFromEveryThread) {
  vtest::OsFault fault("getrandom", 1, EIO, true);
  unsigned char bytes[8];
  int rc = 0;
  std::thread([&] { rc = vp::RandomFill(bytes, sizeof bytes); }).join();
  EXPECT_EQ(rc, EIO);
  EXPECT_EQ(vp::RandomFill(bytes, sizeof bytes), EIO);
  EXPECT_EQ(fault.calls(), 2u);
}

TEST(OsCallTest, ArmingChecksTheNameTheFormAndTheState) {
  EXPECT_EQ(vp::OsCallArm("no_such_call", 1, false, EIO), ENOENT);
  EXPECT_EQ(vp::OsCallArm("gettid", 1, false, EIO), EINVAL);  // cannot fail
  vtest::OsCallCounter ids("gettid");                         // but counts
  EXPECT_EQ(vp::OsCallArm("gettid", 0, false, 0), EBUSY);
  for (const char *op : {"send", "recv", "connect", "accept4", "poll", "dlopen",
                         "dlsym", "rename", "write", "fsync"}) {
    EXPECT_TRUE(vp::OsCallExists(op)) << op;
  }
}

int FixedClock(clockid_t, struct timespec *ts) noexcept {
  ts->tv_sec = 1234567890;
  ts->tv_nsec = 500000000;
  return 0;
}

// A stand-in runs in the system call's place, also behind an armed
// failure, and the system call is back after both are gone.
TEST(OsCallTest, StandInsReplaceTheCallUntilDestroyed) {
  vp::WallTime now;
  {
    vtest::OsOverride fixed("clock_gettime", FixedClock);
    EXPECT_EQ(fixed.previous(), &clock_gettime);
    ASSERT_EQ(vp::WallClockNow(&now), 0);
    EXPECT_EQ(now.seconds, 1234567890);
    EXPECT_EQ(now.microseconds, 500000);
    vtest::OsFault fault("clock_gettime", 1, EINVAL);
    EXPECT_EQ(vp::WallClockNow(&now), EINVAL);
    EXPECT_EQ(now.seconds, 0);
    ASSERT_EQ(vp::WallClockNow(&now), 0);
    EXPECT_EQ(now.seconds, 1234567890);
    EXPECT_EQ(fault.calls(), 2u);
  }
  ASSERT_EQ(vp::WallClockNow(&now), 0);
  EXPECT_GT(now.seconds, 1700000000);
}

}  // namespace
