#include "threads/thr.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "internal/alloc.h"
#include "support/alloc_sweep.h"
#include "vantrel/vthread.h"

namespace {

namespace vi = vantrel::internal;

int TaskCount() {
  DIR *dir = opendir("/proc/self/task");
  int n = 0;
  while (dirent *e = readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(dir);
  return n;
}

// Polls until pred holds or five seconds have passed.
bool Eventually(const std::function<bool()> &pred) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Exiting threads may still be listed for a moment after their record is
// gone.
void ExpectBackTo(uint32_t records, int tasks) {
  EXPECT_TRUE(Eventually([&] { return vi::ThreadTableCount() == records; }))
      << vi::ThreadTableCount() << " records, expected " << records;
  EXPECT_TRUE(Eventually([&] { return TaskCount() == tasks; }))
      << TaskCount() << " threads, expected " << tasks;
}

class VThreadTest : public testing::Test {
 protected:
  // The first thread start may bring up a sanitizer's own background
  // thread; that happens here, before any test counts threads.
  void SetUp() override {
    ASSERT_EQ(vi::ThreadSubsystemInit(), 0);
    std::thread([] {}).join();
  }
};

// What a spawned routine saw of itself.
struct Probe {
  VThread handle = nullptr;  // written by VThreadSpawn before the start
  VThread self = nullptr;
  VThread id = nullptr;
  VThread handleSeen = nullptr;
  std::string name;
  std::string osName;
  size_t stackSize = 0;
  VRC result = 0;
  std::atomic<bool> done{false};
};

VRC ProbeRoutine(VThread self, void *arg) {
  auto *p = static_cast<Probe *>(arg);
  VRC result = p->result;  // the probe may be gone once done is set
  p->self = self;
  p->id = VThreadGetID();
  p->handleSeen = p->handle;
  p->name = VThreadGetName(self);
  char os[32] = {};
  pthread_getname_np(pthread_self(), os, sizeof os);
  p->osName = os;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &p->stackSize);
    pthread_attr_destroy(&attr);
  }
  p->done.store(true);
  return result;
}

// Child side of the initialisation sweep: 0 when a failure was injected and
// handled, 10 when none was injected, 1 when the outcome is wrong.  A failed
// initialisation keeps nothing; the next call tries again, except when the
// initialisation lock itself could not be made, which stays failed.
int InitialiseUnderFault(uint64_t nth, bool repeat) {
  vi::AllocFailArm(nth, repeat);
  VRC rc = vi::ThreadSubsystemInit();
  bool fired = vi::AllocFailDisarm();
  if (rc != 0) {
    if (rc != ENOMEM || vi::ThreadTableCount() != 0 ||
        VThreadGetID() != nullptr) {
      return 1;
    }
    rc = vi::ThreadSubsystemInit();
    if (rc == ENOMEM && vi::ThreadTableCount() == 0) return 0;
  }
  bool ok = rc == 0 && vi::ThreadTableCount() == 1 &&
            strcmp(VThreadGetName(VThreadGetID()), "MAIN") == 0;
  if (!ok) return 1;
  return fired ? 0 : 10;
}

// Initialisation happens once per process, so each step of the sweep runs
// in a child of a process that has not initialised yet (the test runner
// starts every test in a process of its own).
TEST(VThreadInitTest, InitialisationFailsCleanlyWithoutMemory) {
  if (vi::ThreadTableCount() != 0) GTEST_SKIP() << "initialised already";
  EXPECT_EQ(VThreadGetID(), nullptr);
  for (bool repeat : {false, true}) {
    for (uint64_t nth = 1; nth < 50; ++nth) {
      fflush(nullptr);
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) exit(InitialiseUnderFault(nth, repeat));
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      int code = WEXITSTATUS(status);
      ASSERT_NE(code, 1) << "allocation " << nth
                         << (repeat ? " and later" : "");
      if (code == 10) break;
      ASSERT_EQ(code, 0) << "allocation " << nth;
    }
  }
}

TEST_F(VThreadTest, InitialisingThreadIsMainAndInitIsIdempotent) {
  VThread self = VThreadGetID();
  ASSERT_NE(self, nullptr);
  EXPECT_STREQ(VThreadGetName(self), "MAIN");
  EXPECT_EQ(self->threadId, static_cast<uint32_t>(gettid()));
  EXPECT_EQ(VThreadShouldContinue(self), 1);
  uint32_t records = vi::ThreadTableCount();
  EXPECT_EQ(vi::ThreadSubsystemInit(), 0);
  EXPECT_EQ(vi::ThreadTableCount(), records);
  EXPECT_EQ(VThreadGetID(), self);
}

