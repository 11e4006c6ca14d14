#include "containers/list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <list>
#include <random>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vlist.h"

namespace {

struct Rec {
  int key, id;
};

Rec *NewRec(int key, int id) {
  auto *r = static_cast<Rec *>(VListAlloc(sizeof(Rec)));
  *r = {key, id};
  return r;
}
int FreeVisitor(void *item, void *) { return VListFree(item), 0; }
int ByKey(const void *a, const void *b, void *compares) {
  ++*static_cast<long *>(compares);
  return static_cast<const Rec *>(a)->key - static_cast<const Rec *>(b)->key;
}
bool SelfLinked(void *item) {
  auto *link = vantrel::internal::ListLinkOf(item);
  return link->next == link && link->prev == link;
}

// Count, both walks and the tail pseudo-item must agree with the model.
void ExpectMatches(VList *list, const std::list<Rec *> &model) {
  ASSERT_EQ(VListNumItems(list), static_cast<int32_t>(model.size()));
  std::vector<void *> fwd, back;
  for (void *p = VListFirst(list); p != nullptr; p = VListNext(p))
    fwd.push_back(p);
  for (void *p = VListLast(list); p != nullptr; p = VListPrev(p))
    back.insert(back.begin(), p);
  std::vector<void *> want(model.begin(), model.end());
  ASSERT_EQ(fwd, want);
  ASSERT_EQ(back, want);
  EXPECT_EQ(VListTail(list), model.empty() ? VListHead(list) : model.back());
}

TEST(VListTest, RandomOperationsMatchModel) {
  std::mt19937 rng(20240611);
  VList *list = VListCreateWith(malloc);
  std::list<Rec *> model;
  for (int step = 0; step < 4000; ++step) {
    size_t n = model.size();
    size_t pos = std::uniform_int_distribution<size_t>(0, n)(rng);
    auto at = std::next(model.begin(), static_cast<long>(pos));
    void *anchor = pos == 0 ? VListHead(list) : *std::prev(at);
    unsigned op = rng() % (n > 60 ? 4 : 3);
    if (op < 2) {
      Rec *r = NewRec(0, step);
      if (op == 0 || pos == n) {
        VListInsertAfter(list, r, anchor);
      } else {
        VListInsertBefore(list, r, *at);
      }
      model.insert(at, r);
    } else if (pos < n) {
      Rec *gone = *at;
      if (op == 2) {
        ASSERT_EQ(VListDeleteNext(list, anchor), gone);
      } else {
        VListDelete(list, gone);
      }
      EXPECT_TRUE(SelfLinked(gone));
      model.erase(at);
      VListFree(gone);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectMatches(list, model));
    size_t k = rng() % (model.size() + 1);  // the last is out of range
    ASSERT_EQ(VListNth(list, static_cast<int32_t>(k)),
              k < model.size() ? *std::next(model.begin(), k) : nullptr);
  }
  EXPECT_EQ(VListNth(list, -1), nullptr);
  std::vector<void *> seen;  // in order, each unlinked before its visit
  auto record = [](void *item, void *arg) {
    EXPECT_TRUE(SelfLinked(item));
    static_cast<std::vector<void *> *>(arg)->push_back(item);
    return FreeVisitor(item, nullptr);
  };
  VListFlush(list, record, &seen);
  EXPECT_EQ(seen, std::vector<void *>(model.begin(), model.end()));
  ExpectMatches(list, {});
  Rec *r = NewRec(9, 9);
  VListInsertAfter(list, r, VListTail(list));
  ExpectMatches(list, {r});
  VListDestroyWith(list, FreeVisitor, nullptr, free);
}

// Few distinct keys, ascending and descending runs, sizes around powers of
// two: as std::stable_sort, no allocation, at most n * ceil(log2 n) compares.
TEST(VListTest, MergeSortIsStableAndAllocatesNothing) {
  VList *list = VListCreateWith(malloc);
  std::vector<int> sizes = {0, 1, 2, 3, 5, 100, 1000, 2500};
  for (int p = 4; p <= 1024; p *= 4)
    sizes.insert(sizes.end(), {p - 1, p, p + 1});
  std::mt19937 rng(7);
  for (int pattern = 0; pattern < 3; ++pattern) {
    for (int size : sizes) {
      SCOPED_TRACE(testing::Message() << size << " pattern " << pattern);
      std::vector<Rec *> model;
      for (int i = 0; i < size; ++i) {
        int key = pattern == 0 ? rng() % 7 : (pattern == 1 ? i / 3 : -i / 3);
        model.push_back(NewRec(key, i));
        VListInsertAfter(list, model.back(), VListTail(list));
      }
      long compares = 0, bound = 0;
      uint64_t before = vtest::AllocationCount();
      VListMergeSort(list, ByKey, &compares);
      EXPECT_EQ(vtest::AllocationCount(), before);
      std::stable_sort(model.begin(), model.end(),
                       [](Rec *a, Rec *b) { return a->key < b->key; });
      ASSERT_NO_FATAL_FAILURE(
          ExpectMatches(list, std::list<Rec *>(model.begin(), model.end())));
      for (int s = 1; s < size; s *= 2) bound += size;
      EXPECT_LE(compares, bound);
      VListFlush(list, FreeVisitor, nullptr);
    }
  }
  VListDestroyWith(list, FreeVisitor, nullptr, free);
}

TEST(VListAllocTest, FailuresGiveNull) {
  EXPECT_EQ(VListAllocWith(vtest::NullMalloc, 8), nullptr);
  EXPECT_EQ(VListCreateWith(vtest::NullMalloc), nullptr);
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
