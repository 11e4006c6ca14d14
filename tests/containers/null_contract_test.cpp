// What the containers do with nulls beyond not crashing (the generated ABI
// test checks that): a null visitor empties without visiting, refused calls
// leave the container as it was, and keys go to the caller's functions
// untouched.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <vector>

#include "vantrel/vdhash.h"
#include "vantrel/vhash.h"
#include "vantrel/vhashlist.h"
#include "vantrel/vlist.h"
#include "vantrel/vsort.h"
#include "vantrel/vtree.h"

namespace {

// Items begin with a text key.  The hash and compare functions record
// whether they ever saw a null key.
bool g_sawNullKey = false;
uint32_t HashText(const void *key, void *) {
  if (key == nullptr) g_sawNullKey = true;
  return VHashString2(key, nullptr);
}
int CompareTexts(const void *a, const void *b, void *) {
  if (a == nullptr || b == nullptr) {
    g_sawNullKey = true;
    return (a != nullptr) - (b != nullptr);
  }
  return strcmp(static_cast<const char *>(a), static_cast<const char *>(b));
}
int CountVisit(void *, void *count) { return ++*static_cast<int *>(count), 0; }

void *Text(void *item, const char *text) {
  return strcpy(static_cast<char *>(item), text);
}

// One container kind behind the same few operations.
struct Kind {
  const char *name;
  std::function<void *()> create;
  std::function<void *(void *, const char *)> add;  // returns the item
  VReleaseFunc free_item;
  std::function<uint32_t(void *)> count;
  std::function<void(void *, VVisitFunc, void *)> flush;
  std::function<void(void *, VReleaseFunc)> destroy;  // null visitor
};

std::vector<Kind> Kinds() {
  return {
      {"VList", [] { return static_cast<void *>(VListCreateWith(malloc)); },
       [](void *c, const char *t) {
         auto *l = static_cast<VList *>(c);
         void *item = Text(VListAlloc(8), t);
         VListInsertAfter(l, item, VListTail(l));
         return item;
       },
       VListFree,
       [](void *c) { return uint32_t(VListNumItems(static_cast<VList *>(c))); },
       [](void *c, VVisitFunc v, void *a) {
         VListFlush(static_cast<VList *>(c), v, a);
       },
       [](void *c, VReleaseFunc r) {
         VListDestroyWith(static_cast<VList *>(c), nullptr, nullptr, r);
       }},
      {"VHash",
       [] {
         return static_cast<void *>(VHashCreateWith(
             malloc, 3, HashText, nullptr, CompareTexts, nullptr));
       },
       [](void *c, const char *t) {
         void *item = Text(VHashAlloc(8), t);
         VHashInsert(static_cast<VHash *>(c), item);
         return item;
       },
       VHashFree,
       [](void *c) { return VHashNumItems(static_cast<VHash *>(c)); },
       [](void *c, VVisitFunc v, void *a) {
         VHashFlush(static_cast<VHash *>(c), v, a);
       },
       [](void *c, VReleaseFunc r) {
         VHashDestroyWith(static_cast<VHash *>(c), nullptr, nullptr, r);
       }},
      {"VDHash",
       [] {
         return static_cast<void *>(VDHashCreateWith(
             malloc, 3, HashText, nullptr, CompareTexts, nullptr, HashText,
             nullptr, CompareTexts, nullptr));
       },
       [](void *c, const char *t) {
         void *item = Text(VDHashAlloc(8), t);
         VDHashInsert(static_cast<VDHash *>(c), item);
         return item;
       },
       VDHashFree,
       [](void *c) { return VDHashNumItems(static_cast<VDHash *>(c)); },
       [](void *c, VVisitFunc v, void *a) {
         VDHashFlush(static_cast<VDHash *>(c), v, a);
       },
       [](void *c, VReleaseFunc r) {
         VDHashDestroyWith(static_cast<VDHash *>(c), nullptr, nullptr, r);
       }},
      {"VHashList",
       [] {
         return static_cast<void *>(VHashListCreateWith(
             malloc, 3, HashText, nullptr, CompareTexts, nullptr));
       },
       [](void *c, const char *t) {
         auto *hl = static_cast<VHashList *>(c);
         void *item = Text(VHashListAlloc(8), t);
         VHashListInsertAfter(hl, item, VHashListTail(hl));
         return item;
       },
       VHashListFree,
       [](void *c) { return VHashListNumItems(static_cast<VHashList *>(c)); },
       [](void *c, VVisitFunc v, void *a) {
         VHashListFlush(static_cast<VHashList *>(c), v, a);
       },
       [](void *c, VReleaseFunc r) {
         VHashListDestroyWith(static_cast<VHashList *>(c), nullptr, nullptr, r);
       }},
  };
}

TEST(ContainerNullTest, NullVisitorEmptiesAndRefusedDestroyKeepsTheContainer) {
  for (const Kind &kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    void *c = kind.create();
    std::vector<void *> items;
    for (const char *t : {"a", "b", "c"}) items.push_back(kind.add(c, t));
    kind.destroy(c, nullptr);  // refused: nothing flushed or released
    ASSERT_EQ(kind.count(c), 3u);
    int visits = 0;
    kind.flush(c, CountVisit, &visits);
    EXPECT_EQ(visits, 3);
    items.push_back(kind.add(c, "d"));
    kind.flush(c, nullptr, nullptr);  // the items stay the caller's
    EXPECT_EQ(kind.count(c), 0u);
    for (void *item : items) kind.free_item(item);
    void *e = kind.add(c, "e");  // still usable after a visitor-less flush
    EXPECT_EQ(kind.count(c), 1u);
    kind.destroy(c, free);
    kind.free_item(e);
  }
}

TEST(ContainerNullTest, RefusedCallsChangeNothing) {
  VHash *t =
      VHashCreateWith(malloc, 3, HashText, nullptr, CompareTexts, nullptr);
  void *item = Text(VHashAlloc(8), "a");
  VHashInsert(t, item);
  VHashInsert(t, nullptr);
  VHashDelete(t, nullptr);
  EXPECT_EQ(VHashNumItems(t), 1u);
  EXPECT_EQ(VHashWalk(t, nullptr, nullptr, 1, nullptr), EINVAL);
  EXPECT_EQ(VHashWalk(nullptr, CountVisit, nullptr, 0, nullptr), EINVAL);
  EXPECT_EQ(VHashCopy(t, nullptr, nullptr), nullptr);
  EXPECT_EQ(VHashCreateWith(malloc, 3, nullptr, nullptr, CompareTexts, nullptr),
            nullptr);
  EXPECT_EQ(VHashCreateWith(malloc, 3, HashText, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(
      VHashCreateWith(nullptr, 3, HashText, nullptr, CompareTexts, nullptr),
      nullptr);
  VHashFreeWith(item, nullptr);  // refused: the item stays in the table
  EXPECT_EQ(VHashFind(t, "a"), item);
  VHashDelete(t, item);
  VHashFree(item);
  VHashDestroyWith(t, nullptr, nullptr, free);

  VTree *tree = VTreeCreateWith(malloc, CompareTexts, nullptr);
  EXPECT_EQ(VTreeInsert(tree, nullptr), nullptr);
  EXPECT_EQ(VTreeNumItems(tree), 0);
  VTreeInsert(tree, Text(VTreeAlloc(8), "a"));
  VTreeDestroyWith(tree, nullptr, nullptr, nullptr);  // refused
  EXPECT_EQ(VTreeNumItems(tree), 1);
  void *a = VTreeFindMin(tree);
  VTreeDestroyWith(tree, nullptr, nullptr, free);  // releases, visits nothing
  VTreeFree(a);
}

// Keys are the caller's business: a null key reaches the caller's hash and
// compare functions, and the library itself never reads it.
TEST(ContainerNullTest, NullKeysGoToTheCallersFunctions) {
  VHash *t =
      VHashCreateWith(malloc, 3, HashText, nullptr, CompareTexts, nullptr);
  VHashInsert(t, Text(VHashAlloc(8), "a"));
  g_sawNullKey = false;
  EXPECT_EQ(VHashFind(t, nullptr), nullptr);
  EXPECT_TRUE(g_sawNullKey);
  VHashDestroyWith(
      t, [](void *item, void *) { return VHashFree(item), 0; }, nullptr, free);
  EXPECT_EQ(VHashString1(nullptr), 0u);
  EXPECT_EQ(VHashString2(nullptr, nullptr), 0u);
  EXPECT_EQ(VHashStringIC(nullptr, nullptr), 0u);
}

TEST(ContainerNullTest, SortsRefuseNullCompareAndAcceptEmptyNullArray) {
  int values[] = {3, 1, 2};
  EXPECT_EQ(VQuickSort(values, 3, sizeof(int), nullptr, nullptr), EINVAL);
  EXPECT_EQ(VInsertionSort(nullptr, 3, sizeof(int), CompareTexts, nullptr),
            EINVAL);
  EXPECT_EQ(VInsertionSort(nullptr, 0, sizeof(int), CompareTexts, nullptr), 0);
  v_qsort(values, 3, sizeof(int), nullptr, nullptr);
  EXPECT_EQ(values[0], 3);  // refused: the array is untouched
}

}  // namespace