TEST_F(VThreadTest, SpawnedThreadsSeeTheirRecordAndLeaveNothingBehind) {
  uint32_t records = vi::ThreadTableCount();
  int tasks = TaskCount();
  constexpr int kThreads = 24;
  std::vector<Probe> probes(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    std::string name = "worker " + std::to_string(i);
    ASSERT_EQ(VThreadSpawn(name.c_str(), ProbeRoutine, &probes[i], nullptr,
                           &probes[i].handle),
              0);
    ASSERT_NE(probes[i].handle, nullptr);
  }
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_TRUE(Eventually([&] { return probes[i].done.load(); }));
    EXPECT_EQ(probes[i].self, probes[i].handle);
    EXPECT_EQ(probes[i].id, probes[i].handle);
    EXPECT_EQ(probes[i].handleSeen, probes[i].handle);
    EXPECT_EQ(probes[i].name, "worker " + std::to_string(i));
    EXPECT_EQ(probes[i].osName, probes[i].name);
  }
  ExpectBackTo(records, tasks);
}

TEST_F(VThreadTest, JoinableThreadKeepsRecordUntilDestroyAndReturnsExitCode) {
  uint32_t records = vi::ThreadTableCount();
  int tasks = TaskCount();
  Probe probe;
  probe.result = VRC_FAILURE;
  VThreadAttr attr = {VTHREAD_ATTR_JOINABLE, 0};
  testing::internal::CaptureStderr();
  ASSERT_EQ(VThreadSpawn("joiner", ProbeRoutine, &probe, &attr, &probe.handle),
            0);
  ASSERT_TRUE(Eventually([&] { return probe.done.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(vi::ThreadTableCount(), records + 1);
  EXPECT_EQ(VThreadDestroy(probe.handle), VRC_FAILURE);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("THREAD MGR: thread joiner ("), std::string::npos) << log;
  EXPECT_NE(log.find(") *EXIT*: General failure"), std::string::npos) << log;
  ExpectBackTo(records, tasks);
}

VRC LoopUntilStopped(VThread self, void *arg) {
  auto *loops = static_cast<std::atomic<int> *>(arg);
  while (VThreadShouldContinue(self)) {
    loops->fetch_add(1);
    std::this_thread::yield();
  }
  return 0;
}

TEST_F(VThreadTest, ScheduleStopEndsAPollingRoutine) {
  std::atomic<int> loops{0};
  VThreadAttr attr = {VTHREAD_ATTR_JOINABLE, 0};
  VThread thread = nullptr;
  ASSERT_EQ(VThreadSpawn("poller", LoopUntilStopped, &loops, &attr, &thread),
            0);
  ASSERT_TRUE(Eventually([&] { return loops.load() > 10; }));
  EXPECT_EQ(VThreadShouldContinue(thread), 1);
  VThreadScheduleStop(thread);
  EXPECT_EQ(VThreadShouldContinue(thread), 0);
  EXPECT_EQ(VThreadDestroy(thread), 0);
}

TEST_F(VThreadTest, ForeignThreadGetsOneUnknownRecordThatOutlivesIt) {
  uint32_t records = vi::ThreadTableCount();
  VThread first = nullptr, second = nullptr;
  uint32_t tid = 0;
  std::thread foreign([&] {
    first = VThreadGetID();
    second = VThreadGetID();
    tid = static_cast<uint32_t>(gettid());
  });
  foreign.join();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(VThreadGetName(first), "UNKNOWN!");
  EXPECT_EQ(first->threadId, tid);
  EXPECT_EQ(VThreadShouldContinue(first), 1);
  EXPECT_EQ(vi::ThreadTableCount(), records + 1);
  EXPECT_NE(VThreadGetID(), first);
}

TEST_F(VThreadTest, LongNamesAreCutTo43Characters) {
  std::string name(60, 'n');
  for (size_t i = 0; i < name.size(); ++i) name[i] = 'a' + i % 26;
  Probe probe;
  VThreadAttr attr = {VTHREAD_ATTR_JOINABLE, 0};
  ASSERT_EQ(
      VThreadSpawn(name.c_str(), ProbeRoutine, &probe, &attr, &probe.handle),
      0);
  EXPECT_EQ(std::string(VThreadGetName(probe.handle)), name.substr(0, 43));
  EXPECT_EQ(VThreadDestroy(probe.handle), 0);
  EXPECT_EQ(probe.osName, name.substr(0, 15));
}

TEST_F(VThreadTest, StackSizeComesFromAttributesOrDefault) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer chooses thread stack sizes itself";
#endif
  struct Case {
    const VThreadAttr *attr;
    size_t expected;
  };
  VThreadAttr sized = {VTHREAD_ATTR_STACK_SIZE | VTHREAD_ATTR_JOINABLE, 262144};
  VThreadAttr unflagged = {VTHREAD_ATTR_JOINABLE, 262144};
  for (Case c :
       {Case{nullptr, 65536}, Case{&sized, 262144}, Case{&unflagged, 65536}}) {
    Probe probe;
    ASSERT_EQ(
        VThreadSpawn("stack", ProbeRoutine, &probe, c.attr, &probe.handle), 0);
    ASSERT_TRUE(Eventually([&] { return probe.done.load(); }));
    if (c.attr != nullptr) VThreadDestroy(probe.handle);
    EXPECT_EQ(probe.stackSize, c.expected);
  }
}

TEST_F(VThreadTest, DataKeysHoldOneValuePerThread) {
  VThreadDataKey key = nullptr;
  ASSERT_EQ(VThreadDataKeyCreate(&key), 0);
  void *value = &key;
  EXPECT_EQ(VThreadDataGet(key, &value), 0);
  EXPECT_EQ(value, nullptr);
  int mine = 0, theirs = 0;
  ASSERT_EQ(VThreadDataSet(key, &mine), 0);
  void *seenBefore = &mine, *seenAfter = nullptr;
  std::thread other([&] {
    VThreadDataGet(key, &seenBefore);
    VThreadDataSet(key, &theirs);
    VThreadDataGet(key, &seenAfter);
  });
  other.join();
  EXPECT_EQ(seenBefore, nullptr);
  EXPECT_EQ(seenAfter, &theirs);
  EXPECT_EQ(VThreadDataGet(key, &value), 0);
  EXPECT_EQ(value, &mine);
  EXPECT_EQ(VThreadDataKeyDestroy(key), 0);
}

TEST_F(VThreadTest, DataKeyCreateFailsCleanlyWithoutMemory) {
  vtest::SweepAllocations([](vtest::Fault &f) {
    VThreadDataKey key = reinterpret_cast<VThreadDataKey>(&f);
    f.Arm();
    VRC rc = VThreadDataKeyCreate(&key);
    if (f.Disarm()) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(key, nullptr);
    } else {
      ASSERT_EQ(rc, 0);
      EXPECT_EQ(VThreadDataKeyDestroy(key), 0);
    }
  });
}

