#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vdhash.h"

namespace {

struct Entry {
  int key1, key2, id;
};
using Ids = std::vector<int>;
using Live = std::map<int, Entry *>;  // id -> item; newer items have higher ids

const Entry *E(const void *p) { return static_cast<const Entry *>(p); }
int Order(int x, int y) { return (x > y) - (x < y); }
uint32_t Hash1(const void *p, void *) { return E(p)->key1; }
uint32_t Hash2(const void *p, void *) { return E(p)->key2 * 7u; }
int cmp1_tag;  // the key-1 compare argument, checked on every call
int Compare1(const void *a, const void *b, void *arg) {
  EXPECT_EQ(arg, &cmp1_tag);
  return Order(E(a)->key1, E(b)->key1);
}
int Compare2(const void *a, const void *b, void *) {
  return Order(E(a)->key2, E(b)->key2);
}
int FreeEntry(void *item, void *ids) {
  if (ids != nullptr)
    static_cast<std::multiset<int> *>(ids)->insert(E(item)->id);
  return VDHashFree(item), 0;
}
VDHash *NewTable(uint32_t buckets) {
  return VDHashCreateWith(vtest::FunnelMalloc, buckets, Hash1, nullptr,
                          Compare1, &cmp1_tag, Hash2, nullptr, Compare2,
                          nullptr);
}
Entry *Add(VDHash *t, int key1, int key2, int id) {
  Entry *e = static_cast<Entry *>(VDHashAlloc(sizeof(Entry)));
  *e = Entry{key1, key2, id};
  VDHashInsert(t, e);
  return e;
}
void Destroy(VDHash *t) { VDHashDestroyWith(t, FreeEntry, nullptr, free); }

// Find and Next on key 1 or 2 must give the live items with that key,
// newest (highest id) first.
void ExpectKey(VDHash *t, int which, const Live &live, int key) {
  Entry probe{key, key, -1};
  Ids got, want;
  void *p = which == 1 ? VDHashFind1(t, &probe) : VDHashFind2(t, &probe);
  for (; p != nullptr; p = which == 1 ? VDHashNext1(t, p) : VDHashNext2(t, p))
    got.push_back(E(p)->id);
  for (auto it = live.rbegin(); it != live.rend(); ++it)
    if ((which == 1 ? it->second->key1 : it->second->key2) == key)
      want.push_back(it->first);
  ASSERT_EQ(got, want) << "key" << which << " " << key;
}

TEST(VDHashTest, MatchesModelForBothKeys) {
  for (unsigned seed : {11u, 12u}) {
    std::mt19937 rng(seed);
    VDHash *t = NewTable(5);
    Live live;
    for (int step = 0; step < 3000; ++step) {
      int key1 = rng() % 30, key2 = rng() % 30;
      if (rng() % 3 != 0 || live.empty()) {
        live[step] = Add(t, key1, key2, step);
      } else {
        auto victim = std::next(live.begin(), rng() % live.size());
        VDHashDelete(t, victim->second);
        VDHashFree(victim->second);
        live.erase(victim);
      }
      ASSERT_EQ(VDHashNumItems(t), live.size());
      ASSERT_NO_FATAL_FAILURE(ExpectKey(t, 1, live, key1));
      ASSERT_NO_FATAL_FAILURE(ExpectKey(t, 2, live, key2));
    }
    // Emptied by a flush or by a cursor that frees what it hands out.
    std::multiset<int> seen, want;
    for (auto &entry : live) want.insert(entry.first);
    if (seed == 12) VDHashFlush(t, FreeEntry, &seen);
    VDHashCursor *c = VDHashCursorOpen(t);
    while (void *p = VDHashCursorNext(c)) {
      seen.insert(E(p)->id);
      VDHashDelete(t, p);
      VDHashFree(p);
    }
    EXPECT_EQ(VDHashCursorNext(c), nullptr);
    VDHashCursorClose(c);
    EXPECT_EQ(seen, want);
    EXPECT_EQ(VDHashNumItems(t), 0u);
    ExpectKey(t, 2, {}, 0);
    ExpectKey(t, 2, {{1, Add(t, 3, 4, 1)}}, 4);  // reusable
    Destroy(t);
  }
}

struct Visits {
  Ids ids;
  bool stop = false;
};
int Record(void *item, void *arg) {
  Visits *v = static_cast<Visits *>(arg);
  v->ids.push_back(E(item)->id);
  return v->stop ? 7 : 0;
}
int ByKey2Descending(const void *a, const void *b, void *arg) {
  return *static_cast<int *>(arg) * Compare2(a, b, nullptr);
}

// Ids in visiting order.  The walk returns 0 even when the visitor stops it.
Ids WalkIds(VDHash *t, bool stop, int sorted, VCompareFunc order = nullptr,
            void *order_arg = nullptr) {
  Visits v{{}, stop};
  EXPECT_EQ(VDHashWalk(t, Record, &v, sorted, order, order_arg), 0);
  return v.ids;
}

TEST(VDHashTest, WalksVisitUntilStoppedAndReturnZero) {
  VDHash *t = NewTable(3);
  EXPECT_TRUE(WalkIds(t, false, 1).empty());
  for (int i = 0; i < 8; ++i) Add(t, i * 3 % 8, i, i);
  EXPECT_EQ(WalkIds(t, true, 0).size(), 1u);
  EXPECT_EQ(WalkIds(t, true, 1), Ids{0});
  EXPECT_EQ(WalkIds(t, false, 1), (Ids{0, 3, 6, 1, 4, 7, 2, 5}));  // by key 1
  int sign = -1;  // the order function gets its own argument
  EXPECT_EQ(WalkIds(t, false, 1, ByKey2Descending, &sign),
            (Ids{7, 6, 5, 4, 3, 2, 1, 0}));
  Destroy(t);
}

TEST(VDHashTest, AllocationFailuresReturnNullOrTwelve) {
  EXPECT_EQ(NewTable(0), nullptr);
  VDHash *t = NewTable(3);
  for (int i = 0; i < 5; ++i) Add(t, i, i, i);
  vtest::SweepAllocations([t](vtest::Fault &f) {
    Visits v;
    f.Arm();
    void *item = VDHashAllocWith(vtest::FunnelMalloc, 8);
    VDHash *empty = NewTable(3);
    VDHashCursor *c = VDHashCursorOpen(t);
    int rc = VDHashWalk(t, Record, &v, 1, nullptr, nullptr);
    EXPECT_EQ(f.Disarm(), !item || !empty || !c || rc == 12);
    EXPECT_EQ(v.ids.size(), rc == 12 ? 0u : 5u);
    VDHashFreeWith(item, vtest::FunnelFree);
    free(empty);
    VDHashCursorClose(c);
  });
  Destroy(t);
}

}  // namespace
