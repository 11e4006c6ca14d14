// The calling thread's record (VThreadGetID) against GLib's g_thread_self
// and the bare thread id calls, and return-code texts (VRCToString) against
// g_strerror and strerror_r.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <glib.h>
#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include "vantrel/vrc.h"
#include "vantrel/vthread.h"

namespace {

VRC Nothing(VThread, void *) { return 0; }

// Spawning initialises the thread subsystem, which makes the calling
// thread "MAIN".
void InitialiseThreads() {
  static bool done = false;
  if (done) return;
  VThreadAttr attr = {VTHREAD_ATTR_JOINABLE, 0};
  VThread thread = nullptr;
  if (VThreadSpawn("bench", Nothing, nullptr, &attr, &thread) == 0) {
    VThreadDestroy(thread);
  }
  done = true;
}

void BM_VThreadGetID(benchmark::State &state) {
  InitialiseThreads();
  for (auto _ : state) benchmark::DoNotOptimize(VThreadGetID());
}
BENCHMARK(BM_VThreadGetID);

void BM_GThreadSelf(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(g_thread_self());
}
BENCHMARK(BM_GThreadSelf);

void BM_PthreadSelf(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(pthread_self());
}
BENCHMARK(BM_PthreadSelf);

void BM_Gettid(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(gettid());
}
BENCHMARK(BM_Gettid);

// A registered code: the first row of the built-in table, the last one
// (a full scan of the table) and a code without a row (scan and format).
void BM_VRCToString(benchmark::State &state) {
  InitialiseThreads();
  VRC code = static_cast<VRC>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(VRCToString(code));
}
BENCHMARK(BM_VRCToString)->Arg(VRC_FAILURE)->Arg(11004)->Arg(-40);

void BM_VRCToStringErrno(benchmark::State &state) {
  InitialiseThreads();
  for (auto _ : state) benchmark::DoNotOptimize(VRCToString(ECONNRESET));
}
BENCHMARK(BM_VRCToStringErrno);

void BM_GStrerror(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(g_strerror(ECONNRESET));
}
BENCHMARK(BM_GStrerror);

void BM_StrerrorR(benchmark::State &state) {
  char buffer[128];
  for (auto _ : state) {
    benchmark::DoNotOptimize(strerror_r(ECONNRESET, buffer, sizeof buffer));
  }
}
BENCHMARK(BM_StrerrorR);

}  // namespace
