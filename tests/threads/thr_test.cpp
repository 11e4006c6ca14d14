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
  while (dirent *e = readdir(dir)) n += e->d_name[0] != '.';
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
  // thread; let that happen before any test counts threads.
  void SetUp() override {
    ASSERT_EQ(vi::ThreadSubsystemInit(), 0);
    std::thread([] {}).join();
    records_ = vi::ThreadTableCount();
    tasks_ = TaskCount();
  }
  uint32_t records_ = 0;
  int tasks_ = 0;
};

// What a spawned routine saw of itself.
struct Probe {
  VThread handle = nullptr;  // written by VThreadSpawn before the start
  bool sawItself = false;    // its record as argument, ID, handle, thread id
  std::string name, osName;
  size_t stackSize = 0;
  VRC result = 0;
  std::atomic<bool> done{false};
};

VRC ProbeRoutine(VThread self, void *arg) {
  auto *p = static_cast<Probe *>(arg);
  VRC result = p->result;  // the probe may be gone once done is set
  p->sawItself = self == VThreadGetID() && self == p->handle &&
                 self->threadId == static_cast<uint32_t>(gettid());
  p->name = VThreadGetName(self);
  char os[32] = {};
  pthread_getname_np(pthread_self(), os, sizeof os);
  p->osName = os;
  pthread_attr_t attr;
  pthread_getattr_np(pthread_self(), &attr);
  pthread_attr_getstacksize(&attr, &p->stackSize);
  pthread_attr_destroy(&attr);
  p->done.store(true);
  return result;
}

// Child side of the initialisation sweep: 0 when a failure was injected and
// handled, 10 when none was, 1 when the outcome is wrong.  A failed start
// keeps nothing and the next call tries again, except when the start lock
// itself could not be made, which stays failed.
int InitialiseUnderFault(uint64_t nth, bool repeat) {
  vi::AllocFailArm(nth, repeat);
  VRC rc = vi::ThreadSubsystemInit();
  bool fired = vi::AllocFailDisarm();
  if (rc != 0) {
    if (rc != ENOMEM || vi::ThreadTableCount() != 0 || VThreadGetID()) return 1;
    rc = vi::ThreadSubsystemInit();
    if (rc == ENOMEM && vi::ThreadTableCount() == 0) return 0;
  }
  if (rc != 0 || vi::ThreadTableCount() != 1 ||
      strcmp(VThreadGetName(VThreadGetID()), "MAIN") != 0) {
    return 1;
  }
  return fired ? 0 : 10;
}

// Each step runs in a child of a process that has not initialised yet.
TEST(VThreadInitTest, InitialisationFailsCleanlyWithoutMemory) {
  if (vi::ThreadTableCount() != 0) GTEST_SKIP() << "initialised already";
  EXPECT_EQ(VThreadGetID(), nullptr);
  for (bool repeat : {false, true}) {
    for (uint64_t nth = 1, code = 0; nth < 50 && code != 10; ++nth) {
      fflush(nullptr);
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) exit(InitialiseUnderFault(nth, repeat));
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
      ASSERT_TRUE(code == 0 || code == 10) << nth << (repeat ? " on" : "");
    }
  }
}

// A thread the library did not start gets one record that outlives it,
// and its own data values.
TEST_F(VThreadTest, MainAndForeignThreadsHaveTheirRecordsAndData) {
  VThread self = VThreadGetID();
  ASSERT_NE(self, nullptr);
  EXPECT_STREQ(VThreadGetName(self), "MAIN");
  EXPECT_EQ(self->threadId, static_cast<uint32_t>(gettid()));
  EXPECT_EQ(vi::ThreadSubsystemInit(), 0);  // idempotent
  EXPECT_EQ(VThreadGetID(), self);
  VThreadDataKey key = nullptr;
  ASSERT_EQ(VThreadDataKeyCreate(&key), 0);
  int mine = 0, theirs = 0;
  void *value = &key, *seen = &mine;
  EXPECT_EQ(VThreadDataGet(key, &value), 0);
  EXPECT_EQ(value, nullptr);
  ASSERT_EQ(VThreadDataSet(key, &mine), 0);

  // A second call would find the cached record, not add one.
  VThread foreign = nullptr;
  uint32_t tid = 0;
  std::thread([&] {
    foreign = VThreadGetID();
    VThreadGetID();
    tid = static_cast<uint32_t>(gettid());
    VThreadDataGet(key, &seen);
    VThreadDataSet(key, &theirs);
  }).join();
  ASSERT_NE(foreign, nullptr);
  EXPECT_STREQ(VThreadGetName(foreign), "UNKNOWN!");
  EXPECT_EQ(foreign->threadId, tid);
  EXPECT_EQ(vi::ThreadTableCount(), records_ + 1);
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(VThreadDataGet(key, &value), 0);
  EXPECT_EQ(value, &mine);
  EXPECT_EQ(VThreadDataKeyDestroy(key), 0);
}

