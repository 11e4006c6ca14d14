/* VList: intrusive doubly linked list.
 *
 * Items are allocated through VListAlloc/VListAllocWith, which put a hidden
 * link header in front of the caller's bytes; callers hold pointers to their
 * own bytes.  Nothing here locks, and beyond null pointers (see vbase.h)
 * no call checks its arguments. */
#ifndef VANTREL_VLIST_H
#define VANTREL_VLIST_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* A list; its items are the caller's bytes behind hidden link headers. */
typedef struct VList VList;

/* Allocates an item of `size` caller bytes with alloc; returns the item, or
 * null when alloc fails.  The new item is self-linked. */
VANTREL_API void *VListAllocWith(VAllocFunc alloc, size_t size);
/* VListAllocWith with malloc. */
VANTREL_API void *VListAlloc(size_t size);
/* Releases an item that is not in a list (link header included). */
VANTREL_API void VListFreeWith(void *item, VReleaseFunc release);
VANTREL_API void VListFree(void *item);

/* Creates an empty list in one allocation; null when alloc fails. */
VANTREL_API VList *VListCreateWith(VAllocFunc alloc);
/* Removes every item from first to last, self-linking each before calling
 * visitor(item, arg) (when not null), which may free it. */
VANTREL_API void VListFlush(VList *list, VVisitFunc visitor, void *arg);
/* VListFlush, then release(list). */
VANTREL_API void VListDestroyWith(VList *list, VVisitFunc visitor, void *arg,
                                  VReleaseFunc release);

/* Links item directly behind `after` (an item or VListHead(list)). */
VANTREL_API void VListInsertAfter(VList *list, void *item, void *after);
/* Links item directly in front of `before`. */
VANTREL_API void VListInsertBefore(VList *list, void *item, void *before);
/* Unlinks and returns the item behind `item` (or the first item when given
 * VListHead(list)); the caller must know there is one. */
VANTREL_API void *VListDeleteNext(VList *list, void *item);
/* Unlinks item and leaves it self-linked. */
VANTREL_API void VListDelete(VList *list, void *item);

/* First or last item; null when empty. */
VANTREL_API void *VListFirst(VList *list);
VANTREL_API void *VListLast(VList *list);
/* Neighbour of an item in its list; null at either end. */
VANTREL_API void *VListNext(void *item);
VANTREL_API void *VListPrev(void *item);
/* Item at zero-based position n; null when n < 0 or n >= count. */
VANTREL_API void *VListNth(VList *list, int32_t n);
/* Head pseudo-item: insert behind it to put an item first. Never null. */
VANTREL_API void *VListHead(VList *list);
/* The last item, or the head pseudo-item when the list is empty, so that
 * inserting behind it always appends. */
VANTREL_API void *VListTail(VList *list);
/* The number of items in the list. */
VANTREL_API int32_t VListNumItems(VList *list);
/* Stable in-place merge sort; allocates nothing.  compare(a, b, arg) > 0
 * puts a after b. */
VANTREL_API void VListMergeSort(VList *list, VCompareFunc compare, void *arg);

VANTREL_END_DECLS

#endif /* VANTREL_VLIST_H */
