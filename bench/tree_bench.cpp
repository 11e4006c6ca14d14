// VTree against GLib's GTree and std::map on 100,000 int keys inserted and
// looked up in random order.  The trees share one int comparison.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <vector>

#include "vantrel/vtree.h"

namespace {

constexpr int kCount = 100000;

std::vector<int> Shuffled(unsigned seed) {
  std::vector<int> keys(kCount);
  std::iota(keys.begin(), keys.end(), 0);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(seed));
  return keys;
}

const std::vector<int> &InsertOrder() {
  static const std::vector<int> keys = Shuffled(1);
  return keys;
}

const std::vector<int> &LookupOrder() {
  static const std::vector<int> keys = Shuffled(2);
  return keys;
}

int CompareInts(const void *a, const void *b, void *) {
  int x = *static_cast<const int *>(a);
  int y = *static_cast<const int *>(b);
  return x < y ? -1 : x > y;
}

int Ignore(void *, void *) { return 0; }

// Items allocated up front in insertion order, as GTree allocates its
// nodes while inserting.
struct Items {
  std::vector<int *> items;
  Items() {
    for (int key : InsertOrder()) {
      items.push_back(static_cast<int *>(VTreeAlloc(sizeof(int))));
      *items.back() = key;
    }
  }
  ~Items() {
    for (int *item : items) VTreeFree(item);
  }
};

VTree *BuildVTree(const Items &items) {
  VTree *tree = VTreeCreateWith(malloc, CompareInts, nullptr);
  for (int *item : items.items) VTreeInsert(tree, item);
  return tree;
}

GTree *BuildGTree() {
  GTree *tree = g_tree_new_full(CompareInts, nullptr, nullptr, nullptr);
  for (const int &key : InsertOrder()) {
    auto *p = const_cast<int *>(&key);
    g_tree_insert(tree, p, p);
  }
  return tree;
}

std::map<int, int> *BuildMap() {
  auto *map = new std::map<int, int>;
  for (int key : InsertOrder()) map->emplace(key, key);
  return map;
}

void BM_VTreeInsert(benchmark::State &state) {
  Items items;
  for (auto _ : state) {
    VTree *tree = BuildVTree(items);
    benchmark::DoNotOptimize(tree);
    state.PauseTiming();
    VTreeDestroyWith(tree, Ignore, nullptr, free);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_GTreeInsert(benchmark::State &state) {
  InsertOrder();
  for (auto _ : state) {
    GTree *tree = BuildGTree();
    benchmark::DoNotOptimize(tree);
    state.PauseTiming();
    g_tree_destroy(tree);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_StdMapInsert(benchmark::State &state) {
  InsertOrder();
  for (auto _ : state) {
    std::map<int, int> *map = BuildMap();
    benchmark::DoNotOptimize(map);
    state.PauseTiming();
    delete map;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_VTreeFind(benchmark::State &state) {
  Items items;
  VTree *tree = BuildVTree(items);
  for (auto _ : state) {
    for (const int &key : LookupOrder())
      benchmark::DoNotOptimize(VTreeFind(tree, &key));
  }
  state.SetItemsProcessed(state.iterations() * kCount);
  VTreeDestroyWith(tree, Ignore, nullptr, free);
}

void BM_GTreeFind(benchmark::State &state) {
  GTree *tree = BuildGTree();
  for (auto _ : state) {
    for (const int &key : LookupOrder())
      benchmark::DoNotOptimize(g_tree_lookup(tree, &key));
  }
  state.SetItemsProcessed(state.iterations() * kCount);
  g_tree_destroy(tree);
}

void BM_StdMapFind(benchmark::State &state) {
  std::map<int, int> *map = BuildMap();
  for (auto _ : state) {
    for (int key : LookupOrder()) benchmark::DoNotOptimize(map->find(key));
  }
  state.SetItemsProcessed(state.iterations() * kCount);
  delete map;
}

BENCHMARK(BM_VTreeInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GTreeInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdMapInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VTreeFind)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GTreeFind)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdMapFind)->Unit(benchmark::kMillisecond);

}  // namespace
