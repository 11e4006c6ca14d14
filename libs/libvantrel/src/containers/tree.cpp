// Intrusive AVL tree.  Nodes are relinked, never copied, so an item keeps
// its address for as long as the caller holds it.  Insertion and deletion
// recurse along one root-to-leaf path, so their depth is the tree height
// (at most about 45 for a signed 32-bit count).
#include "containers/tree.h"

#include <stdint.h>
#include <stdio.h>

#include "internal/alloc.h"

namespace vantrel::internal {
namespace {

TreeNode *RotateLeft(TreeNode *node) {
  TreeNode *right = node->right;
  node->right = right->left;
  right->left = node;
  return right;
}

TreeNode *RotateRight(TreeNode *node) {
  TreeNode *left = node->left;
  node->left = left->right;
  left->right = node;
  return left;
}

// Node right-heavy by two, its right child left-heavy (or even, after a
// deletion): the right child's left child g becomes the subtree root.
void RotateRightLeft(TreeNode **link) {
  TreeNode *node = *link;
  TreeNode *right = node->right;
  TreeNode *g = right->left;
  node->right = RotateRight(right);
  *link = RotateLeft(node);
  node->balance = g->balance == kTreeRightHigher ? kTreeLeftHigher : kTreeEven;
  right->balance = g->balance == kTreeLeftHigher ? kTreeRightHigher : kTreeEven;
  g->balance = kTreeEven;
}

// Mirror image of RotateRightLeft.
void RotateLeftRight(TreeNode **link) {
  TreeNode *node = *link;
  TreeNode *left = node->left;
  TreeNode *g = left->right;
  node->left = RotateLeft(left);
  *link = RotateRight(node);
  node->balance = g->balance == kTreeLeftHigher ? kTreeRightHigher : kTreeEven;
  left->balance = g->balance == kTreeRightHigher ? kTreeLeftHigher : kTreeEven;
  g->balance = kTreeEven;
}

// The right subtree of *link grew by one level; returns whether the
// subtree at *link grew too.
bool GrewRight(TreeNode **link) {
  TreeNode *node = *link;
  if (node->balance == kTreeLeftHigher) {
    node->balance = kTreeEven;
    return false;
  }
  if (node->balance == kTreeEven) {
    node->balance = kTreeRightHigher;
    return true;
  }
  TreeNode *right = node->right;
  if (right->balance == kTreeRightHigher) {
    *link = RotateLeft(node);
    node->balance = right->balance = kTreeEven;
  } else {
    RotateRightLeft(link);
  }
  return false;
}

bool GrewLeft(TreeNode **link) {
  TreeNode *node = *link;
  if (node->balance == kTreeRightHigher) {
    node->balance = kTreeEven;
    return false;
  }
  if (node->balance == kTreeEven) {
    node->balance = kTreeLeftHigher;
    return true;
  }
  TreeNode *left = node->left;
  if (left->balance == kTreeLeftHigher) {
    *link = RotateRight(node);
    node->balance = left->balance = kTreeEven;
  } else {
    RotateLeftRight(link);
  }
  return false;
}

// The left subtree of *link lost one level; returns whether the subtree at
// *link lost one too.
bool ShrankLeft(TreeNode **link) {
  TreeNode *node = *link;
  if (node->balance == kTreeLeftHigher) {
    node->balance = kTreeEven;
    return true;
  }
  if (node->balance == kTreeEven) {
    node->balance = kTreeRightHigher;
    return false;
  }
  TreeNode *right = node->right;
  if (right->balance == kTreeLeftHigher) {
    RotateRightLeft(link);
    return true;
  }
  *link = RotateLeft(node);
  if (right->balance == kTreeEven) {
    node->balance = kTreeRightHigher;
    right->balance = kTreeLeftHigher;
    return false;
  }
  node->balance = right->balance = kTreeEven;
  return true;
}

bool ShrankRight(TreeNode **link) {
  TreeNode *node = *link;
  if (node->balance == kTreeRightHigher) {
    node->balance = kTreeEven;
    return true;
  }
  if (node->balance == kTreeEven) {
    node->balance = kTreeLeftHigher;
    return false;
  }
  TreeNode *left = node->left;
  if (left->balance == kTreeRightHigher) {
    RotateLeftRight(link);
    return true;
  }
  *link = RotateRight(node);
  if (left->balance == kTreeEven) {
    node->balance = kTreeLeftHigher;
    left->balance = kTreeRightHigher;
    return false;
  }
  node->balance = left->balance = kTreeEven;
  return true;
}

struct Insertion {
  VCompareFunc compare;
  void *arg;
  TreeNode *fresh;
  void *present;
};

// Returns whether the subtree at *link grew.
bool InsertAt(TreeNode **link, Insertion &ins) {
  TreeNode *node = *link;
  if (node == nullptr) {
    ins.fresh->left = ins.fresh->right = nullptr;
    ins.fresh->balance = kTreeEven;
    *link = ins.fresh;
    return true;
  }
  int order = ins.compare(TreeItemOf(node), TreeItemOf(ins.fresh), ins.arg);
  if (order == 0) {
    ins.present = TreeItemOf(node);
    return false;
  }
  if (order < 0) return InsertAt(&node->right, ins) && GrewRight(link);
  return InsertAt(&node->left, ins) && GrewLeft(link);
}

// Unlinks the rightmost node below *link into *max; returns whether the
// subtree at *link shrank.
bool UnlinkMax(TreeNode **link, TreeNode **max) {
  TreeNode *node = *link;
  if (node->right == nullptr) {
    *max = node;
    *link = node->left;
    return true;
  }
  return UnlinkMax(&node->right, max) && ShrankRight(link);
}

// Takes the node at *link out of the tree; with two children its in-order
// predecessor moves into its place.  Returns whether the subtree shrank.
bool Unlink(TreeNode **link) {
  TreeNode *node = *link;
  if (node->right == nullptr) {
    *link = node->left;
    return true;
  }
  if (node->left == nullptr) {
    *link = node->right;
    return true;
  }
  TreeNode *pred = nullptr;
  bool shrank = UnlinkMax(&node->left, &pred);
  pred->left = node->left;
  pred->right = node->right;
  pred->balance = node->balance;
  *link = pred;
  return shrank && ShrankLeft(link);
}

struct Deletion {
  VCompareFunc compare;
  void *arg;
  const void *key;
  TreeNode *removed;
};

// Returns whether the subtree at *link shrank.
bool DeleteAt(TreeNode **link, Deletion &del) {
  TreeNode *node = *link;
  if (node == nullptr) return false;
  int order = del.compare(TreeItemOf(node), del.key, del.arg);
  if (order == 0) {
    del.removed = node;
    return Unlink(link);
  }
  if (order < 0) return DeleteAt(&node->right, del) && ShrankRight(link);
  return DeleteAt(&node->left, del) && ShrankLeft(link);
}

void PreOrder(TreeNode *node, VVisitFunc visitor, void *arg) {
  if (node == nullptr) return;
  visitor(TreeItemOf(node), arg);
  PreOrder(node->left, visitor, arg);
  PreOrder(node->right, visitor, arg);
}

void InOrder(TreeNode *node, VVisitFunc visitor, void *arg) {
  if (node == nullptr) return;
  InOrder(node->left, visitor, arg);
  visitor(TreeItemOf(node), arg);
  InOrder(node->right, visitor, arg);
}

// Children are read before the node is visited, so the visitor may free it.
void PostOrder(TreeNode *node, VVisitFunc visitor, void *arg) {
  if (node == nullptr) return;
  TreeNode *right = node->right;
  PostOrder(node->left, visitor, arg);
  PostOrder(right, visitor, arg);
  visitor(TreeItemOf(node), arg);
}

struct RangeWalk {
  VCompareFunc compare;
  void *compare_arg;
  const void *low;
  const void *high;
  VVisitFunc visitor;
  void *arg;
};

void RangeAt(TreeNode *node, const RangeWalk &walk) {
  if (node == nullptr) return;
  void *item = TreeItemOf(node);
  int above_low = walk.compare(item, walk.low, walk.compare_arg);
  int above_high = walk.compare(item, walk.high, walk.compare_arg);
  if (above_low > 0) RangeAt(node->left, walk);
  if (above_low >= 0 && above_high <= 0) walk.visitor(item, walk.arg);
  if (above_high < 0) RangeAt(node->right, walk);
}

// One bit per depth: set while the branch line at that depth must be
// continued on the lines below.  Depths beyond the set are never marked.
struct Printing {
  FILE *stream;
  VTreePrintFunc printer;
  void *arg;
  uint64_t markers;

