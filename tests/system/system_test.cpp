// The system description and process handles with their start times.  The
// description is checked against the system's own uname(); start times
// against children started by the test, one of them with a command name
// made to confuse a parser of /proc.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "vantrel/vrc.h"
#include "vantrel/vsystem.h"

namespace {

TEST(SystemUnameTest, DescribesTheRunningKernel) {
  VSystemName name;
  memset(&name, 'x', sizeof name);
  ASSERT_EQ(VSystemUname(&name), 0);
  utsname system{};
  ASSERT_EQ(uname(&system), 0);
  int major = -1, minor = -1;
  ASSERT_EQ(sscanf(system.release, "%d.%d", &major, &minor), 2);
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host), 0);
  EXPECT_STREQ(name.sysname, system.sysname);
  EXPECT_STREQ(name.nodename, host);
  EXPECT_EQ(name.release, std::to_string(major));
  char version[8];
  snprintf(version, sizeof version, "%02d", minor);
  EXPECT_STREQ(name.version, version);
  EXPECT_STREQ(name.machine, system.machine);
  EXPECT_EQ(VSystemUname(nullptr), EINVAL);
}

const char *g_release = "";

int FakeUname(utsname *out) noexcept {
  memset(out, 0, sizeof *out);
  strcpy(out->sysname, "Linux");
  strcpy(out->nodename, "node");
  snprintf(out->release, sizeof out->release, "%s", g_release);
  strcpy(out->version, "#1 SMP");
  strcpy(out->machine, "aarch64");
  return 0;
}

TEST(SystemUnameTest, ReleaseAndVersionAreTheKernelsMajorAndMinor) {
  vtest::OsOverride<decltype(&uname)> fake("uname", FakeUname);
  struct Row {
    const char *release;
    VRC rc;
    const char *major;
    const char *minor;
  };
  const Row rows[] = {
      {"6.1.0-18-amd64", 0, "6", "01"}, {"4.4.0", 0, "4", "04"},
      {"5.15", 0, "5", "15"},           {"10.123.1", 0, "10", "123"},
      {"6", VRC_FAILURE, "", ""},       {"six.one", VRC_FAILURE, "", ""},
      {"", VRC_FAILURE, "", ""},
  };
  for (const Row &row : rows) {
    g_release = row.release;
    VSystemName name{};
    ASSERT_EQ(VSystemUname(&name), row.rc) << row.release;
    if (row.rc != 0) continue;
    EXPECT_STREQ(name.release, row.major);
    EXPECT_STREQ(name.version, row.minor);
    EXPECT_STREQ(name.machine, "aarch64");  // whatever the processor
  }
}

TEST(SystemUnameTest, FailuresOfTheSystem) {
  VSystemName name{};
  {
    vtest::OsFault fault("uname", 1, EFAULT);
    EXPECT_EQ(VSystemUname(&name), VRC_FAILURE);
  }
  vtest::OsFault fault("gethostname", 1, EPERM);
  ASSERT_EQ(VSystemUname(&name), 0);
  EXPECT_STREQ(name.nodename, "localhost");
}

// A child that waits until told to end, optionally renamed first.
class Child {
 public:
  explicit Child(const char *name = nullptr) {
    EXPECT_EQ(pipe(go_), 0);
    EXPECT_EQ(pipe(ready_), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(go_[1]);  // so that the parent's close ends the read below
      if (name != nullptr) prctl(PR_SET_NAME, name);
      char byte = 0;
      (void)!write(ready_[1], &byte, 1);
      (void)!read(go_[0], &byte, 1);
      _exit(0);
    }
    char byte;
    EXPECT_EQ(read(ready_[0], &byte, 1), 1);
  }
  ~Child() {
    End();
    for (int fd : {go_[0], go_[1], ready_[0], ready_[1]}) close(fd);
  }
  void End() {
    if (pid_ <= 0) return;
    close(go_[1]);
    go_[1] = -1;
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int go_[2] = {-1, -1};
  int ready_[2] = {-1, -1};
};

TEST(ProcessTest, StartTimeOfAChildIsWhenItStarted) {
  for (const char *name :
       {static_cast<const char *>(nullptr), "a) b (c) 1 2"}) {
    time_t before = time(nullptr);
    Child child(name);
    time_t after = time(nullptr);
    VProcess process = nullptr;
    ASSERT_EQ(VProcessGet(child.pid(), &process), 0);
    time_t start = 0;
    ASSERT_EQ(VProcessGetStartTime(process, &start), 0);
    // Boot time and start are whole seconds apart from each other.
    EXPECT_GE(start, before - 2);
    EXPECT_LE(start, after + 1);
    // The handle still answers after the process has ended.
    child.End();
    time_t again = 0;
    EXPECT_EQ(VProcessGetStartTime(process, &again), 0);
    EXPECT_EQ(again, start);
    EXPECT_EQ(VProcessFree(process), 0);
  }
}

TEST(ProcessTest, OwnStartTimeIsNotInTheFuture) {
  VProcess process = nullptr;
  ASSERT_EQ(VProcessGet(getpid(), &process), 0);
  time_t start = 0;
  ASSERT_EQ(VProcessGetStartTime(process, &start), 0);
  EXPECT_LE(start, time(nullptr));
  EXPECT_GT(start, time(nullptr) - 3600);
  EXPECT_EQ(VProcessGetStartTime(process, nullptr), VRC_FAILURE);
  EXPECT_EQ(VProcessFree(process), 0);
}

TEST(ProcessTest, ProcessesThatCannotBeOpened) {
  VProcess process = reinterpret_cast<VProcess>(0x1);
  EXPECT_EQ(VProcessGet(-1, &process), VRC_FAILURE);
  EXPECT_EQ(process, reinterpret_cast<VProcess>(0x1));  // untouched
  EXPECT_EQ(VProcessGet(INT32_MAX, &process), VRC_FAILURE);
  EXPECT_EQ(process, nullptr);
  {
    vtest::OsFault fault("open", 1, EACCES);
    process = reinterpret_cast<VProcess>(0x1);
    EXPECT_EQ(VProcessGet(getpid(), &process), VRC_FAILURE);
    EXPECT_EQ(process, nullptr);
  }
  EXPECT_EQ(VProcessGet(getpid(), nullptr), EINVAL);
  time_t start = 5;
  EXPECT_EQ(VProcessGetStartTime(nullptr, &start), VRC_FAILURE);
  EXPECT_EQ(start, 5);
  EXPECT_EQ(VProcessFree(nullptr), 0);
}

TEST(ProcessTest, OpeningWithoutMemoryLeavesNoHandle) {
  vtest::SweepAllocations([](vtest::Fault &f) {
    VProcess process = reinterpret_cast<VProcess>(0x1);
    f.Arm();
    VRC rc = VProcessGet(getpid(), &process);
    bool failed = f.Disarm();
    if (failed) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(process, nullptr);
      return;
    }
    ASSERT_EQ(rc, 0);
    VProcessFree(process);
  });
}

}  // namespace