// The first name is cut to 43 characters for the record and to 15 for the
// system; a stack size is used only when the attributes say so (sizes far
// apart, so that no thread reuses another's cached stack).
TEST_F(VThreadTest, SpawnedThreadsSeeTheirRecordAndLeaveNothingBehind) {
  VThreadAttr sized = {VTHREAD_ATTR_STACK_SIZE, 1u << 20},
              plain = {0, 1u << 20};
  const std::pair<const VThreadAttr *, size_t> stacks[] = {
      {nullptr, 65536}, {&sized, 1u << 20}, {&plain, 65536}};
  std::string names[24];
  for (int i = 0; i < 60; ++i) names[0] += char('a' + i % 26);
  std::vector<Probe> probes(24);
  for (int i = 0; i < 24; ++i) {
    if (i > 0) names[i] = "worker " + std::to_string(i);
    ASSERT_EQ(VThreadSpawn(names[i].c_str(), ProbeRoutine, &probes[i],
                           stacks[i % 3].first, &probes[i].handle),
              0);
  }
  for (int i = 0; i < 24; ++i) {
    ASSERT_TRUE(Eventually([&] { return probes[i].done.load(); }));
    EXPECT_TRUE(probes[i].handle && probes[i].sawItself) << i;
    EXPECT_EQ(probes[i].name, names[i].substr(0, 43));
    EXPECT_EQ(probes[i].osName, names[i].substr(0, 15));
#ifndef __SANITIZE_THREAD__  // its runtime chooses thread stack sizes itself
    EXPECT_EQ(probes[i].stackSize, stacks[i % 3].second) << i;
#endif
  }
  ExpectBackTo(records_, tasks_);
}

VRC LoopUntilStopped(VThread self, void *arg) {
  while (VThreadShouldContinue(self)) {
    static_cast<std::atomic<int> *>(arg)->fetch_add(1);
    std::this_thread::yield();
  }
  return 0;
}

// Destroy joins and returns the exit code, logging a failing one.
TEST_F(VThreadTest, JoinableThreadsKeepTheirRecordUntilDestroyed) {
  Probe probe;
  probe.result = VRC_FAILURE;
  std::atomic<int> loops{0};
  VThreadAttr attr = {VTHREAD_ATTR_JOINABLE, 0};
  VThread poller = nullptr;
  ASSERT_EQ(VThreadSpawn("poller", LoopUntilStopped, &loops, &attr, &poller),
            0);
  testing::internal::CaptureStderr();
  ASSERT_EQ(VThreadSpawn("joiner", ProbeRoutine, &probe, &attr, &probe.handle),
            0);
  ASSERT_TRUE(Eventually([&] { return probe.done && loops > 10; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(vi::ThreadTableCount(), records_ + 2);
  EXPECT_EQ(VThreadDestroy(probe.handle), VRC_FAILURE);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("THREAD MGR: thread joiner ("), std::string::npos) << log;
  EXPECT_NE(log.find(") *EXIT*: General failure"), std::string::npos) << log;
  EXPECT_EQ(VThreadShouldContinue(poller), 1);
  VThreadScheduleStop(poller);
  EXPECT_EQ(VThreadShouldContinue(poller), 0);
  EXPECT_EQ(VThreadDestroy(poller), 0);
  ExpectBackTo(records_, tasks_);
}

// Spawn and key creation report 12, hand back null and keep nothing; a
// foreign thread gets no record.
TEST_F(VThreadTest, AllocatingCallsFailCleanlyWithoutMemory) {
  for (bool spawn : {true, false}) {
    vtest::SweepAllocations([&](vtest::Fault &f) {
      Probe probe;
      VThread thread = reinterpret_cast<VThread>(&probe);
      VThreadDataKey key = reinterpret_cast<VThreadDataKey>(&probe);
      f.Arm();
      VRC rc =
          spawn ? VThreadSpawn("sweep", ProbeRoutine, &probe, nullptr, &thread)
                : VThreadDataKeyCreate(&key);
      EXPECT_EQ(rc, f.Disarm() ? ENOMEM : 0);
      if (rc != 0) {
        EXPECT_TRUE(spawn ? thread == nullptr : key == nullptr);
      } else {
        EXPECT_TRUE(spawn ? Eventually([&] { return probe.done.load(); })
                          : VThreadDataKeyDestroy(key) == 0);
      }
      ExpectBackTo(records_, tasks_);
    });
  }
  vtest::SweepAllocations([&](vtest::Fault &f) {
    uint32_t records = vi::ThreadTableCount();
    VThread got = nullptr;
    std::thread([&] {
      f.Arm();
      got = VThreadGetID();
      f.Disarm();
    }).join();
    EXPECT_EQ(got != nullptr, !f.fired());
    EXPECT_EQ(vi::ThreadTableCount(), records + !f.fired());
  });
}

// In a child: limits the address space so that the platform refuses a thread
// with a large stack, then checks that nothing was kept.
int SpawnBeyondAddressSpace() {
  uint32_t records = vi::ThreadTableCount();
  vtest::AllocCounter allocations;
  long pages = 0;
  FILE *statm = fopen("/proc/self/statm", "r");
  if (fscanf(statm, "%ld", &pages) != 1) return 3;
  fclose(statm);
  rlimit limit;
  getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = pages * sysconf(_SC_PAGESIZE) + (64 << 20);
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 4;
  VThreadAttr attr = {VTHREAD_ATTR_STACK_SIZE, 1u << 30};
  VThread thread = reinterpret_cast<VThread>(&attr);
  VRC rc = VThreadSpawn("refused", ProbeRoutine, nullptr, &attr, &thread);
  if (rc != VRC_FAILURE || thread || vi::ThreadTableCount() != records)
    return 5;
  return allocations.count() > 0 ? 0 : 6;
}

TEST_F(VThreadTest, PlatformRefusalReturnsFailureAndKeepsNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(SpawnBeyondAddressSpace()), testing::ExitedWithCode(0), "");
}

}  // namespace
