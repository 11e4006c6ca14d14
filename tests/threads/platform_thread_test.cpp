#include <gtest/gtest.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "platform/thread.h"

namespace {

namespace vp = vantrel::platform;

struct Report {
  uint32_t ownId = 0;
  uint32_t idSeenAtStart = 0;
  uint32_t *idSlot = nullptr;
  size_t stack = 0;
  std::string comm;
};

std::string CommOf(uint32_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

void Probe(void *arg) {
  auto *r = static_cast<Report *>(arg);
  r->idSeenAtStart = *r->idSlot;  // written before the entry may run
  r->ownId = vp::CurrentThreadId();
  r->stack = vp::CurrentThreadStackSize();
  vp::SetCurrentThreadName("a thread name longer than fifteen");
  r->comm = CommOf(r->ownId);
}

TEST(VPlatformThreadTest, StartsWithStackSizeIdAndName) {
  for (size_t requested : {size_t{0}, size_t{262144}, size_t{1}}) {
    Report r;
    uint32_t id = 0;
    r.idSlot = &id;
    vp::ThreadHandle h;
    ASSERT_EQ(vp::ThreadStart(Probe, &r, requested, true, &h, &id), 0);
    EXPECT_EQ(vp::ThreadJoin(h), 0);
    EXPECT_EQ(id, r.ownId);
    EXPECT_EQ(r.idSeenAtStart, r.ownId);
    EXPECT_NE(id, static_cast<uint32_t>(gettid()));
    size_t expected = requested == 0 ? vp::kDefaultStackSize : requested;
    if (requested == 1) expected = PTHREAD_STACK_MIN;  // raised to it
    EXPECT_GE(r.stack, expected) << requested;
#ifndef __SANITIZE_THREAD__  // its runtime enlarges small stacks
    EXPECT_LT(r.stack, expected + 65536) << requested;
#endif
    EXPECT_EQ(r.comm, "a thread name l");
  }
  EXPECT_EQ(vp::CurrentThreadId(), static_cast<uint32_t>(gettid()));
}

std::atomic<int> g_destroyed{0};

TEST(VPlatformThreadTest, TlsValuesArePerThreadAndDestructorsRun) {
  vp::TlsKey key;
  ASSERT_TRUE(vp::TlsKeyCreate(&key, [](void *) { g_destroyed++; }));
  int mine = 1, theirs = 2;
  EXPECT_EQ(vp::TlsGet(key), nullptr);
  ASSERT_TRUE(vp::TlsSet(key, &mine));
  void *before = &mine, *after = nullptr;
  std::thread([&] {
    before = vp::TlsGet(key);
    vp::TlsSet(key, &theirs);
    after = vp::TlsGet(key);
  }).join();
  EXPECT_EQ(before, nullptr);
  EXPECT_EQ(after, &theirs);
  EXPECT_EQ(g_destroyed.load(), 1);  // only the thread that ended
  EXPECT_EQ(vp::TlsGet(key), &mine);
  EXPECT_TRUE(vp::TlsKeyDelete(key));
}

}  // namespace
