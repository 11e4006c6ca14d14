/* VTree: intrusive AVL tree with unique keys ordered by a caller
 * comparison.  Items are allocated through VTreeAlloc/VTreeAllocWith, which
 * put a hidden node header in front of the caller's bytes.  Keys passed to
 * find, delete and range are item-shaped.  Nothing here locks. */
#ifndef VANTREL_VTREE_H
#define VANTREL_VTREE_H

#include <stdio.h>

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* An AVL tree. */
typedef struct VTree VTree;

/* Writes one item's text without a line end; called with a null item once
 * per indentation level, where it may write a margin or nothing. */
typedef void (*VTreePrintFunc)(FILE *stream, const void *item, void *arg);

/* Traversal orders of VTreeTraverse. */
#define VTREE_PREORDER 0
#define VTREE_INORDER 1
#define VTREE_POSTORDER 2

/* Item allocation, with alloc or malloc: `size` caller bytes behind a
 * hidden node header; null when the allocator fails. */
VANTREL_API void *VTreeAllocWith(VAllocFunc alloc, size_t size);
VANTREL_API void *VTreeAlloc(size_t size);
/* Releases an item that is not in a tree. */
VANTREL_API void VTreeFreeWith(void *item, VReleaseFunc release);
VANTREL_API void VTreeFree(void *item);

/* Creates an empty tree; null when alloc fails.  compare(a, b, arg) is
 * negative when a sorts before b and 0 for the same key. */
VANTREL_API VTree *VTreeCreateWith(VAllocFunc alloc, VCompareFunc compare,
                                   void *arg);
/* Visits every item in post-order (the visitor may free it), then
 * release(tree); a null visitor releases the tree without visiting. */
VANTREL_API void VTreeDestroyWith(VTree *tree, VVisitFunc visitor, void *arg,
                                  VReleaseFunc release);
/* Inserts item and returns null; when an item with the same key is present
 * the tree is unchanged and that item is returned.  A null tree or item
 * also returns null, and nothing is inserted. */
VANTREL_API void *VTreeInsert(VTree *tree, void *item);
/* Removes and returns the item with key's key, or null. */
VANTREL_API void *VTreeDelete(VTree *tree, const void *key);
/* The item with key's key, or null. */
VANTREL_API void *VTreeFind(VTree *tree, const void *key);
/* Smallest or largest item; null for an empty tree. */
VANTREL_API void *VTreeFindMin(VTree *tree);
VANTREL_API void *VTreeFindMax(VTree *tree);
/* The number of items in the tree. */
VANTREL_API int32_t VTreeNumItems(VTree *tree);
/* Visits every item in the given order (VTREE_PREORDER, VTREE_INORDER,
 * VTREE_POSTORDER); any other order visits nothing. */
VANTREL_API void VTreeTraverse(VTree *tree, int order, VVisitFunc visitor,
                               void *arg);
/* Visits in ascending order every item with low <= item <= high. */
VANTREL_API void VTreeRange(VTree *tree, const void *low, const void *high,
                            VVisitFunc visitor, void *arg);
/* Draws the tree sideways: right subtree above its parent, one node per
 * line. */
VANTREL_API void VTreePrint(FILE *stream, VTree *tree, VTreePrintFunc printer,
                            void *arg);

VANTREL_END_DECLS

#endif /* VANTREL_VTREE_H */
