#include "containers/hashlist.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <list>
#include <map>
#include <random>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vhashlist.h"

namespace {

struct Rec {
  int key, id;
};

// Keys share buckets (key modulo the bucket count), so chain walks must
// skip items of other keys.
uint32_t HashKey(const void *p, void *) {
  return static_cast<const Rec *>(p)->key;
}
int SameKey(const void *a, const void *b, void *) {
  return static_cast<const Rec *>(a)->key != static_cast<const Rec *>(b)->key;
}
int FreeVisitor(void *item, void *) { return VHashListFree(item), 0; }
Rec *NewRec(int key, int id) {
  auto *r = static_cast<Rec *>(VHashListAlloc(sizeof(Rec)));
  *r = {key, id};
  return r;
}
VHashList *NewHashList(VAllocFunc alloc = malloc, uint32_t buckets = 5) {
  return VHashListCreateWith(alloc, buckets, HashKey, nullptr, SameKey,
                             nullptr);
}

// List order and per key Find/NextHash (newest first) against the model.
void ExpectModel(VHashList *hl, const std::list<Rec *> &order,
                 const std::multimap<int, Rec *> &by_key, int key) {
  ASSERT_EQ(VHashListNumItems(hl), order.size());
  std::vector<void *> fwd, back, got, want(order.begin(), order.end());
  for (void *p = VHashListFirst(hl); p != nullptr; p = VHashListNext(p))
    fwd.push_back(p);
  for (void *p = VHashListLast(hl); p != nullptr; p = VHashListPrev(p))
    back.insert(back.begin(), p);
  ASSERT_EQ(fwd, want);
  ASSERT_EQ(back, want);
  EXPECT_EQ(VHashListTail(hl), order.empty() ? VHashListHead(hl) : want.back());
  Rec probe = {key, -1};
  for (void *p = VHashListFind(hl, &probe); p != nullptr;
       p = VHashListNextHash(hl, p))
    got.push_back(p);
  want.clear();
  for (auto [it, end] = by_key.equal_range(key); it != end; ++it)
    want.insert(want.begin(), it->second);
  ASSERT_EQ(got, want) << "key " << key;
}

TEST(VHashListTest, RandomOperationsMatchModel) {
  std::mt19937 rng(99);
  VHashList *hl = NewHashList();
  std::list<Rec *> order;
  std::multimap<int, Rec *> by_key;  // oldest first
  const int kKeys = 12;
  for (int step = 0; step < 3000; ++step) {
    size_t n = order.size();
    size_t pos = std::uniform_int_distribution<size_t>(0, n)(rng);
    auto at = std::next(order.begin(), static_cast<long>(pos));
    void *anchor = pos == 0 ? VHashListHead(hl) : *std::prev(at);
    unsigned op = rng() % (n > 40 ? 4 : 3);
    if (op < 2) {
      Rec *r = NewRec(rng() % kKeys, step);
      if (op == 0 || pos == n) {
        VHashListInsertAfter(hl, r, anchor);
      } else {
        VHashListInsertBefore(hl, r, *at);
      }
      order.insert(at, r);
      by_key.emplace(r->key, r);
    } else if (pos < n) {
      Rec *gone = *at;
      if (op == 2) {
        ASSERT_EQ(VHashListDeleteNext(hl, anchor), gone);
      } else {
        VHashListDelete(hl, gone);
      }
      order.erase(at);
      auto it = by_key.find(gone->key);
      while (it->second != gone) ++it;
      by_key.erase(it);
      VHashListFree(gone);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectModel(hl, order, by_key, rng() % kKeys));
  }
  for (int key = 0; key <= kKeys; ++key) ExpectModel(hl, order, by_key, key);
  std::vector<void *> seen;  // flushed in list order, then reusable
  auto record = [](void *item, void *arg) {
    static_cast<std::vector<void *> *>(arg)->push_back(item);
    return FreeVisitor(item, nullptr);
  };
  VHashListFlush(hl, record, &seen);
  EXPECT_EQ(seen, std::vector<void *>(order.begin(), order.end()));
  ExpectModel(hl, {}, {}, 1);
  Rec *r1 = NewRec(1, 7), *r2 = NewRec(1, 8);
  VHashListInsertAfter(hl, r1, VHashListHead(hl));
  VHashListInsertBefore(hl, r2, r1);
  ExpectModel(hl, {r2, r1}, {{1, r1}, {1, r2}}, 1);
  VHashListDestroyWith(hl, FreeVisitor, nullptr, free);
}

TEST(VHashListAllocTest, RefusalsAndFailuresGiveNull) {
  static int calls;
  auto counting = [](size_t n) { return ++calls, malloc(n); };
  EXPECT_EQ(NewHashList(counting, 0), nullptr);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(VHashListAllocWith(vtest::NullMalloc, 8), nullptr);
  EXPECT_EQ(NewHashList(vtest::NullMalloc), nullptr);
  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    void *a = VHashListAlloc(sizeof(Rec));
    void *b = VHashListAllocWith(vtest::FunnelMalloc, sizeof(Rec));
    VHashList *hl = NewHashList(vtest::FunnelMalloc, 3);
    EXPECT_EQ(f.Disarm(), a == nullptr || b == nullptr || hl == nullptr);
    if (a) VHashListFree(a);
    if (b) VHashListFreeWith(b, vtest::FunnelFree);
    if (hl) VHashListDestroyWith(hl, nullptr, nullptr, vtest::FunnelFree);
  });
}

}  // namespace
