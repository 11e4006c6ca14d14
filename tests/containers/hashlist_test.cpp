#include "containers/hashlist.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
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

using Items = std::vector<void *>;

// List order and per key Find/NextHash against the model: the newest item
// (highest id) of a key comes first.
void ExpectModel(VHashList *hl, const Items &order, int key) {
  ASSERT_EQ(VHashListNumItems(hl), order.size());
  Items fwd, back, got, want;
  for (void *p = VHashListFirst(hl); p != nullptr; p = VHashListNext(p))
    fwd.push_back(p);
  for (void *p = VHashListLast(hl); p != nullptr; p = VHashListPrev(p))
    back.insert(back.begin(), p);
  ASSERT_EQ(fwd, order);
  ASSERT_EQ(back, order);
  EXPECT_EQ(VHashListTail(hl),
            order.empty() ? VHashListHead(hl) : order.back());
  Rec probe = {key, -1};
  for (void *p = VHashListFind(hl, &probe); p != nullptr;
       p = VHashListNextHash(hl, p))
    got.push_back(p);
  for (void *p : order)
    if (static_cast<Rec *>(p)->key == key) want.push_back(p);
  std::sort(want.begin(), want.end(), [](void *a, void *b) {
    return static_cast<Rec *>(a)->id > static_cast<Rec *>(b)->id;
  });
  ASSERT_EQ(got, want) << "key " << key;
}

// Then flushed in list order and reused.
TEST(VHashListTest, RandomOperationsMatchModel) {
  std::mt19937 rng(99);
  VHashList *hl = NewHashList();
  Items order;
  const int kKeys = 12;
  for (int step = 0; step < 3000; ++step) {
    size_t n = order.size();
    size_t pos = std::uniform_int_distribution<size_t>(0, n)(rng);
    void *anchor = pos == 0 ? VHashListHead(hl) : order[pos - 1];
    unsigned op = rng() % (n > 40 ? 4 : 3);
    if (op < 2) {
      Rec *r = NewRec(rng() % kKeys, step);
      if (op == 0 || pos == n) {
        VHashListInsertAfter(hl, r, anchor);
      } else {
        VHashListInsertBefore(hl, r, order[pos]);
      }
      order.insert(order.begin() + pos, r);
    } else if (pos < n) {
      void *gone = order[pos];
      if (op == 2) {
        ASSERT_EQ(VHashListDeleteNext(hl, anchor), gone);
      } else {
        VHashListDelete(hl, gone);
      }
      order.erase(order.begin() + pos);
      VHashListFree(gone);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectModel(hl, order, rng() % kKeys));
  }
  Items seen;
  auto record = [](void *item, void *arg) {
    static_cast<Items *>(arg)->push_back(item);
    return FreeVisitor(item, nullptr);
  };
  VHashListFlush(hl, record, &seen);
  EXPECT_EQ(seen, order);
  ExpectModel(hl, {}, 1);
  Rec *r = NewRec(1, 7);
  VHashListInsertAfter(hl, r, VHashListHead(hl));
  ExpectModel(hl, {r}, 1);
  VHashListDestroyWith(hl, FreeVisitor, nullptr, free);
}

TEST(VHashListAllocTest, RefusalsAndFailuresGiveNull) {
  {
    vtest::AllocCounter allocations;
    EXPECT_EQ(NewHashList(vtest::FunnelMalloc, 0), nullptr);
    EXPECT_EQ(allocations.count(), 0u);
  }
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
