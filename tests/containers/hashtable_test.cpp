#include "containers/hashtable.h"

#include <ctype.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vhash.h"
#include "vantrel/vincralloc.h"

namespace {

struct Entry {
  int key, id;
};
using Ids = std::vector<int>;

// Identity hash: with few buckets every chain mixes several keys.
uint32_t HashKey(const void *p, void *) {
  return static_cast<const Entry *>(p)->key;
}
int CompareKey(const void *a, const void *b, void *) {
  int x = static_cast<const Entry *>(a)->key;
  int y = static_cast<const Entry *>(b)->key;
  return (x > y) - (x < y);
}
int FreeEntry(void *item, void *) { return VHashFree(item), 0; }
int KeepEntry(void *, void *) { return 0; }
Entry *NewEntry(int key, int id, void *item = VHashAlloc(sizeof(Entry))) {
  return &(*static_cast<Entry *>(item) = Entry{key, id});
}
VHash *NewTable(uint32_t buckets) {
  return VHashCreateWith(vtest::FunnelMalloc, buckets, HashKey, nullptr,
                         CompareKey, nullptr);
}
void Destroy(VHash *t) { VHashDestroyWith(t, FreeEntry, nullptr, free); }

// Ids of every item matching key, as Find and Next hand them out.
Ids Duplicates(VHash *t, int key) {
  Ids ids;
  Entry probe{key, -1};
  for (void *p = VHashFind(t, &probe); p != nullptr; p = VHashNext(t, p))
    ids.push_back(static_cast<Entry *>(p)->id);
  return ids;
}

uint32_t ElfReference(const std::string &s, bool upper) {
  uint32_t h = 0;
  for (unsigned char c : s) {
    h = h * 16 + (upper ? static_cast<unsigned char>(toupper(c)) : c);
    if (uint32_t g = h & 0xf0000000u) h = (h ^ (g >> 24)) & 0x0fffffffu;
  }
  return h;
}

TEST(VHashTest, StringHashesMatchTheirDefinitions) {
  EXPECT_EQ(VHashString1("ab\xff"), 97u + 98u + 255u);
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    // Runs of 0xff push carries across the nibble that is folded back.
    std::string s(rng() % 48, ' ');
    for (char &c : s)
      c = static_cast<char>(i % 2 == 0 && rng() % 4 ? 0xff : 1 + rng() % 255);
    ASSERT_EQ(VHashString2(s.c_str(), nullptr), ElfReference(s, false)) << i;
    ASSERT_EQ(VHashStringIC(s.c_str(), nullptr), ElfReference(s, true)) << i;
  }
}

struct Visits {
  Ids keys;
  size_t stop_at = SIZE_MAX;
};
int Record(void *item, void *arg) {
  Visits *v = static_cast<Visits *>(arg);
  v->keys.push_back(static_cast<Entry *>(item)->key);
  return v->keys.size() == v->stop_at ? 5 : 0;
}
int Descending(const void *a, const void *b, void *arg) {
  EXPECT_EQ(arg, nullptr);  // the table's compare argument
  return -CompareKey(a, b, nullptr);
}

// Keys in visiting order; the visitor stops the walk with 5 at the
// stop_at-th item, and the walk must return `rc`.
Ids WalkKeys(VHash *t, int sorted, VCompareFunc order, size_t stop_at, int rc) {
  Visits v{{}, stop_at};
  EXPECT_EQ(VHashWalk(t, Record, &v, sorted, order), rc);
  return v.keys;
}

