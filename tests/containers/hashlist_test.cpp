#include "containers/hashlist.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <list>
#include <map>
#include <random>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vhashlist.h"

namespace {

struct Rec {
  int key;
  int id;
};

// Keys share buckets (key modulo the bucket count), so chain walks must
// skip items of other keys.
uint32_t HashKey(const void *p, void *) {
  return static_cast<uint32_t>(static_cast<const Rec *>(p)->key);
}

int SameKey(const void *a, const void *b, void *) {
  return static_cast<const Rec *>(a)->key != static_cast<const Rec *>(b)->key;
}

int FreeVisitor(void *item, void *) {
  VHashListFree(item);
  return 0;
}

Rec *NewRec(int key, int id) {
  auto *r = static_cast<Rec *>(VHashListAlloc(sizeof(Rec)));
  r->key = key;
  r->id = id;
  return r;
}

VHashList *NewHashList(VAllocFunc alloc = malloc, uint32_t buckets = 5) {
  return VHashListCreateWith(alloc, buckets, HashKey, nullptr, SameKey,
                             nullptr);
}

// The model: list order, and per key the items present, oldest first.
struct Model {
  std::list<Rec *> order;
  std::multimap<int, Rec *> by_key;

  void Erase(Rec *r) {
    auto range = by_key.equal_range(r->key);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == r) {
        by_key.erase(it);
        break;
      }
    }
  }
};

void ExpectOrder(VHashList *hl, const std::list<Rec *> &order) {
  ASSERT_EQ(VHashListNumItems(hl), order.size());
  std::vector<void *> fwd, back;
  for (void *p = VHashListFirst(hl); p != nullptr; p = VHashListNext(p))
    fwd.push_back(p);
  for (void *p = VHashListLast(hl); p != nullptr; p = VHashListPrev(p))
    back.push_back(p);
  std::vector<void *> want(order.begin(), order.end());
  ASSERT_EQ(fwd, want);
  std::reverse(want.begin(), want.end());
  ASSERT_EQ(back, want);
  EXPECT_EQ(VHashListTail(hl), order.empty() ? VHashListHead(hl) : want[0]);
}

// Find then NextHash must give every item of the key, newest first.
void ExpectKey(VHashList *hl, const Model &m, int key) {
  Rec probe = {key, -1};
  std::vector<void *> got;
  for (void *p = VHashListFind(hl, &probe); p != nullptr;
       p = VHashListNextHash(hl, p))
    got.push_back(p);
  std::vector<void *> want;
  auto range = m.by_key.equal_range(key);
  for (auto it = range.first; it != range.second; ++it)
    want.push_back(it->second);
  std::reverse(want.begin(), want.end());
  ASSERT_EQ(got, want) << "key " << key;
}

// Random inserts and removals anywhere, with 12 keys over 5 buckets: list
// order and, per key, Find/NextHash (newest first) against the model.
TEST(VHashListTest, RandomOperationsMatchModel) {
  std::mt19937 rng(99);
  VHashList *hl = NewHashList();
  Model m;
  const int kKeys = 12;
  int id = 0;
  for (int step = 0; step < 3000; ++step) {
    size_t n = m.order.size();
    size_t pos = std::uniform_int_distribution<size_t>(0, n)(rng);
    auto at = std::next(m.order.begin(), static_cast<long>(pos));
    void *anchor = pos == 0 ? VHashListHead(hl) : *std::prev(at);
    unsigned op = rng() % (n > 40 ? 4 : 3);
    if (op < 2) {
      Rec *r = NewRec(static_cast<int>(rng() % kKeys), id++);
      if (op == 0 || pos == n) {
        VHashListInsertAfter(hl, r, anchor);
      } else {
        VHashListInsertBefore(hl, r, *at);
      }
      m.order.insert(at, r);
      m.by_key.emplace(r->key, r);
    } else if (pos < n) {
      Rec *gone = *at;
      if (op == 2) {
        ASSERT_EQ(VHashListDeleteNext(hl, anchor), gone);
      } else {
        VHashListDelete(hl, gone);
      }
      m.order.erase(at);
      m.Erase(gone);
      VHashListFree(gone);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectOrder(hl, m.order));
    ASSERT_NO_FATAL_FAILURE(ExpectKey(hl, m, static_cast<int>(rng() % kKeys)));
  }
  for (int key = 0; key <= kKeys; ++key) ExpectKey(hl, m, key);
  VHashListDestroyWith(hl, FreeVisitor, nullptr, free);
}

TEST(VHashListTest, FlushVisitsInOrderAndLeavesReusableHashList) {
  VHashList *hl = NewHashList(malloc, 1);
  for (int i = 0; i < 6; ++i)
    VHashListInsertAfter(hl, NewRec(i % 2, i), VHashListTail(hl));
  std::vector<int> seen;
  auto record = [](void *item, void *arg) {
    static_cast<std::vector<int> *>(arg)->push_back(
        static_cast<Rec *>(item)->id);
    VHashListFree(item);
    return 0;
  };
  VHashListFlush(hl, record, &seen);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  Model m;
  ExpectOrder(hl, m.order);
  ExpectKey(hl, m, 1);
  Rec *r1 = NewRec(1, 7), *r2 = NewRec(1, 8);
  VHashListInsertAfter(hl, r1, VHashListHead(hl));
  VHashListInsertBefore(hl, r2, r1);
  m.order = {r2, r1};
  m.by_key = {{1, r1}, {1, r2}};
  ExpectOrder(hl, m.order);
  ExpectKey(hl, m, 1);
  VHashListDestroyWith(hl, FreeVisitor, nullptr, free);
}

TEST(VHashListAllocTest, SizesRefusalsAndFailures) {
  static int calls;
  static size_t asked;
  auto spy = [](size_t n) {
    ++calls;
    asked = n;
    return malloc(n);
  };
  EXPECT_EQ(NewHashList(spy, 0), nullptr);
  EXPECT_EQ(calls, 0);
  VHashList *hl = NewHashList(spy, 11);
  EXPECT_EQ(asked, sizeof(VHashList) + 11 * sizeof(void *));
  EXPECT_EQ(hl->head_sentinel.prev, &hl->head_sentinel);
  EXPECT_EQ(hl->tail_sentinel.next, &hl->tail_sentinel);
  VHashListFreeWith(VHashListAllocWith(spy, 8), free);
  EXPECT_EQ(asked, 8 + sizeof(vantrel::internal::HashListLink));
  VHashListDestroyWith(hl, nullptr, nullptr, free);
  EXPECT_EQ(VHashListAllocWith(vtest::NullMalloc, 8), nullptr);
  EXPECT_EQ(NewHashList(vtest::NullMalloc), nullptr);

  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    void *a = VHashListAlloc(sizeof(Rec));
    void *b = VHashListAllocWith(vtest::FunnelMalloc, sizeof(Rec));
    VHashList *hl = NewHashList(vtest::FunnelMalloc, 3);
    EXPECT_EQ(f.Disarm(), a == nullptr || b == nullptr || hl == nullptr);
    if (hl == nullptr) hl = NewHashList();
    for (void *p : {a, b}) {
      if (p == nullptr) continue;
      static_cast<Rec *>(p)->key = 1;
      VHashListInsertAfter(hl, p, VHashListTail(hl));
    }
    VHashListDestroyWith(hl, FreeVisitor, nullptr, free);
  });
}

}  // namespace
