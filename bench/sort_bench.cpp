// Array sorts against the C library's qsort_r, GLib's g_qsort_with_data and
// std::sort.  Every iteration copies the same random input into the work
// array and sorts it; the copy is inside the timed region for every
// contender alike (BM_Copy... measure it alone).
#include <benchmark/benchmark.h>
#include <glib.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <vector>

#include "vantrel/vsort.h"

namespace {

// 64-byte record ordered by the 32-bit key in its first four bytes.
struct Record {
  int32_t key;
  char payload[60];
};
static_assert(sizeof(Record) == 64);

int CompareKey(const void *a, const void *b, void *) {
  int32_t x, y;
  memcpy(&x, a, sizeof x);
  memcpy(&y, b, sizeof y);
  return (x > y) - (x < y);
}

template <typename T>
std::vector<T> RandomInput(size_t count) {
  std::mt19937 rng(42);
  std::vector<T> out(count);
  for (T &item : out) {
    if constexpr (sizeof(T) == sizeof(int32_t)) {
      item = static_cast<int32_t>(rng());
    } else {
      item.key = static_cast<int32_t>(rng());
      memset(item.payload, static_cast<int>(rng()), sizeof item.payload);
    }
  }
  return out;
}

bool KeyLess(int32_t a, int32_t b) { return a < b; }
bool KeyLess(const Record &a, const Record &b) { return a.key < b.key; }

enum class Sorter { kVQuick, kVShell, kVInsertion, kQsortR, kGLib, kStd };

template <typename T>
void Sort(Sorter sorter, std::vector<T> &v) {
  switch (sorter) {
    case Sorter::kVQuick:
      VQuickSort(v.data(), v.size(), sizeof(T), CompareKey, nullptr);
      break;
    case Sorter::kVShell:
      v_qsort(v.data(), v.size(), sizeof(T), CompareKey, nullptr);
      break;
    case Sorter::kVInsertion:
      VInsertionSort(v.data(), v.size(), sizeof(T), CompareKey, nullptr);
      break;
    case Sorter::kQsortR:
      qsort_r(v.data(), v.size(), sizeof(T), CompareKey, nullptr);
      break;
    case Sorter::kGLib:
      g_qsort_with_data(v.data(), static_cast<gint>(v.size()), sizeof(T),
                        CompareKey, nullptr);
      break;
    case Sorter::kStd:
      std::sort(v.begin(), v.end(),
                [](const T &a, const T &b) { return KeyLess(a, b); });
      break;
  }
}

template <typename T>
void RunSort(benchmark::State &state, Sorter sorter) {
  const std::vector<T> input = RandomInput<T>(state.range(0));
  std::vector<T> work(input.size());
  for (auto _ : state) {
    memcpy(work.data(), input.data(), input.size() * sizeof(T));
    Sort(sorter, work);
    benchmark::ClobberMemory();
  }
  if (!std::is_sorted(work.begin(), work.end(),
                      [](const T &a, const T &b) { return KeyLess(a, b); })) {
    state.SkipWithError("not sorted");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename T>
void RunCopyOnly(benchmark::State &state) {
  const std::vector<T> input = RandomInput<T>(state.range(0));
  std::vector<T> work(input.size());
  for (auto _ : state) {
    memcpy(work.data(), input.data(), input.size() * sizeof(T));
    benchmark::ClobberMemory();
  }
}

void BM_Ints(benchmark::State &state, Sorter sorter) {
  RunSort<int32_t>(state, sorter);
}
void BM_Records64(benchmark::State &state, Sorter sorter) {
  RunSort<Record>(state, sorter);
}
void BM_CopyInts(benchmark::State &state) { RunCopyOnly<int32_t>(state); }
void BM_CopyRecords64(benchmark::State &state) { RunCopyOnly<Record>(state); }

constexpr int64_t kInts = 1000000;
constexpr int64_t kRecords = 100000;

#define SORT_BENCH(func, name, sorter, count)   \
  BENCHMARK_CAPTURE(func, name, Sorter::sorter) \
      ->Arg(count)                              \
      ->Unit(benchmark::kMillisecond)

SORT_BENCH(BM_Ints, VQuickSort, kVQuick, kInts);
SORT_BENCH(BM_Ints, qsort_r, kQsortR, kInts);
SORT_BENCH(BM_Ints, g_qsort_with_data, kGLib, kInts);
SORT_BENCH(BM_Ints, std_sort, kStd, kInts);
SORT_BENCH(BM_Ints, v_qsort, kVShell, kInts);
BENCHMARK(BM_CopyInts)->Arg(kInts)->Unit(benchmark::kMillisecond);

SORT_BENCH(BM_Records64, VQuickSort, kVQuick, kRecords);
SORT_BENCH(BM_Records64, qsort_r, kQsortR, kRecords);
SORT_BENCH(BM_Records64, g_qsort_with_data, kGLib, kRecords);
SORT_BENCH(BM_Records64, std_sort, kStd, kRecords);
SORT_BENCH(BM_Records64, v_qsort, kVShell, kRecords);
BENCHMARK(BM_CopyRecords64)->Arg(kRecords)->Unit(benchmark::kMillisecond);

// Short arrays, where insertion sort is meant to shine.
#define SMALL_BENCH(name, sorter) \
  BENCHMARK_CAPTURE(BM_Ints, name, Sorter::sorter)->Arg(16)->Arg(64)

SMALL_BENCH(VInsertionSort, kVInsertion);
SMALL_BENCH(VQuickSort, kVQuick);
SMALL_BENCH(v_qsort, kVShell);
SMALL_BENCH(qsort_r, kQsortR);
SMALL_BENCH(g_qsort_with_data, kGLib);
SMALL_BENCH(std_sort, kStd);

}  // namespace
