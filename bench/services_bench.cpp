// The services against their peers: a message stream from one thread to
// another (VMsgQueue, GLib's GAsyncQueue, APR's apr_queue), whole bursts
// handed over and puts alone against a running consumer, 100,000 empty
// jobs on two workers (VThreadPool, GLib's GThreadPool), and arming and
// removing a timer among 1,000 armed ones.
#include <apr_general.h>
#include <apr_pools.h>
#include <apr_queue.h>
#include <benchmark/benchmark.h>
#include <glib.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "vantrel/vmqueue.h"
#include "vantrel/vthreadpool.h"
#include "vantrel/vtimer.h"

namespace {

void *const kMessage = reinterpret_cast<void *>(1);
void *const kMark = reinterpret_cast<void *>(2);
void *const kStop = reinterpret_cast<void *>(3);

// One iteration is a burst of kBurst messages put by this thread and taken
// by the consumer, ending when the consumer has taken the burst's mark, so
// the time covers the whole hand-off and not just the puts.
constexpr int kBurst = 1000;
template <typename Queue>
void Stream(benchmark::State &state) {
  Queue q;
  sem_t marked;
  sem_init(&marked, 0, 0);
  std::thread consumer([&] {
    for (void *m; (m = q.Get()) != kStop;) {
      if (m == kMark) sem_post(&marked);
    }
  });
  for (auto _ : state) {
    for (int i = 0; i < kBurst; i++) q.Put(kMessage);
    q.Put(kMark);
    while (sem_wait(&marked) != 0) {
    }
  }
  q.Put(kStop);
  consumer.join();
  sem_destroy(&marked);
  state.SetItemsProcessed(state.iterations() * kBurst);
}

// One iteration is one put while the consumer takes concurrently; the
// clock stops with the loop, before the consumer has caught up, so this
// is the producer's side alone.
template <typename Queue>
void Puts(benchmark::State &state) {
  Queue q;
  std::thread consumer([&] {
    while (q.Get() != kStop) {
    }
  });
  for (auto _ : state) q.Put(kMessage);
  q.Put(kStop);
  consumer.join();
  state.SetItemsProcessed(state.iterations());
}

struct VQueue {
  VMsgQueue q = nullptr;
  VQueue() { VMsgQueueCreate(&q); }
  ~VQueue() { VMsgQueueDestroy(q, nullptr, nullptr); }
  void Put(void *m) { VMsgQueuePut(q, m); }
  void *Get() {
    void *m = nullptr;
    VMsgQueueGet(q, &m, VMSGQUEUE_WAIT);
    return m;
  }
};

struct GQueue {
  GAsyncQueue *q = g_async_queue_new();
  ~GQueue() { g_async_queue_unref(q); }
  void Put(void *m) { g_async_queue_push(q, m); }
  void *Get() { return g_async_queue_pop(q); }
};

// apr_queue is bounded; this capacity is far above what the consumer
// falls behind by, so pushes rarely wait.
struct AprQueue {
  apr_pool_t *pool = nullptr;
  apr_queue_t *q = nullptr;
  AprQueue() {
    apr_initialize();
    apr_pool_create(&pool, nullptr);
    apr_queue_create(&q, 1 << 20, pool);
  }
  ~AprQueue() {
    apr_queue_term(q);
    apr_pool_destroy(pool);
  }
  void Put(void *m) {
    while (apr_queue_push(q, m) == APR_EINTR) {
    }
  }
  void *Get() {
    void *m = nullptr;
    while (apr_queue_pop(q, &m) == APR_EINTR) {
    }
    return m;
  }
};

void BM_VMsgQueueStream(benchmark::State &state) { Stream<VQueue>(state); }
BENCHMARK(BM_VMsgQueueStream)->UseRealTime();
void BM_GAsyncQueueStream(benchmark::State &state) { Stream<GQueue>(state); }
BENCHMARK(BM_GAsyncQueueStream)->UseRealTime();
void BM_AprQueueStream(benchmark::State &state) { Stream<AprQueue>(state); }
BENCHMARK(BM_AprQueueStream)->UseRealTime();
void BM_VMsgQueuePuts(benchmark::State &state) { Puts<VQueue>(state); }
BENCHMARK(BM_VMsgQueuePuts)->UseRealTime();
void BM_GAsyncQueuePuts(benchmark::State &state) { Puts<GQueue>(state); }
BENCHMARK(BM_GAsyncQueuePuts)->UseRealTime();

// Counts finished jobs and wakes the benchmark at the last one.
constexpr int kJobs = 100000;
struct Batch {
  std::atomic<int> left{0};
  sem_t done;
  Batch() { sem_init(&done, 0, 0); }
  ~Batch() { sem_destroy(&done); }
  void Start() { left.store(kJobs); }
  void Finish() {
    if (left.fetch_sub(1) == 1) sem_post(&done);
  }
  void Await() {
    while (sem_wait(&done) != 0) {
    }
  }
};

VRC EmptyJob(void *arg) {
  static_cast<Batch *>(arg)->Finish();
  return 0;
}

void BM_VThreadPool100kEmptyJobs(benchmark::State &state) {
  VThreadPool pool = nullptr;
  VThreadPoolCreate(2, &pool);
  Batch batch;
  for (auto _ : state) {
    batch.Start();
    for (int i = 0; i < kJobs; i++) {
      VThreadPoolJobSubmit(pool, nullptr, EmptyJob, &batch, nullptr, nullptr,
                           VTHREADPOOL_JOB_RELEASE, nullptr);
    }
    batch.Await();
  }
  VThreadPoolDestroyWithFlags(pool, 0);
  state.SetItemsProcessed(state.iterations() * kJobs);
}
BENCHMARK(BM_VThreadPool100kEmptyJobs)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_GThreadPool100kEmptyJobs(benchmark::State &state) {
  Batch batch;
  GThreadPool *pool = g_thread_pool_new(
      [](gpointer, gpointer arg) { static_cast<Batch *>(arg)->Finish(); },
      &batch, 2, TRUE, nullptr);
  for (auto _ : state) {
    batch.Start();
    for (int i = 0; i < kJobs; i++) g_thread_pool_push(pool, kMessage, nullptr);
    batch.Await();
  }
  g_thread_pool_free(pool, FALSE, TRUE);
  state.SetItemsProcessed(state.iterations() * kJobs);
}
BENCHMARK(BM_GThreadPool100kEmptyJobs)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

VRC NoHandler(void *) { return 0; }

// 1,000 timers armed between 1 and 1,000 seconds out (a one-second
// resolution, so no tick interferes); one iteration arms one more at a
// random delay and removes it again.
void BM_VTimerArmAndRemoveAmong1000(benchmark::State &state) {
  VTimerInit(1.0);
  std::mt19937 random(1000);
  std::vector<VTimer> armed;
  for (int i = 0; i < 1000; i++) {
    armed.push_back(VTimerCreate(NoHandler, nullptr, "armed"));
    VTimerSet(armed.back(), 1 + static_cast<double>(random() % 1000));
  }
  std::vector<double> delays;
  for (int i = 0; i < 4096; i++) {
    delays.push_back(1 + static_cast<double>(random() % 1000));
  }
  VTimer t = VTimerCreate(NoHandler, nullptr, "measured");
  size_t i = 0;
  for (auto _ : state) {
    VTimerSet(t, delays[i++ % delays.size()]);
    VTimerRemove(t);
  }
  VTimerDestroy(t);
  for (VTimer a : armed) VTimerDestroy(a);
}
BENCHMARK(BM_VTimerArmAndRemoveAmong1000);

}  // namespace
