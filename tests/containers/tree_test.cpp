#include "containers/tree.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vtree.h"

namespace {

using vantrel::internal::TreeItemOf;
using vantrel::internal::TreeNode;
using Keys = std::vector<int>;

struct Item {
  int key;
};

// The probe(s) of the current call and the side they must be on: lookups
// pass (key, node item); insertion, range and deletion (node item, probe).
struct {
  const void *p, *q;
  bool first;
} probe;
int wrong_side;

// Counts comparisons when given a counter.
int CompareKeys(const void *a, const void *b, void *arg) {
  if (arg != nullptr) ++*static_cast<long *>(arg);
  const void *other = probe.first ? b : a;
  wrong_side += other != nullptr && (other == probe.p || other == probe.q);
  int x = static_cast<const Item *>(a)->key;
  int y = static_cast<const Item *>(b)->key;
  return x < y ? -1 : x > y;
}
int Collect(void *item, void *keys) {
  static_cast<Keys *>(keys)->push_back(static_cast<Item *>(item)->key);
  return 0;
}
int FreeItem(void *item, void *keys) {
  if (keys != nullptr) Collect(item, keys);
  return VTreeFree(item), 0;
}
Item *NewItem(int key) {
  return &(*static_cast<Item *>(VTreeAlloc(sizeof(Item))) = Item{key});
}
VTree *Build(const Keys &keys, void *arg = nullptr) {
  VTree *tree = VTreeCreateWith(malloc, CompareKeys, arg);
  for (int key : keys) EXPECT_EQ(VTreeInsert(tree, NewItem(key)), nullptr);
  return tree;
}
Keys Walk(VTree *tree, int order) {
  Keys keys;
  VTreeTraverse(tree, order, Collect, &keys);
  return keys;
}
int KeyOf(const void *item) {
  return item ? static_cast<const Item *>(item)->key : -1;
}

// Height of the subtree, or -1 when order, height or a balance is wrong.
int Height(TreeNode *node, int *last, int *count) {
  if (node == nullptr) return 0;
  int left = Height(node->left, last, count);
  bool ascending = *last < KeyOf(TreeItemOf(node));
  *last = KeyOf(TreeItemOf(node));
  ++*count;
  int right = Height(node->right, last, count);
  int balance = left > right ? 0 : left == right ? 1 : 2;
  if (left < 0 || right < 0 || abs(left - right) > 1 || !ascending ||
      node->balance != balance)
    return -1;
  return 1 + std::max(left, right);
}
// The tree's height, or -1 when it is no valid AVL tree of its count.
int CheckedHeight(VTree *tree) {
  int last = -1, count = 0, height = Height(tree->root, &last, &count);
  return count == VTreeNumItems(tree) ? height : -1;
}

// Lookups follow one path and ranges enter no subtree outside the bounds,
// so their comparisons are bounded by the (checked) height; the tree itself
// allocates nothing.
TEST(VTreeTest, RandomOperationsMatchModel) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::map<int, Item *> model;
    long compares = 0;
    VTree *tree = Build({}, &compares);
    EXPECT_TRUE(!VTreeFindMin(tree) && !VTreeFindMax(tree));
    int height = 0;
    uint64_t made = 0;
    vtest::AllocCounter allocations;
    for (int step = 0; step < 20000 && !HasFailure(); ++step) {
      Item key{static_cast<int>(rng() % 300)};
      Item *present = model.count(key.key) ? model[key.key] : nullptr;
      int op = rng() % 4;
      compares = 0;
      if (op < 2) {
        Item *item = NewItem(key.key);
        ++made;
        probe = {item, nullptr, false};
        EXPECT_EQ(VTreeInsert(tree, item), present);
        if (present) VTreeFree(item);
        if (!present) model[key.key] = item;
      } else if (op == 2) {
        probe = {&key, nullptr, false};
        EXPECT_EQ(VTreeDelete(tree, &key), present);
        if (present) VTreeFree(present);
        model.erase(key.key);
      } else {
        probe = {&key, nullptr, true};
        EXPECT_EQ(VTreeFind(tree, &key), present);
        EXPECT_LE(compares, height);
        EXPECT_EQ(KeyOf(VTreeFindMin(tree)),
                  model.empty() ? -1 : model.begin()->first);
        EXPECT_EQ(KeyOf(VTreeFindMax(tree)),
                  model.empty() ? -1 : model.rbegin()->first);
        // Inclusive bounds, absent ones and low above high alike.
        Item high{key.key + static_cast<int>(rng() % 40) - 5};
        Keys got, want;
        probe = {&key, &high, false};
        compares = 0;
        VTreeRange(tree, &key, &high, Collect, &got);
        for (auto it = model.lower_bound(key.key);
             it != model.end() && it->first <= high.key; ++it)
          want.push_back(it->first);
        EXPECT_EQ(got, want);
        EXPECT_LE(compares, 4 * height + 2 * static_cast<long>(got.size()));
      }
      ASSERT_GE(height = CheckedHeight(tree), 0);
      ASSERT_EQ(wrong_side, 0);
    }
    EXPECT_EQ(allocations.count(), made);
    probe = {};
    VTreeDestroyWith(tree, FreeItem, nullptr, free);
  }
}

