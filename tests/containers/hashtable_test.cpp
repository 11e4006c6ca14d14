#include "containers/hashtable.h"

#include <ctype.h>
#include <gtest/gtest.h>
#include <string.h>

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
  int key;
  int id;
};

// Identity hash: with a small bucket count every chain mixes several keys.
uint32_t HashKey(const void *p, void *) {
  return static_cast<uint32_t>(static_cast<const Entry *>(p)->key);
}
int CompareKey(const void *a, const void *b, void *) {
  int x = static_cast<const Entry *>(a)->key;
  int y = static_cast<const Entry *>(b)->key;
  return (x > y) - (x < y);
}
int FreeEntry(void *item, void *) {
  VHashFree(item);
  return 0;
}

Entry *NewEntry(int key, int id) {
  Entry *e = static_cast<Entry *>(VHashAlloc(sizeof(Entry)));
  *e = Entry{key, id};
  return e;
}

VHash *NewTable(uint32_t buckets, VAllocFunc alloc = vtest::FunnelMalloc) {
  return VHashCreateWith(alloc, buckets, HashKey, nullptr, CompareKey, nullptr);
}

void Fill(VHash *t, int n) {
  for (int i = 0; i < n; ++i) VHashInsert(t, NewEntry(i, i));
}

void Destroy(VHash *t) { VHashDestroyWith(t, FreeEntry, nullptr, free); }

// Ids of every item matching key, as Find and Next hand them out.
std::vector<int> Duplicates(VHash *t, int key) {
  std::vector<int> ids;
  Entry probe{key, -1};
  for (void *p = VHashFind(t, &probe); p != nullptr; p = VHashNext(t, p)) {
    ids.push_back(static_cast<Entry *>(p)->id);
  }
  return ids;
}

// The hash as literally defined, to check the fast version against.
uint32_t ElfReference(const std::string &s, bool upper) {
  uint32_t h = 0;
  for (unsigned char c : s) {
    h = h * 16 + (upper ? static_cast<unsigned char>(toupper(c)) : c);
    uint32_t g = h & 0xf0000000u;
    if (g != 0) h = (h ^ (g >> 24)) & 0x0fffffffu;
  }
  return h;
}

TEST(VHashTest, StringHashesMatchTheirDefinitions) {
  EXPECT_EQ(VHashString2("", nullptr), 0u);
  EXPECT_EQ(VHashString2("A", nullptr), 65u);
  EXPECT_EQ(VHashString2("ab", nullptr), 1650u);
  EXPECT_EQ(VHashString1(""), 0u);
  EXPECT_EQ(VHashString1("ab\xff"), 97u + 98u + 255u);
  EXPECT_EQ(VHashStringIC("abc", nullptr), VHashStringIC("ABC", nullptr));
  EXPECT_NE(VHashString2("abc", nullptr), VHashString2("ABC", nullptr));
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    std::string s(rng() % 48, ' ');
    // Runs of 0xff drive the hash state to all ones, where carries cross
    // the nibble that is folded back.
    bool runs = i % 2 == 0;
    for (char &c : s) {
      c = static_cast<char>(runs && rng() % 4 != 0 ? 0xff : 1 + rng() % 255);
    }
    ASSERT_EQ(VHashString2(s.c_str(), nullptr), ElfReference(s, false)) << i;
    ASSERT_EQ(VHashStringIC(s.c_str(), nullptr), ElfReference(s, true)) << i;
  }
}

TEST(VHashTest, MatchesMultimapModelUnderRandomOperations) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    VHash *t = NewTable(7);
    std::multimap<int, int> model;  // key -> id, equal keys oldest first
    std::map<int, Entry *> live;    // id -> item
    for (int step = 0; step < 4000; ++step) {
      int key = static_cast<int>(rng() % 40);
      if (rng() % 3 != 0 || live.empty()) {
        live[step] = NewEntry(key, step);
        VHashInsert(t, live[step]);
        model.emplace(key, step);
      } else {
        auto victim = std::next(live.begin(), rng() % live.size());
        Entry *e = victim->second;
        auto range = model.equal_range(e->key);
        for (auto it = range.first; it != range.second; ++it) {
          if (it->second == e->id) {
            model.erase(it);
            break;
          }
        }
        VHashDelete(t, e);
        VHashFree(e);
        live.erase(victim);
      }
      ASSERT_EQ(VHashNumItems(t), model.size());
      std::vector<int> expected;
      auto range = model.equal_range(key);
      for (auto it = range.first; it != range.second; ++it) {
        expected.insert(expected.begin(), it->second);  // newest first
      }
      ASSERT_EQ(Duplicates(t, key), expected) << "seed " << seed;
    }
    Destroy(t);
  }
}

