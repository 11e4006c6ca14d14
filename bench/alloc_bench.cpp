// The allocation funnel against the C heap it wraps: a malloc and a free of
// a small block through internal::Malloc/Free, and the same straight from
// the C library.  The difference is what every allocation of the library
// pays for its testability (one relaxed load while no test watches).  The
// last case shows the price while the thread's attempts are being counted.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "internal/alloc.h"

namespace {

namespace vi = vantrel::internal;

void BM_FunnelMallocFree(benchmark::State &state) {
  size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void *p = vi::Malloc(size);
    benchmark::DoNotOptimize(p);
    vi::Free(p);
  }
}
BENCHMARK(BM_FunnelMallocFree)->Arg(16)->Arg(256);

void BM_RawMallocFree(benchmark::State &state) {
  size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void *p = malloc(size);
    benchmark::DoNotOptimize(p);
    free(p);
  }
}
BENCHMARK(BM_RawMallocFree)->Arg(16)->Arg(256);

// Runs last: once anything is watched, the funnel checks its thread's
// state on every allocation for the rest of the process.
void BM_FunnelMallocFreeCounted(benchmark::State &state) {
  size_t size = static_cast<size_t>(state.range(0));
  vi::AllocCountBegin();
  for (auto _ : state) {
    void *p = vi::Malloc(size);
    benchmark::DoNotOptimize(p);
    vi::Free(p);
  }
  vi::AllocCountEnd();
}
BENCHMARK(BM_FunnelMallocFreeCounted)->Arg(16);

}  // namespace
