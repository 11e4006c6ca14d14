#include "containers/list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include "containers/ordered_list.h"
#include "support/alloc_sweep.h"
#include "vantrel/vlist.h"

namespace {

struct Rec {
  int key;
};

Rec *NewRec(int key) {
  return &(*static_cast<Rec *>(VListAlloc(sizeof(Rec))) = Rec{key});
}
int KeyOf(const void *item) { return static_cast<const Rec *>(item)->key; }
int FreeVisitor(void *item, void *) { return VListFree(item), 0; }
int ByKey(const void *a, const void *b, void *compares) {
  ++*static_cast<long *>(compares);
  return KeyOf(a) - KeyOf(b);
}
bool SelfLinked(void *item) {
  auto *link =
      vantrel::internal::OrderedList<vantrel::internal::ListLink>::LinkOf(item);
  return link->next == link && link->prev == link;
}

using Items = std::vector<void *>;

// Count, both walks and the tail pseudo-item must agree with the model.
void ExpectMatches(VList *list, const Items &model) {
  ASSERT_EQ(VListNumItems(list), static_cast<int32_t>(model.size()));
  Items fwd, back;
  for (void *p = VListFirst(list); p != nullptr; p = VListNext(p))
    fwd.push_back(p);
  for (void *p = VListLast(list); p != nullptr; p = VListPrev(p))
    back.insert(back.begin(), p);
  ASSERT_EQ(fwd, model);
  ASSERT_EQ(back, model);
  EXPECT_EQ(VListTail(list), model.empty() ? VListHead(list) : model.back());
}

// Every so often the list is merge sorted: as std::stable_sort, with no
// allocation and at most n * ceil(log2 n) compares.  Then flushed in order,
// each item unlinked before its visit, and reused.
TEST(VListTest, RandomOperationsAndSortsMatchModel) {
  std::mt19937 rng(20240611);
  VList *list = VListCreateWith(malloc);
  Items model;
  for (int step = 0; step < 4000; ++step) {
    size_t n = model.size();
    size_t pos = std::uniform_int_distribution<size_t>(0, n)(rng);
    void *anchor = pos == 0 ? VListHead(list) : model[pos - 1];
    unsigned op = rng() % (n > 60 ? 4 : 3);
    if (op < 2) {
      Rec *r = NewRec(rng() % 7);
      if (op == 0 || pos == n) {
        VListInsertAfter(list, r, anchor);
      } else {
        VListInsertBefore(list, r, model[pos]);
      }
      model.insert(model.begin() + pos, r);
    } else if (pos < n) {
      void *gone = model[pos];
      if (op == 2) {
        ASSERT_EQ(VListDeleteNext(list, anchor), gone);
      } else {
        VListDelete(list, gone);
      }
      EXPECT_TRUE(SelfLinked(gone));
      model.erase(model.begin() + pos);
      VListFree(gone);
    }
    if (step < 100 || step % 40 == 0) {
      long compares = 0, bound = 0;
      vtest::AllocCounter allocations;
      VListMergeSort(list, ByKey, &compares);
      EXPECT_EQ(allocations.count(), 0u);
      std::stable_sort(model.begin(), model.end(),
                       [](void *a, void *b) { return KeyOf(a) < KeyOf(b); });
      for (size_t s = 1; s < model.size(); s *= 2) bound += model.size();
      EXPECT_LE(compares, bound);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectMatches(list, model));
    size_t k = rng() % (model.size() + 1);  // the last is out of range
    ASSERT_EQ(VListNth(list, k), k < model.size() ? model[k] : nullptr);
  }
  EXPECT_EQ(VListNth(list, -1), nullptr);
  Items seen;
  auto record = [](void *item, void *arg) {
    EXPECT_TRUE(SelfLinked(item));
    static_cast<Items *>(arg)->push_back(item);
    return FreeVisitor(item, nullptr);
  };
  VListFlush(list, record, &seen);
  EXPECT_EQ(seen, model);
  long compares = 0;
  VListMergeSort(list, ByKey, &compares);  // nothing to sort
  ExpectMatches(list, {});
  Rec *r = NewRec(9);
  VListInsertAfter(list, r, VListTail(list));
  ExpectMatches(list, {r});
  VListDestroyWith(list, FreeVisitor, nullptr, free);
}

TEST(VListAllocTest, FailuresGiveNull) {
  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    void *a = VListAlloc(16);
    void *b = VListAllocWith(vtest::FunnelMalloc, 16);
    VList *list = VListCreateWith(vtest::FunnelMalloc);
    EXPECT_EQ(f.Disarm(), a == nullptr || b == nullptr || list == nullptr);
    if (list == nullptr) list = VListCreateWith(malloc);
    if (a != nullptr) VListInsertAfter(list, a, VListTail(list));
    if (b != nullptr) VListFreeWith(b, vtest::FunnelFree);
    VListDestroyWith(list, FreeVisitor, nullptr, free);
  });
}

}  // namespace
