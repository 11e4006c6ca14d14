#include "services/mqueue.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "services/services_test_support.h"
#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "threads/sync_internal.h"
#include "vantrel/vmqueue.h"

namespace vi = vantrel::internal;

namespace {

void *Msg(uintptr_t n) { return reinterpret_cast<void *>(n); }
uintptr_t Num(void *m) { return reinterpret_cast<uintptr_t>(m); }

VMsgQueue MakeQueue() {
  VMsgQueue q = nullptr;
  EXPECT_EQ(VMsgQueueCreate(&q), 0);
  return q;
}

// Gets in put order (without a system call while nobody sleeps), a
// waiting get woken by a put, and a destroy that visits what is left,
// oldest first.
TEST(VMsgQueueTest, DeliversInPutOrderWaitsForPutsAndDestroyVisitsTheRest) {
  VMsgQueue q = MakeQueue();
  vtest::OsCallCounter futex("futex");
  for (uintptr_t i = 1; i <= 3; i++) ASSERT_EQ(VMsgQueuePut(q, Msg(i)), 0);
  EXPECT_EQ(VMsgQueueNumItems(q), 3);
  void *m = nullptr;
  ASSERT_EQ(VMsgQueueGet(q, &m, VMSGQUEUE_WAIT), 0);
  EXPECT_EQ(Num(m), 1u);
  EXPECT_EQ(VMsgQueueNumItems(q), 2);
  ASSERT_EQ(VMsgQueueGet(q, &m, VMSGQUEUE_NOWAIT), 0);
  EXPECT_EQ(Num(m), 2u);
  ASSERT_EQ(VMsgQueueGet(q, &m, 0), 0);  // any mode but 2 waits
  EXPECT_EQ(Num(m), 3u);
  // Empty: a non-waiting get says so and leaves *out alone.
  m = Msg(99);
  EXPECT_EQ(VMsgQueueGet(q, &m, VMSGQUEUE_NOWAIT), EAGAIN);
  EXPECT_EQ(Num(m), 99u);
  EXPECT_EQ(VMsgQueueNumItems(q), 0);
  EXPECT_EQ(futex.calls(), 0u);

  void *got = nullptr;
  std::thread consumer(
      [&] { EXPECT_EQ(VMsgQueueGet(q, &got, VMSGQUEUE_WAIT), 0); });
  // The consumer is asleep on the queue before anything is put.
  ASSERT_TRUE(vtest::YieldUntil([&] { return vi::QueueSleepers(q) == 1; }));
  VMsgQueuePut(q, Msg(7));
  consumer.join();
  EXPECT_EQ(Num(got), 7u);

  VMsgQueuePut(q, Msg(10));
  VMsgQueuePut(q, Msg(20));
  struct Seen {
    std::vector<uintptr_t> messages;
    int marker;
  } seen{{}, 5};
  EXPECT_EQ(VMsgQueueDestroy(
                q,
                [](void *m, void *arg) {
                  auto *s = static_cast<Seen *>(arg);
                  EXPECT_EQ(s->marker, 5);
                  s->messages.push_back(Num(m));
                  return 1;  // ignored
                },
                &seen),
            0);
  EXPECT_EQ(seen.messages, (std::vector<uintptr_t>{10, 20}));
}

// Consumers asleep on an empty queue: a single put wakes one of them, and
// a burst as large as their number wakes them all, though each consumer
// takes one message and then holds back until the burst is gone (so the
// first one woken cannot take the whole burst itself).
TEST(VMsgQueueTest, SleepingConsumersAreWokenBySinglePutsAndBursts) {
  constexpr int kConsumers = 4;
  constexpr uintptr_t kStop = UINTPTR_MAX;
  VMsgQueue q = MakeQueue();
  std::atomic<int> received{0}, target{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> consumers;
  for (int c = 0; c < kConsumers; c++) {
    consumers.emplace_back([&] {
      for (;;) {
        void *m = nullptr;
        EXPECT_EQ(VMsgQueueGet(q, &m, VMSGQUEUE_WAIT), 0);
        if (Num(m) == kStop) return;
        received++;
        vtest::YieldUntil([&] { return failed || received >= target; });
      }
    });
  }
  for (int round = 0; round < 100 && !failed; round++) {
    int burst = round % 2 == 0 ? 1 : kConsumers;
    failed =
        !vtest::YieldUntil([&] { return vi::QueueSleepers(q) == kConsumers; });
    target += burst;
    for (int i = 0; i < burst; i++) VMsgQueuePut(q, Msg(1));
    if (!failed) {
      failed = !vtest::YieldUntil([&] { return received == target; },
                                  std::chrono::seconds(10));
    }
    EXPECT_FALSE(failed) << "round " << round;
  }
  for (int c = 0; c < kConsumers; c++) VMsgQueuePut(q, Msg(kStop));
  // After a lost wake-up, a consumer may sleep for ever: leave it.
  for (auto &t : consumers) failed ? t.detach() : t.join();
  if (!failed) VMsgQueueDestroy(q, nullptr, nullptr);
}

// A put allocates a node unless taken messages left theirs behind; gets
// never allocate, and only a few hundred nodes are kept.
TEST(VMsgQueueTest, PutsReuseTheNodesOfTakenMessagesAndGetsNeverAllocate) {
  VMsgQueue q = MakeQueue();
  auto allocations = [](auto &&call) {
    vtest::AllocCounter counter;
    call();
    return counter.count();
  };
  auto put = [q](int n) {
    for (int i = 0; i < n; i++) VMsgQueuePut(q, Msg(i));
  };
  auto get = [q](int n) {
    void *m = nullptr;
    for (int i = 0; i < n; i++) {
      VMsgQueueGet(q, &m, i % 2 ? VMSGQUEUE_NOWAIT : VMSGQUEUE_WAIT);
    }
  };
  EXPECT_EQ(allocations([&] { put(40); }), 40u);
  EXPECT_EQ(allocations([&] {
              get(40);
              VMsgQueueNumItems(q);
            }),
            0u);
  EXPECT_LT(allocations([&] { put(40); }), 20u);
  get(40);
  put(2000);
  get(2000);
  EXPECT_GT(allocations([&] { put(2000); }), 1500u);
  VMsgQueueDestroy(q, nullptr, nullptr);
}

TEST(VMsgQueueTest, AllocationFailuresLeaveNothingAndChangeNothing) {
  vtest::SweepAllocations([](vtest::Fault &fault) {
    VMsgQueue q = nullptr;
    fault.Arm();
    VRC rc = VMsgQueueCreate(&q);
    bool failed = fault.Disarm();
    if (failed) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(q, nullptr);
      return;
    }
    ASSERT_EQ(rc, 0);
    VMsgQueueDestroy(q, nullptr, nullptr);
  });
  VMsgQueue q = MakeQueue();
  VMsgQueuePut(q, Msg(1));
  vtest::SweepAllocations([q](vtest::Fault &fault) {
    fault.Arm();
    VRC rc = VMsgQueuePut(q, Msg(2));
    if (fault.Disarm()) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(VMsgQueueNumItems(q), 1);
      return;
    }
    ASSERT_EQ(rc, 0);
    void *m = nullptr;
    EXPECT_EQ(VMsgQueueNumItems(q), 2);
    VMsgQueueGet(q, &m, VMSGQUEUE_NOWAIT);
    VMsgQueueGet(q, &m, VMSGQUEUE_NOWAIT);
    EXPECT_EQ(Num(m), 2u);
    VMsgQueuePut(q, Msg(1));
  });
  VMsgQueueDestroy(q, nullptr, nullptr);
}

