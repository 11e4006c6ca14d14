// Sorting a linked list of random keys (10,000 items, which stay in cache,
// and 1,000,000, which do not): VListMergeSort against std::list::sort and
// GLib's g_list_sort_with_data.  Each iteration sorts the same unsorted
// order; rebuilding it is outside the timed region.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <stdlib.h>

#include <list>
#include <random>
#include <vector>

#include "vantrel/vlist.h"

namespace {

struct Rec16 {
  int key;
  int pad[3];
};

std::vector<int> Keys(const benchmark::State &state) {
  std::mt19937 rng(12345);
  std::vector<int> keys(static_cast<size_t>(state.range(0)));
  for (int &x : keys) x = static_cast<int>(rng());
  return keys;
}

int CompareRec(const void *a, const void *b, void *) {
  int x = static_cast<const Rec16 *>(a)->key;
  int y = static_cast<const Rec16 *>(b)->key;
  return (x > y) - (x < y);
}

int CompareRecG(gconstpointer a, gconstpointer b, gpointer) {
  return CompareRec(a, b, nullptr);
}

void BM_VListMergeSort(benchmark::State &state) {
  const std::vector<int> keys = Keys(state);
  VList *list = VListCreateWith(malloc);
  std::vector<void *> items;
  for (int key : keys) {
    auto *r = static_cast<Rec16 *>(VListAlloc(sizeof(Rec16)));
    r->key = key;
    items.push_back(r);
  }
  for (auto _ : state) {
    state.PauseTiming();
    VListFlush(list, nullptr, nullptr);
    for (void *item : items) VListInsertAfter(list, item, VListTail(list));
    state.ResumeTiming();
    VListMergeSort(list, CompareRec, nullptr);
  }
  VListFlush(list, nullptr, nullptr);
  for (void *item : items) VListFree(item);
  VListDestroyWith(list, nullptr, nullptr, free);
}
BENCHMARK(BM_VListMergeSort)
    ->Arg(10000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_StdListIntSort(benchmark::State &state) {
  const std::vector<int> keys = Keys(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::list<int> list(keys.begin(), keys.end());
    state.ResumeTiming();
    list.sort();
    state.PauseTiming();
    list.clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StdListIntSort)
    ->Arg(10000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_StdListRec16Sort(benchmark::State &state) {
  const std::vector<int> keys = Keys(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::list<Rec16> list;
    for (int key : keys) list.push_back(Rec16{key, {}});
    state.ResumeTiming();
    list.sort([](const Rec16 &a, const Rec16 &b) { return a.key < b.key; });
    state.PauseTiming();
    list.clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StdListRec16Sort)
    ->Arg(10000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_GListSortWithData(benchmark::State &state) {
  const std::vector<int> keys = Keys(state);
  std::vector<Rec16> recs(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) recs[i].key = keys[i];
  for (auto _ : state) {
    state.PauseTiming();
    GList *list = nullptr;
    for (size_t i = recs.size(); i-- > 0;)
      list = g_list_prepend(list, &recs[i]);
    state.ResumeTiming();
    list = g_list_sort_with_data(list, CompareRecG, nullptr);
    state.PauseTiming();
    g_list_free(list);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_GListSortWithData)
    ->Arg(10000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