TEST_F(VThreadTest, SpawnFailsCleanlyWithoutMemory) {
  uint32_t records = vi::ThreadTableCount();
  int tasks = TaskCount();
  vtest::SweepAllocations([&](vtest::Fault &f) {
    Probe probe;
    VThread thread = reinterpret_cast<VThread>(&probe);
    f.Arm();
    VRC rc = VThreadSpawn("sweep", ProbeRoutine, &probe, nullptr, &thread);
    if (f.Disarm()) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(thread, nullptr);
      EXPECT_EQ(vi::ThreadTableCount(), records);
    } else {
      ASSERT_EQ(rc, 0);
      ASSERT_TRUE(Eventually([&] { return probe.done.load(); }));
    }
    ExpectBackTo(records, tasks);
  });
}

TEST_F(VThreadTest, ForeignRecordFailsCleanlyWithoutMemory) {
  vtest::SweepAllocations([](vtest::Fault &f) {
    uint32_t records = vi::ThreadTableCount();
    VThread got = nullptr;
    std::thread foreign([&] {
      f.Arm();
      got = VThreadGetID();
      f.Disarm();
    });
    foreign.join();
    if (f.fired()) {
      EXPECT_EQ(got, nullptr);
      EXPECT_EQ(vi::ThreadTableCount(), records);
    } else {
      EXPECT_NE(got, nullptr);
      EXPECT_EQ(vi::ThreadTableCount(), records + 1);
    }
  });
}

// Runs in a child process: limits the address space so that the platform
// refuses a thread with a large stack, then checks that nothing was kept.
int SpawnBeyondAddressSpace() {
  if (vi::ThreadSubsystemInit() != 0) return 2;
  uint32_t records = vi::ThreadTableCount();
  uint64_t before = vtest::AllocationCount();
  long pages = 0;
  FILE *statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) return 3;
  fclose(statm);
  rlimit limit;
  getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = pages * sysconf(_SC_PAGESIZE) + (64 << 20);
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 4;
  VThreadAttr attr = {VTHREAD_ATTR_STACK_SIZE, 1u << 30};
  VThread thread = reinterpret_cast<VThread>(&attr);
  VRC rc = VThreadSpawn("refused", ProbeRoutine, nullptr, &attr, &thread);
  if (rc != VRC_FAILURE) return 5;
  if (thread != nullptr || vi::ThreadTableCount() != records) return 6;
  return vtest::AllocationCount() > before ? 0 : 7;
}

TEST_F(VThreadTest, PlatformRefusalReturnsFailureAndKeepsNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(SpawnBeyondAddressSpace()), testing::ExitedWithCode(0), "");
}

}  // namespace
