// Layout of the AVL tree's records.  The node header sits immediately in
// front of the caller's bytes; the item pointer is the address just past it.
#ifndef VANTREL_CONTAINERS_TREE_H
#define VANTREL_CONTAINERS_TREE_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "vantrel/vtree.h"

namespace vantrel::internal {

// Balance values: which subtree of a node is one level higher.
inline constexpr int32_t kTreeLeftHigher = 0;
inline constexpr int32_t kTreeEven = 1;
inline constexpr int32_t kTreeRightHigher = 2;

struct TreeNode {
  TreeNode *left;
  TreeNode *right;
  int32_t balance;
};

static_assert(std::is_standard_layout_v<TreeNode>);
static_assert(offsetof(TreeNode, left) == 0);
static_assert(offsetof(TreeNode, right) == sizeof(void *));
static_assert(offsetof(TreeNode, balance) == 2 * sizeof(void *));
static_assert(sizeof(TreeNode) == 3 * sizeof(void *));

inline void *TreeItemOf(TreeNode *node) {
  return reinterpret_cast<char *>(node) + sizeof(TreeNode);
}

inline TreeNode *TreeNodeOf(const void *item) {
  return reinterpret_cast<TreeNode *>(
      const_cast<char *>(static_cast<const char *>(item)) - sizeof(TreeNode));
}

}  // namespace vantrel::internal

struct VTree {
  int32_t count;
  VCompareFunc compare;
  void *compare_arg;
  vantrel::internal::TreeNode *root;
};

static_assert(std::is_standard_layout_v<VTree>);
static_assert(offsetof(VTree, count) == 0);
static_assert(offsetof(VTree, compare) == alignof(void *));
static_assert(offsetof(VTree, compare_arg) ==
              offsetof(VTree, compare) + sizeof(void *));
static_assert(offsetof(VTree, root) ==
              offsetof(VTree, compare_arg) + sizeof(void *));
static_assert(sizeof(VTree) == offsetof(VTree, root) + sizeof(void *));

#endif  // VANTREL_CONTAINERS_TREE_H
