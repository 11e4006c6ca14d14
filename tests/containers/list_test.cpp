#include "containers/list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <list>
#include <random>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vlist.h"

namespace {

struct Rec {
  int key;
  int id;
};

Rec *NewRec(int key, int id) {
  auto *r = static_cast<Rec *>(VListAlloc(sizeof(Rec)));
  *r = {key, id};
  return r;
}

int FreeVisitor(void *item, void *) {
  VListFree(item);
  return 0;
}

int ByKey(const void *a, const void *b, void *compares) {
  ++*static_cast<long *>(compares);
  return static_cast<const Rec *>(a)->key - static_cast<const Rec *>(b)->key;
}

// Count, both walks and the tail pseudo-item must agree with the model.
void ExpectMatches(VList *list, const std::list<Rec *> &model) {
  ASSERT_EQ(VListNumItems(list), static_cast<int32_t>(model.size()));
  std::vector<void *> fwd, back;
  for (void *p = VListFirst(list); p != nullptr; p = VListNext(p))
    fwd.push_back(p);
  for (void *p = VListLast(list); p != nullptr; p = VListPrev(p))
    back.push_back(p);
  std::vector<void *> want(model.begin(), model.end());
  ASSERT_EQ(fwd, want);
  std::reverse(want.begin(), want.end());
  ASSERT_EQ(back, want);
  EXPECT_EQ(VListTail(list), model.empty() ? VListHead(list) : model.back());
}

class VListTest : public testing::Test {
 protected:
  void SetUp() override { list_ = VListCreateWith(malloc); }
  void TearDown() override {
    VListDestroyWith(list_, FreeVisitor, nullptr, free);
  }
  VList *list_ = nullptr;
};

TEST_F(VListTest, EndsAndPseudoItems) {
  EXPECT_EQ(VListFirst(list_), nullptr);
  EXPECT_EQ(VListLast(list_), nullptr);
  EXPECT_EQ(VListNth(list_, 0), nullptr);
  ExpectMatches(list_, {});
  auto *head = vantrel::internal::ListLinkOf(VListHead(list_));
  EXPECT_EQ(head, &list_->head_sentinel);
  EXPECT_EQ(head->prev, head);
  EXPECT_EQ(list_->tail_sentinel.next, &list_->tail_sentinel);

  Rec *a = NewRec(1, 0), *b = NewRec(2, 1), *c = NewRec(3, 2);
  for (Rec *r : {a, b, c}) VListInsertAfter(list_, r, VListHead(list_));
  ExpectMatches(list_, {c, b, a});
  EXPECT_EQ(VListNth(list_, 3), nullptr);
  EXPECT_EQ(VListNth(list_, -1), nullptr);
  EXPECT_EQ(VListDeleteNext(list_, VListHead(list_)), c);
  auto *link = vantrel::internal::ListLinkOf(c);
  EXPECT_TRUE(link->next == link && link->prev == link);
  VListInsertAfter(list_, c, VListTail(list_));
  ExpectMatches(list_, {b, a, c});
}

// Random inserts and removals anywhere, checked against std::list after
// every step.
TEST_F(VListTest, RandomOperationsMatchModel) {
  std::mt19937 rng(20240611);
  std::list<Rec *> model;
  for (int step = 0; step < 4000; ++step) {
    size_t n = model.size();
    size_t pos = std::uniform_int_distribution<size_t>(0, n)(rng);
    auto at = std::next(model.begin(), static_cast<long>(pos));
    // The head pseudo-item stands in front of position 0.
    void *anchor = pos == 0 ? VListHead(list_) : *std::prev(at);
    unsigned op = rng() % (n > 60 ? 4 : 3);
    if (op < 2) {
      Rec *r = NewRec(0, step);
      if (op == 0 || pos == n) {
        VListInsertAfter(list_, r, anchor);
      } else {
        VListInsertBefore(list_, r, *at);
      }
      model.insert(at, r);
    } else if (pos < n) {
      Rec *gone = *at;
      if (op == 2) {
        ASSERT_EQ(VListDeleteNext(list_, anchor), gone);
      } else {
        VListDelete(list_, gone);
      }
      model.erase(at);
      VListFree(gone);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectMatches(list_, model));
    if (!model.empty()) {
      size_t k = rng() % model.size();
      ASSERT_EQ(VListNth(list_, static_cast<int32_t>(k)),
                *std::next(model.begin(), static_cast<long>(k)));
    }
  }
}

// Few distinct keys (stability), ascending and descending runs, sizes around
// powers of two: compared with std::stable_sort, both walks, no allocation,
// at most n * ceil(log2 n) comparisons.
TEST_F(VListTest, MergeSortIsStableAndAllocatesNothing) {
  std::mt19937 rng(7);
  std::vector<int> sizes = {0, 1, 2, 3, 5, 100, 1000};
  for (int p = 4; p <= 1024; p *= 2)
    sizes.insert(sizes.end(), {p - 1, p, p + 1});
  for (int i = 0; i < 10; ++i) sizes.push_back(static_cast<int>(rng() % 3000));
  for (int pattern = 0; pattern < 3; ++pattern) {
    for (int size : sizes) {
      SCOPED_TRACE(testing::Message()
                   << "size " << size << " pattern " << pattern);
      std::vector<Rec *> model;
      for (int i = 0; i < size; ++i) {
        int key = pattern == 0 ? static_cast<int>(rng() % 7)
                               : (pattern == 1 ? i / 3 : -i / 3);
        model.push_back(NewRec(key, i));
        VListInsertAfter(list_, model.back(), VListTail(list_));
      }
      long compares = 0;
      uint64_t before = vtest::AllocationCount();
      VListMergeSort(list_, ByKey, &compares);
      EXPECT_EQ(vtest::AllocationCount(), before);
      std::stable_sort(model.begin(), model.end(),
                       [](Rec *a, Rec *b) { return a->key < b->key; });
      ASSERT_NO_FATAL_FAILURE(
          ExpectMatches(list_, std::list<Rec *>(model.begin(), model.end())));
      long bound = 0;
      for (int s = 1; s < size; s *= 2) bound += size;
      EXPECT_LE(compares, bound);
      VListFlush(list_, FreeVisitor, nullptr);
    }
  }
}

TEST_F(VListTest, FlushSelfLinksVisitsInOrderAndLeavesUsableList) {
  for (int i = 0; i < 5; ++i)
    VListInsertAfter(list_, NewRec(i, i), VListTail(list_));
  std::vector<int> seen;
  VListFlush(
      list_,
      [](void *item, void *arg) {
        auto *link = vantrel::internal::ListLinkOf(item);
        EXPECT_TRUE(link->next == link && link->prev == link);
        static_cast<std::vector<int> *>(arg)->push_back(
            static_cast<Rec *>(item)->id);
        VListFree(item);
        return 0;
      },
      &seen);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
  ExpectMatches(list_, {});
  Rec *r = NewRec(9, 9);
  VListInsertAfter(list_, r, VListTail(list_));
  ExpectMatches(list_, {r});
}

TEST(VListAllocTest, AllocatorsAreAskedOnceAndFailuresGiveNull) {
  static size_t asked;
  void *item = VListAllocWith(
      [](size_t n) {
        asked = n;
        return malloc(n);
      },
      24);
  EXPECT_EQ(asked, 24 + sizeof(vantrel::internal::ListLink));
  VListFreeWith(item, free);
  EXPECT_EQ(VListAllocWith(vtest::NullMalloc, 8), nullptr);
  EXPECT_EQ(VListCreateWith(vtest::NullMalloc), nullptr);

  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    void *a = VListAlloc(16);
    void *b = VListAllocWith(vtest::FunnelMalloc, 16);
    VList *list = VListCreateWith(vtest::FunnelMalloc);
    EXPECT_EQ(f.Disarm(), a == nullptr || b == nullptr || list == nullptr);
    if (list == nullptr) list = VListCreateWith(malloc);
    for (void *p : {a, b}) {
      if (p != nullptr) VListInsertAfter(list, p, VListTail(list));
    }
    VListDestroyWith(list, FreeVisitor, nullptr, free);
  });
}

}  // namespace
