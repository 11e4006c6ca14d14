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
  uint32_t *idSlot = nullptr;
  uint32_t idSeenAtStart = 0, ownId = 0;
  size_t stack = 0;
  std::string comm;
};

void Probe(void *arg) {
  auto *r = static_cast<Report *>(arg);
  r->idSeenAtStart = *r->idSlot;  // written before the entry may run
  r->ownId = vp::CurrentThreadId();
  r->stack = vp::CurrentThreadStackSize();
  vp::SetCurrentThreadName("a thread name longer than fifteen");
  std::ifstream comm("/proc/self/task/" + std::to_string(r->ownId) + "/comm");
  std::getline(comm, r->comm);
}

TEST(VPlatformThreadTest, StartsWithStackSizeIdAndName) {
  for (size_t requested : {size_t{0}, size_t{262144}, size_t{1}}) {
    uint32_t id = 0;
    Report r;
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

// The destructor runs only for a thread that ends holding a value (values
// per thread are checked through the thread records' data keys).
TEST(VPlatformThreadTest, TlsDestructorRunsForThreadsEndingWithAValue) {
  static std::atomic<int> destroyed{0};
  vp::TlsKey key;
  ASSERT_TRUE(vp::TlsKeyCreate(&key, [](void *) { destroyed++; }));
  int mine = 1;
  ASSERT_TRUE(vp::TlsSet(key, &mine));
  std::thread([&] { vp::TlsSet(key, &mine); }).join();
  std::thread([] {}).join();
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_EQ(vp::TlsGet(key), &mine);
  EXPECT_TRUE(vp::TlsKeyDelete(key));
}

}  // namespace