// Then walked, emptied by a cursor that frees each item it hands out or by
// a flush, and reused.
TEST(VHashTest, MatchesModelUnderRandomOperations) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    VHash *t = NewTable(7);
    std::map<int, Entry *> live;  // id -> item; newer items have higher ids
    for (int step = 0; step < 4000; ++step) {
      int key = rng() % 40;
      if (rng() % 3 != 0 || live.empty()) {
        VHashInsert(t, live[step] = NewEntry(key, step));
      } else {
        auto victim = std::next(live.begin(), rng() % live.size());
        VHashDelete(t, victim->second);
        VHashFree(victim->second);
        live.erase(victim);
      }
      ASSERT_EQ(VHashNumItems(t), live.size());
      Ids expected;  // newest first
      for (auto it = live.rbegin(); it != live.rend(); ++it)
        if (it->second->key == key) expected.push_back(it->first);
      ASSERT_EQ(Duplicates(t, key), expected) << "seed " << seed;
    }
    Ids keys;  // sorted walks, stopped ones returning the visitor's result
    for (auto &[id, e] : live) keys.push_back(e->key);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(WalkKeys(t, 1, nullptr, SIZE_MAX, 0), keys);
    EXPECT_EQ(WalkKeys(t, 1, Descending, keys.size(), 5),  // at the last
              Ids(keys.rbegin(), keys.rend()));
    EXPECT_EQ(WalkKeys(t, 0, nullptr, 3, 5).size(), 3u);
    std::set<int> seen;
    if (seed == 2) VHashFlush(t, FreeEntry, nullptr);
    VHashCursor *c = VHashCursorOpen(t);
    while (void *p = VHashCursorNext(c)) {
      EXPECT_TRUE(seen.insert(static_cast<Entry *>(p)->id).second);
      VHashDelete(t, p);
      VHashFree(p);
    }
    EXPECT_EQ(VHashCursorNext(c), nullptr);  // stays exhausted
    VHashCursorClose(c);
    EXPECT_EQ(seen.size(), seed == 2 ? 0 : live.size());
    EXPECT_EQ(VHashNumItems(t), 0u);
    EXPECT_TRUE(Duplicates(t, 5).empty());
    {
      vtest::AllocCounter allocations;
      EXPECT_TRUE(WalkKeys(t, 1, nullptr, SIZE_MAX, 0).empty());
      EXPECT_EQ(allocations.count(), 0u);  // empty: no sort array
    }
    VHashInsert(t, NewEntry(1, 1));
    EXPECT_EQ(Duplicates(t, 1), Ids{1});
    Destroy(t);
  }
}

// Copies the even keys when given an argument, all keys without one.
void *CopyEven(const void *item, void *arg) {
  const Entry *e = static_cast<const Entry *>(item);
  if (arg != nullptr && e->key % 2 != 0) return nullptr;
  void *copy = VHashAlloc(sizeof(Entry));
  return copy ? NewEntry(e->key, e->id, copy) : nullptr;
}

// The source items come from an incremental allocator.  A failed copy
// function only loses its item; only the table itself makes the copy fail.
TEST(VHashTest, AllocationFailuresAndCopies) {
  EXPECT_EQ(NewTable(0), nullptr);
  VIncrAllocator *arena = VIncrAllocatorCreate(64);
  VHash *t = NewTable(3);
  for (int i = 0; i < 6; ++i)
    VHashInsert(t, NewEntry(i, i, VHashIncrAlloc(arena, sizeof(Entry))));
  vtest::SweepAllocations([t](vtest::Fault &f) {
    Visits v;
    f.Arm();
    void *item = VHashAllocWith(vtest::FunnelMalloc, 8);
    VHash *empty = NewTable(3);
    VHashCursor *c = VHashCursorOpen(t);
    int rc = VHashWalk(t, Record, &v, 1, nullptr);
    EXPECT_EQ(f.Disarm(), !item || !empty || !c || rc == 12);
    EXPECT_EQ(v.keys.size(), rc == 12 ? 0u : 6u);
    VHashFreeWith(item, vtest::FunnelFree);
    free(empty);
    VHashCursorClose(c);
  });
  vtest::SweepAllocations([t](vtest::Fault &f) {
    f.Arm();
    VHash *copy = VHashCopy(t, CopyEven, &f);
    bool failed = f.Disarm();
    ASSERT_EQ(copy == nullptr, failed && f.nth() == 1);
    if (copy == nullptr) return;
    EXPECT_EQ(copy->buckets, 3u);
    EXPECT_EQ(VHashNumItems(copy) == 3, !failed);
    for (int key = 0; key < 6 && !failed; ++key)
      EXPECT_EQ(Duplicates(copy, key), key % 2 ? Ids{} : Ids{key});
    Destroy(copy);
  });
  VHashDestroyWith(t, KeepEntry, nullptr, free);
  VIncrAllocatorDestroy(arena);
}

}  // namespace
