// Hash table lookups by string key: VHash with VHashString2 against
// GHashTable (g_str_hash/g_str_equal) and std::unordered_map over the same
// keys and items, plus the string hashes alone.  Every lookup reads the
// found item's value, as a caller would.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "vantrel.h"

namespace {

// `count` distinct 17-byte keys; the queries are separate copies of them in
// shuffled order, as a caller's lookup strings would be.
struct KeySet {
  std::vector<std::string> keys;
  std::vector<std::string> queries;
  explicit KeySet(size_t count) {
    std::mt19937 rng(42);
    const char alnum[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    while (keys.size() < count) {
      std::string key = "k";
      for (int i = 0; i < 16; ++i) key += alnum[rng() % 62];
      keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    queries = keys;
    std::shuffle(queries.begin(), queries.end(), rng);
  }
};

const KeySet &Keys(size_t count) {
  static KeySet small(1000), large(100000);
  return count <= 1000 ? small : large;
}

uint32_t PrimeAtLeast(uint32_t n) {
  for (;; ++n) {
    bool prime = n > 1;
    for (uint32_t d = 2; prime && d * d <= n; ++d) prime = n % d != 0;
    if (prime) return n;
  }
}

// Runs find(query) over every query and sums the values found.
template <typename Find>
void LookUpAll(benchmark::State &state, const KeySet &set, Find find) {
  for (auto _ : state) {
    long sum = 0;
    for (const std::string &query : set.queries) sum += find(query);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * set.queries.size());
}

// The usual layout: the item points at its key.
struct Item {
  const char *key;
  int value;
};

// Items that begin with their key string, so that VHashString2 and strcmp
// serve directly as the table's functions.
struct InlineItem {
  char key[24];
  int value;
};

uint32_t ItemHash(const void *item, void *) {
  return VHashString2(static_cast<const Item *>(item)->key, nullptr);
}
int ItemCompare(const void *key, const void *item, void *) {
  return strcmp(static_cast<const Item *>(key)->key,
                static_cast<const Item *>(item)->key);
}
int InlineCompare(const void *key, const void *item, void *) {
  return strcmp(static_cast<const char *>(key),
                static_cast<const char *>(item));
}
int FreeItem(void *item, void *) {
  VHashFree(item);
  return 0;
}

// Args: key count, load factor in percent (100 keys per 100 buckets).  The
// bucket count is the next prime, as the library's callers choose it.
VHash *NewTable(benchmark::State &state, VHashFunc hash, VCompareFunc compare) {
  size_t count = Keys(state.range(0)).keys.size();
  uint32_t buckets = PrimeAtLeast(count * 100 / state.range(1));
  return VHashCreateWith(malloc, buckets, hash, nullptr, compare, nullptr);
}

void BM_VHashFind(benchmark::State &state) {
  const KeySet &set = Keys(state.range(0));
  VHash *table = NewTable(state, ItemHash, ItemCompare);
  for (size_t i = 0; i < set.keys.size(); ++i) {
    Item *item = static_cast<Item *>(VHashAlloc(sizeof(Item)));
    *item = Item{set.keys[i].c_str(), static_cast<int>(i)};
    VHashInsert(table, item);
  }
  LookUpAll(state, set, [table](const std::string &query) {
    Item probe{query.c_str(), 0};
    return static_cast<Item *>(VHashFind(table, &probe))->value;
  });
  VHashDestroyWith(table, FreeItem, nullptr, free);
}
BENCHMARK(BM_VHashFind)
    ->Args({1000, 100})
    ->Args({1000, 800})
    ->Args({100000, 50})
    ->Args({100000, 100})
    ->Args({100000, 800});

void BM_VHashFindInlineKey(benchmark::State &state) {
  const KeySet &set = Keys(state.range(0));
  VHash *table = NewTable(state, VHashString2, InlineCompare);
  for (size_t i = 0; i < set.keys.size(); ++i) {
    InlineItem *item =
        static_cast<InlineItem *>(VHashAlloc(sizeof(InlineItem)));
    snprintf(item->key, sizeof(item->key), "%s", set.keys[i].c_str());
    item->value = static_cast<int>(i);
    VHashInsert(table, item);
  }
  LookUpAll(state, set, [table](const std::string &query) {
    return static_cast<InlineItem *>(VHashFind(table, query.c_str()))->value;
  });
  VHashDestroyWith(table, FreeItem, nullptr, free);
}
BENCHMARK(BM_VHashFindInlineKey)
    ->Args({1000, 100})
    ->Args({100000, 50})
    ->Args({100000, 100});

void BM_GHashTableLookup(benchmark::State &state) {
  const KeySet &set = Keys(state.range(0));
  std::vector<Item> items(set.keys.size());
  GHashTable *table = g_hash_table_new(g_str_hash, g_str_equal);
  for (size_t i = 0; i < set.keys.size(); ++i) {
    items[i] = Item{set.keys[i].c_str(), static_cast<int>(i)};
    g_hash_table_insert(table, const_cast<char *>(items[i].key), &items[i]);
  }
  LookUpAll(state, set, [table](const std::string &query) {
    return static_cast<Item *>(g_hash_table_lookup(table, query.c_str()))
        ->value;
  });
  g_hash_table_destroy(table);
}
BENCHMARK(BM_GHashTableLookup)->Arg(1000)->Arg(100000);

void BM_GHashTableLookupInlineKey(benchmark::State &state) {
  const KeySet &set = Keys(state.range(0));
  std::vector<InlineItem> items(set.keys.size());
  GHashTable *table = g_hash_table_new(g_str_hash, g_str_equal);
  for (size_t i = 0; i < set.keys.size(); ++i) {
    snprintf(items[i].key, sizeof(items[i].key), "%s", set.keys[i].c_str());
    items[i].value = static_cast<int>(i);
    g_hash_table_insert(table, items[i].key, &items[i]);
  }
  LookUpAll(state, set, [table](const std::string &query) {
    return static_cast<InlineItem *>(g_hash_table_lookup(table, query.c_str()))
        ->value;
  });
  g_hash_table_destroy(table);
}
BENCHMARK(BM_GHashTableLookupInlineKey)->Arg(1000)->Arg(100000);

void BM_UnorderedMapFind(benchmark::State &state) {
  const KeySet &set = Keys(state.range(0));
  std::vector<Item> items(set.keys.size());
  std::unordered_map<std::string, Item *> table;
  for (size_t i = 0; i < set.keys.size(); ++i) {
    items[i] = Item{set.keys[i].c_str(), static_cast<int>(i)};
    table.emplace(set.keys[i], &items[i]);
  }
  LookUpAll(state, set, [&table](const std::string &query) {
    return table.find(query)->second->value;
  });
}
BENCHMARK(BM_UnorderedMapFind)->Arg(1000)->Arg(100000);

// The hash as literally defined, to show what the unfolded form saves.
uint32_t ElfLiteral(const char *text) {
  uint32_t h = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != 0; ++p) {
    h = (h << 4) + *p;
    uint32_t g = h & 0xf0000000u;
    if (g != 0) h = (h ^ (g >> 24)) & 0x0fffffffu;
  }
  return h;
}

// Each hash picks the next key, so the time is the hash's latency, which is
// what a lookup waits for.
template <typename Hash>
void HashChained(benchmark::State &state, Hash hash) {
  const std::vector<std::string> &keys = Keys(1000).keys;
  uint32_t h = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < keys.size(); ++i) {
      h = hash(keys[(h + i) % keys.size()].c_str());
    }
  }
  benchmark::DoNotOptimize(h);
  state.SetItemsProcessed(state.iterations() * keys.size());
}

void BM_HashVHashString2(benchmark::State &state) {
  HashChained(state, [](const char *s) { return VHashString2(s, nullptr); });
}
void BM_HashElfLiteral(benchmark::State &state) {
  HashChained(state, ElfLiteral);
}
void BM_HashGStrHash(benchmark::State &state) {
  HashChained(state, [](const char *s) { return g_str_hash(s); });
}
BENCHMARK(BM_HashVHashString2);
BENCHMARK(BM_HashElfLiteral);
BENCHMARK(BM_HashGStrHash);

}  // namespace
