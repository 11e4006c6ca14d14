#include "containers/hashtable.h"

#include <ctype.h>
#include <gtest/gtest.h>

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
VHash *NewTable(uint32_t buckets, VAllocFunc alloc = vtest::FunnelMalloc) {
  return VHashCreateWith(alloc, buckets, HashKey, nullptr, CompareKey, nullptr);
}
void Fill(VHash *t, int n) {
  for (int i = 0; i < n; ++i) VHashInsert(t, NewEntry(i, i));
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
  EXPECT_EQ(VHashString2("ab", nullptr), 1650u);
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

// Then emptied by a cursor that frees each item it hands out, or by a flush,
// and reused.
TEST(VHashTest, MatchesMultimapModelUnderRandomOperations) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    VHash *t = NewTable(7);
    std::multimap<int, int> model;  // key -> id, equal keys oldest first
    std::map<int, Entry *> live;    // id -> item
    for (int step = 0; step < 4000; ++step) {
      int key = rng() % 40;
      if (rng() % 3 != 0 || live.empty()) {
        VHashInsert(t, live[step] = NewEntry(key, step));
        model.emplace(key, step);
      } else {
        auto victim = std::next(live.begin(), rng() % live.size());
        Entry *e = victim->second;
        auto it = model.find(e->key);
        while (it->second != e->id) ++it;
        model.erase(it);
        VHashDelete(t, e);
        VHashFree(e);
        live.erase(victim);
      }
      ASSERT_EQ(VHashNumItems(t), model.size());
      Ids expected;  // newest first
      for (auto [it, end] = model.equal_range(key); it != end; ++it)
        expected.insert(expected.begin(), it->second);
      ASSERT_EQ(Duplicates(t, key), expected) << "seed " << seed;
    }
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
    Fill(t, 2);
    EXPECT_EQ(Duplicates(t, 1), Ids{1});
    Destroy(t);
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

TEST(VHashTest, WalksStopAtFirstNonZeroResultAndReturnIt) {
  VHash *t = NewTable(3);
  Visits v;
  uint64_t before = vtest::AllocationCount();
  EXPECT_EQ(VHashWalk(t, Record, &v, 1, nullptr), 0);  // empty: no array
  EXPECT_EQ(vtest::AllocationCount(), before);
  Fill(t, 10);
  v.stop_at = 3;
  EXPECT_EQ(VHashWalk(t, Record, &v, 0, nullptr), 5);
  EXPECT_EQ(v.keys.size(), 3u);
  v = Visits{};
  EXPECT_EQ(VHashWalk(t, Record, &v, 1, nullptr), 0);
  EXPECT_EQ(v.keys, (Ids{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  v = Visits{{}, 4};
  EXPECT_EQ(VHashWalk(t, Record, &v, 1, Descending), 5);
  EXPECT_EQ(v.keys, (Ids{9, 8, 7, 6}));
  Destroy(t);
}

void *CopyEven(const void *item, void *arg) {
  const Entry *e = static_cast<const Entry *>(item);
  if (arg != nullptr && e->key % 2 != 0) return nullptr;
  void *copy = VHashAlloc(sizeof(Entry));
  return copy ? NewEntry(e->key, e->id, copy) : nullptr;
}

// The source items come from an incremental allocator.
TEST(VHashTest, CopyHoldsTheCopiesThatWereMade) {
  VIncrAllocator *arena = VIncrAllocatorCreate(64);
  VHash *t = NewTable(5);
  for (int i = 0; i < 12; ++i)
    VHashInsert(t, NewEntry(i, i, VHashIncrAlloc(arena, sizeof(Entry))));
  VHash *even = VHashCopy(t, CopyEven, &even);
  EXPECT_EQ(VHashNumItems(even), 6u);
  EXPECT_EQ(even->buckets, 5u);
  for (int key = 0; key < 12; ++key) {
    EXPECT_EQ(Duplicates(t, key), Ids{key});
    EXPECT_EQ(Duplicates(even, key), key % 2 ? Ids{} : Ids{key});
  }
  VHashDestroyWith(t, KeepEntry, nullptr, free);
  VIncrAllocatorDestroy(arena);
  Destroy(even);
}

TEST(VHashTest, AllocationFailuresReturnNullOrTwelve) {
  EXPECT_EQ(VHashAllocWith(vtest::NullMalloc, 8), nullptr);
  EXPECT_EQ(NewTable(3, vtest::NullMalloc), nullptr);
  EXPECT_EQ(NewTable(0), nullptr);
  VHash *t = NewTable(3);
  Fill(t, 6);
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
    VHash *copy = VHashCopy(t, CopyEven, nullptr);
    bool failed = f.Disarm();
    // Only the table itself makes the copy fail; lost items are skipped.
    ASSERT_EQ(copy == nullptr, failed && f.nth() == 1);
    if (copy == nullptr) return;
    EXPECT_EQ(VHashNumItems(copy) == 6, !failed);
    Destroy(copy);
  });
  Destroy(t);
}

}  // namespace