TEST(VHashTest, CursorReturnsEveryItemOnceWhileItemsAreFreed) {
  // 5 buckets: keys 0, 5, 10 ... sit in bucket 0, which the first step
  // must not skip.
  VHash *t = NewTable(5);
  Fill(t, 23);
  VHashCursor *c = VHashCursorOpen(t);
  std::multiset<int> seen;
  while (void *p = VHashCursorNext(c)) {
    seen.insert(static_cast<Entry *>(p)->id);
    VHashDelete(t, p);
    VHashFree(p);
  }
  EXPECT_EQ(VHashCursorNext(c), nullptr);  // stays exhausted
  VHashCursorClose(c);
  EXPECT_EQ(seen.size(), 23u);
  EXPECT_EQ(std::set<int>(seen.begin(), seen.end()).size(), 23u);
  EXPECT_EQ(VHashNumItems(t), 0u);
  c = VHashCursorOpen(t);
  EXPECT_EQ(VHashCursorNext(c), nullptr);
  VHashCursorClose(c);
  Destroy(t);
}

struct Visits {
  std::vector<int> keys;
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
  EXPECT_EQ(v.keys, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  v = Visits{{}, 4};
  EXPECT_EQ(VHashWalk(t, Record, &v, 1, Descending), 5);
  EXPECT_EQ(v.keys, (std::vector<int>{9, 8, 7, 6}));
  Destroy(t);
}

TEST(VHashTest, FlushHandsOverEveryItemAndLeavesTableUsable) {
  VHash *t = NewTable(4);
  Fill(t, 9);
  VHashFlush(t, FreeEntry, nullptr);
  EXPECT_EQ(VHashNumItems(t), 0u);
  for (int key = 0; key < 9; ++key) EXPECT_TRUE(Duplicates(t, key).empty());
  Fill(t, 2);
  EXPECT_EQ(Duplicates(t, 1), std::vector<int>{1});
  Destroy(t);
}

void *CopyEven(const void *item, void *arg) {
  const Entry *e = static_cast<const Entry *>(item);
  if (arg != nullptr && e->key % 2 != 0) return nullptr;
  Entry *copy = static_cast<Entry *>(VHashAlloc(sizeof(Entry)));
  if (copy != nullptr) *copy = *e;
  return copy;
}
void *CopyNone(const void *, void *) { return nullptr; }

TEST(VHashTest, CopyHoldsTheCopiesThatWereMade) {
  VHash *t = NewTable(5);
  Fill(t, 12);
  VHash *all = VHashCopy(t, CopyEven, nullptr);
  VHash *even = VHashCopy(t, CopyEven, &even);
  VHash *none = VHashCopy(t, CopyNone, nullptr);
  EXPECT_EQ(VHashNumItems(all), 12u);
  EXPECT_EQ(VHashNumItems(even), 6u);
  EXPECT_EQ(VHashNumItems(none), 0u);
  EXPECT_EQ(none->buckets, 5u);
  for (int key = 0; key < 12; ++key) {
    EXPECT_EQ(Duplicates(all, key), std::vector<int>{key});
    EXPECT_EQ(Duplicates(even, key).size(), key % 2 == 0 ? 1u : 0u);
  }
  for (VHash *h : {t, all, even, none}) Destroy(h);
}

TEST(VHashTest, ItemsFromIncrementalAllocatorWork) {
  VIncrAllocator *arena = VIncrAllocatorCreate(1024);
  VHash *t = NewTable(3);
  for (int i = 0; i < 100; ++i) {
    Entry *e = static_cast<Entry *>(VHashIncrAlloc(arena, sizeof(Entry)));
    ASSERT_NE(e, nullptr);
    *e = Entry{i, i};
    VHashInsert(t, e);
  }
  EXPECT_EQ(Duplicates(t, 42), std::vector<int>{42});
  VHashDestroyWith(
      t, [](void *, void *) { return 0; }, nullptr, free);
  VIncrAllocatorDestroy(arena);
}

TEST(VHashTest, AllocationFailuresReturnNullOrTwelve) {
  EXPECT_EQ(VHashAllocWith(vtest::NullMalloc, 8), nullptr);
  EXPECT_EQ(NewTable(3, vtest::NullMalloc), nullptr);
  EXPECT_EQ(NewTable(0), nullptr);
  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    void *item = VHashAllocWith(vtest::FunnelMalloc, 8);
    VHash *t = NewTable(3);
    bool failed = f.Disarm();
    EXPECT_EQ(failed, item == nullptr || t == nullptr);
    VHashFreeWith(item, vtest::FunnelFree);
    free(t);
  });
  VHash *t = NewTable(3);
  Fill(t, 6);
  vtest::SweepAllocations([t](vtest::Fault &f) {
    Visits v;
    f.Arm();
    VHashCursor *c = VHashCursorOpen(t);
    int rc = VHashWalk(t, Record, &v, 1, nullptr);
    bool failed = f.Disarm();
    EXPECT_EQ(failed, c == nullptr || rc == 12);
    EXPECT_EQ(v.keys.size(), rc == 12 ? 0u : 6u);
    VHashCursorClose(c);
  });
  vtest::SweepAllocations([t](vtest::Fault &f) {
    f.Arm();
    VHash *copy = VHashCopy(t, CopyEven, nullptr);
    bool failed = f.Disarm();
    // Only the table itself makes the copy fail; lost items are skipped.
    EXPECT_EQ(copy == nullptr, failed && f.nth() == 1);
    if (copy == nullptr) return;
    EXPECT_EQ(VHashNumItems(copy) == 6, !failed);
    Destroy(copy);
  });
  Destroy(t);
}

}  // namespace