// Producers tag each message with their number and a sequence; every
// consumer must see each producer's messages in increasing order, and all
// of them together every message exactly once.
TEST(VMsgQueueTest, SoakLosesAndDuplicatesNothing) {
  constexpr int kProducers = 4;
  constexpr int kConsumers = 4;
  const int perProducer = vtest::SoakSize(250000, 4);
  constexpr uintptr_t kStop = UINTPTR_MAX;
  VMsgQueue q = MakeQueue();
  std::vector<std::atomic<uint8_t>> seen(static_cast<size_t>(kProducers) *
                                         perProducer);
  std::atomic<int> duplicates{0}, disorder{0}, received{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kConsumers; c++) {
    threads.emplace_back([&] {
      std::vector<int64_t> last(kProducers, -1);
      for (;;) {
        void *m = nullptr;
        ASSERT_EQ(VMsgQueueGet(q, &m, VMSGQUEUE_WAIT), 0);
        if (Num(m) == kStop) return;
        uintptr_t p = Num(m) / perProducer, seq = Num(m) % perProducer;
        if (static_cast<int64_t>(seq) <= last[p]) disorder++;
        last[p] = static_cast<int64_t>(seq);
        if (seen[Num(m)].exchange(1) != 0) duplicates++;
        received++;
      }
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; p++) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < perProducer; i++) {
        ASSERT_EQ(VMsgQueuePut(q, Msg(uintptr_t(p) * perProducer + i)), 0);
      }
    });
  }
  for (auto &t : producers) t.join();
  for (int c = 0; c < kConsumers; c++) VMsgQueuePut(q, Msg(kStop));
  for (auto &t : threads) t.join();
  EXPECT_EQ(received.load(), kProducers * perProducer);
  EXPECT_EQ(duplicates.load(), 0);
  EXPECT_EQ(disorder.load(), 0);
  EXPECT_EQ(VMsgQueueNumItems(q), 0);
  VMsgQueueDestroy(q, nullptr, nullptr);
}

}  // namespace