// Destruction visits children first, so the visitor may free them.
TEST(VTreeTest, TraversalOrders) {
  VTree *tree = Build({1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(Walk(tree, VTREE_PREORDER), (Keys{4, 2, 1, 3, 6, 5, 7}));
  EXPECT_EQ(Walk(tree, VTREE_INORDER), (Keys{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Walk(tree, VTREE_POSTORDER), (Keys{1, 3, 2, 5, 7, 6, 4}));
  EXPECT_TRUE(Walk(tree, 3).empty());
  EXPECT_TRUE(Walk(tree, -1).empty());
  Keys freed;
  VTreeDestroyWith(tree, FreeItem, &freed, free);
  EXPECT_EQ(freed, (Keys{1, 3, 2, 5, 7, 6, 4}));
}

// Writes "#" as the margin of every indentation level.
void PrintKey(FILE *stream, const void *item, void *arg) {
  EXPECT_STREQ(static_cast<const char *>(arg), item ? "ctx" : nullptr);
  item ? fprintf(stream, "%d", KeyOf(item)) : fputs("#", stream);
}

TEST(VTreeTest, PrintDrawsTheTreeSideways) {
  const struct {
    Keys keys;
    const char *text;
  } cases[] = {
      {{}, ""},
      {{1, 2, 3}, "#  +--3\n2--+\n#  +--1\n"},
      {{1, 2, 3, 4, 5, 6, 7},
       "#         #  +--7\n#  +--6--+\n#  |  #  +--5\n4--+\n"
       "#  |  #  +--3\n#  +--2--+\n#         #  +--1\n"},
      {{2, 1, 3, 4}, "#         #  +--4\n#  +--3--+\n2--+\n#  +--1\n"},
      {{3, 1, 4, 2}, "#  +--4\n3--+\n#         #  +--2\n#  +--1--+\n"},
  };
  for (const auto &c : cases) {
    VTree *tree = Build(c.keys);
    char *text = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&text, &size);
    VTreePrint(stream, tree, PrintKey, const_cast<char *>("ctx"));
    fclose(stream);
    EXPECT_EQ(std::string(text, size), c.text);
    free(text);
    VTreeDestroyWith(tree, FreeItem, nullptr, free);
  }
}

TEST(VTreeTest, AllocationFailuresReturnNull) {
  EXPECT_EQ(VTreeAllocWith(malloc, SIZE_MAX), nullptr);
  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    void *a = VTreeAllocWith(vtest::FunnelMalloc, 8);
    void *b = VTreeAlloc(8);
    VTree *tree = VTreeCreateWith(vtest::FunnelMalloc, CompareKeys, nullptr);
    EXPECT_EQ(f.Disarm(), !a || !b || !tree);
    if (a) VTreeFreeWith(a, vtest::FunnelFree);
    if (b) VTreeFree(b);
    if (tree) VTreeDestroyWith(tree, FreeItem, nullptr, vtest::FunnelFree);
  });
}

}  // namespace
