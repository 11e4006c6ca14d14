// Locks and semaphores against their raw peers: an uncontended re-entrant
// lock and unlock (VMutex, a recursive pthread mutex, GLib's GRecMutex,
// std::mutex), and a two-thread ping-pong over a pair of semaphores
// (VSemaphore against the same counting semaphore written directly on a
// pthread mutex and condition variable, and the system's sem_t), and a
// ping-pong over one VCond.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "vantrel/vsync.h"

namespace {

void BM_VMutexLockUnlock(benchmark::State &state) {
  VMutex m = nullptr;
  VMutexCreate("bench", &m);
  for (auto _ : state) {
    VMutexLock(m);
    VMutexUnlock(m);
  }
  VMutexDestroy(m);
}
BENCHMARK(BM_VMutexLockUnlock);

void BM_PthreadRecursiveLockUnlock(benchmark::State &state) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_t m;
  pthread_mutex_init(&m, &attr);
  for (auto _ : state) {
    pthread_mutex_lock(&m);
    pthread_mutex_unlock(&m);
  }
  pthread_mutex_destroy(&m);
  pthread_mutexattr_destroy(&attr);
}
BENCHMARK(BM_PthreadRecursiveLockUnlock);

void BM_GRecMutexLockUnlock(benchmark::State &state) {
  GRecMutex m;
  g_rec_mutex_init(&m);
  for (auto _ : state) {
    g_rec_mutex_lock(&m);
    g_rec_mutex_unlock(&m);
  }
  g_rec_mutex_clear(&m);
}
BENCHMARK(BM_GRecMutexLockUnlock);

void BM_StdMutexLockUnlock(benchmark::State &state) {
  std::mutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}
BENCHMARK(BM_StdMutexLockUnlock);

// A post nobody waits for, taken back without waiting.
void BM_VSemaphorePostTry(benchmark::State &state) {
  VSemaphore s = nullptr;
  VSemaphoreCreateN(0, &s);
  for (auto _ : state) {
    VSemaphorePost(s);
    VSemaphoreTry(s);
  }
  VSemaphoreDestroy(s);
}
BENCHMARK(BM_VSemaphorePostTry);

// The peer: a counting semaphore as one would write it on pthreads.
struct RawSemaphore {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
  int count = 0;
  void Post() {
    pthread_mutex_lock(&lock);
    count++;
    pthread_cond_signal(&cond);
    pthread_mutex_unlock(&lock);
  }
  void Wait() {
    pthread_mutex_lock(&lock);
    while (count == 0) pthread_cond_wait(&cond, &lock);
    count--;
    pthread_mutex_unlock(&lock);
  }
};

// The system's own counting semaphore.
struct PosixSemaphore {
  sem_t s;
  PosixSemaphore() { sem_init(&s, 0, 0); }
  ~PosixSemaphore() { sem_destroy(&s); }
  void Post() { sem_post(&s); }
  void Wait() {
    while (sem_wait(&s) != 0) {
    }
  }
};

struct VSem {
  VSemaphore s = nullptr;
  VSem() { VSemaphoreCreateN(0, &s); }
  ~VSem() { VSemaphoreDestroy(s); }
  void Post() { VSemaphorePost(s); }
  void Wait() { VSemaphoreWait(s); }
};

// One iteration is a round trip: post ping, wait for pong.
template <typename Sem>
void PingPong(benchmark::State &state) {
  Sem ping, pong;
  std::atomic<bool> stop{false};
  std::thread partner([&] {
    while (true) {
      ping.Wait();
      if (stop.load()) break;
      pong.Post();
    }
  });
  for (auto _ : state) {
    ping.Post();
    pong.Wait();
  }
  stop = true;
  ping.Post();
  partner.join();
}

void BM_VSemaphorePingPong(benchmark::State &state) { PingPong<VSem>(state); }
BENCHMARK(BM_VSemaphorePingPong)->UseRealTime();

void BM_RawSemaphorePingPong(benchmark::State &state) {
  PingPong<RawSemaphore>(state);
}
BENCHMARK(BM_RawSemaphorePingPong)->UseRealTime();

void BM_PosixSemaphorePingPong(benchmark::State &state) {
  PingPong<PosixSemaphore>(state);
}
BENCHMARK(BM_PosixSemaphorePingPong)->UseRealTime();

// One iteration is a round trip over one VCond and its VMutex: each side
// hands the turn over, signals, and waits until the turn comes back.
void BM_VCondPingPong(benchmark::State &state) {
  VMutex m = nullptr;
  VCond c = nullptr;
  VMutexCreate("bench", &m);
  VCondCreate(&c);
  int turn = 0;
  bool stop = false;
  std::thread partner([&] {
    VMutexLock(m);
    for (;;) {
      while (turn != 1 && !stop) VCondWait(c, m);
      if (stop) break;
      turn = 0;
      VCondSignal(c);
    }
    VMutexUnlock(m);
  });
  VMutexLock(m);
  for (auto _ : state) {
    turn = 1;
    VCondSignal(c);
    while (turn != 0) VCondWait(c, m);
  }
  stop = true;
  VCondSignal(c);
  VMutexUnlock(m);
  partner.join();
  VCondDestroy(c);
  VMutexDestroy(m);
}
BENCHMARK(BM_VCondPingPong)->UseRealTime();

}  // namespace