  void Mark(int depth, bool on) {
    if (depth >= 64) return;
    uint64_t bit = uint64_t{1} << depth;
    markers = on ? markers | bit : markers & ~bit;
  }
  bool Marked(int depth) const {
    return depth < 64 && (markers >> depth & 1) != 0;
  }
};

void PrintLine(TreeNode *node, int depth, Printing &out) {
  for (int level = 1; level <= depth; ++level) {
    out.printer(out.stream, nullptr, nullptr);
    if (level == depth) {
      fprintf(out.stream, "  %s", "+--");
    } else {
      fprintf(out.stream, "  %s  ", out.Marked(level) ? "|" : "     ");
    }
  }
  out.printer(out.stream, TreeItemOf(node), out.arg);
  bool inner = node->left != nullptr || node->right != nullptr;
  fprintf(out.stream, "%s\n", inner ? "--+" : "");
}

// Right subtree above the node, left subtree below it.
void PrintAt(TreeNode *node, int depth, bool is_left, Printing &out) {
  if (node->right != nullptr) {
    PrintAt(node->right, depth + 1, false, out);
  } else {
    out.Mark(depth + 1, true);
  }
  PrintLine(node, depth, out);
  out.Mark(depth, !is_left);
  if (node->left != nullptr) {
    PrintAt(node->left, depth + 1, true, out);
  } else {
    out.Mark(depth, false);
  }
}

// The leftmost (or, with max, the rightmost) item below node, or null.
void *FindEnd(TreeNode *node, bool max) {
  if (node == nullptr) return nullptr;
  for (TreeNode *next = node; next != nullptr;) {
    node = next;
    next = max ? node->right : node->left;
  }
  return TreeItemOf(node);
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;
using vi::TreeNode;

void *VTreeAllocWith(VAllocFunc alloc, size_t size) {
  if (alloc == nullptr || size > SIZE_MAX - sizeof(TreeNode)) return nullptr;
  auto *node = static_cast<TreeNode *>(alloc(sizeof(TreeNode) + size));
  if (node == nullptr) return nullptr;
  node->left = node->right = nullptr;
  node->balance = vi::kTreeEven;
  return vi::TreeItemOf(node);
}

void *VTreeAlloc(size_t size) { return VTreeAllocWith(vi::Malloc, size); }

void VTreeFreeWith(void *item, VReleaseFunc release) {
  if (item != nullptr && release != nullptr) release(vi::TreeNodeOf(item));
}

void VTreeFree(void *item) { VTreeFreeWith(item, vi::Free); }

VTree *VTreeCreateWith(VAllocFunc alloc, VCompareFunc compare, void *arg) {
  if (alloc == nullptr || compare == nullptr) return nullptr;
  auto *tree = static_cast<VTree *>(alloc(sizeof(VTree)));
  if (tree == nullptr) return nullptr;
  tree->count = 0;
  tree->compare = compare;
  tree->compare_arg = arg;
  tree->root = nullptr;
  return tree;
}

void VTreeDestroyWith(VTree *tree, VVisitFunc visitor, void *arg,
                      VReleaseFunc release) {
  if (tree == nullptr || release == nullptr) return;
  if (visitor != nullptr) vi::PostOrder(tree->root, visitor, arg);
  release(tree);
}

void *VTreeInsert(VTree *tree, void *item) {
  if (tree == nullptr || item == nullptr) return nullptr;
  vi::Insertion ins{tree->compare, tree->compare_arg, vi::TreeNodeOf(item),
                    nullptr};
  vi::InsertAt(&tree->root, ins);
  if (ins.present == nullptr) ++tree->count;
  return ins.present;
}

void *VTreeDelete(VTree *tree, const void *key) {
  if (tree == nullptr) return nullptr;
  vi::Deletion del{tree->compare, tree->compare_arg, key, nullptr};
  vi::DeleteAt(&tree->root, del);
  if (del.removed == nullptr) return nullptr;
  --tree->count;
  return vi::TreeItemOf(del.removed);
}

void *VTreeFind(VTree *tree, const void *key) {
  if (tree == nullptr) return nullptr;
  TreeNode *node = tree->root;
  while (node != nullptr) {
    void *item = vi::TreeItemOf(node);
    int order = tree->compare(key, item, tree->compare_arg);
    if (order == 0) return item;
    node = order < 0 ? node->left : node->right;
  }
  return nullptr;
}

void *VTreeFindMin(VTree *tree) {
  return tree != nullptr ? vi::FindEnd(tree->root, false) : nullptr;
}

void *VTreeFindMax(VTree *tree) {
  return tree != nullptr ? vi::FindEnd(tree->root, true) : nullptr;
}

int32_t VTreeNumItems(VTree *tree) { return tree != nullptr ? tree->count : 0; }

void VTreeTraverse(VTree *tree, int order, VVisitFunc visitor, void *arg) {
  if (tree == nullptr || visitor == nullptr) return;
  switch (order) {
    case VTREE_PREORDER:
      vi::PreOrder(tree->root, visitor, arg);
      break;
    case VTREE_INORDER:
      vi::InOrder(tree->root, visitor, arg);
      break;
    case VTREE_POSTORDER:
      vi::PostOrder(tree->root, visitor, arg);
      break;
    default:
      break;
  }
}

void VTreeRange(VTree *tree, const void *low, const void *high,
                VVisitFunc visitor, void *arg) {
  if (tree == nullptr || visitor == nullptr) return;
  vi::RangeWalk walk{tree->compare, tree->compare_arg, low, high, visitor, arg};
  vi::RangeAt(tree->root, walk);
}

void VTreePrint(FILE *stream, VTree *tree, VTreePrintFunc printer, void *arg) {
  if (stream == nullptr || tree == nullptr || printer == nullptr) return;
  if (tree->root == nullptr) return;
  vi::Printing out{stream, printer, arg, 0};
  vi::PrintAt(tree->root, 0, false, out);
}
