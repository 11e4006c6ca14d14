/* VHashList: an ordered list with a hash index over the same items.  Every
 * item sits in a doubly linked list, in the order the caller inserts it, and
 * in a hash chain, so it can be walked in order and found by key.
 * Duplicate keys are allowed; the newest stands first in its chain. */
#ifndef VANTREL_VHASHLIST_H
#define VANTREL_VHASHLIST_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* A hash list. */
typedef struct VHashList VHashList;

/* Item allocation, with alloc or malloc: `size` caller bytes behind a
 * hidden link header; null when the allocator fails. */
VANTREL_API void *VHashListAllocWith(VAllocFunc alloc, size_t size);
VANTREL_API void *VHashListAlloc(size_t size);
/* Releases an item that is not in a hash list. */
VANTREL_API void VHashListFreeWith(void *item, VReleaseFunc release);
VANTREL_API void VHashListFree(void *item);

/* Creates an empty hash list; null when alloc fails or buckets is 0. */
VANTREL_API VHashList *VHashListCreateWith(VAllocFunc alloc, uint32_t buckets,
                                           VHashFunc hash, void *hash_arg,
                                           VCompareFunc compare, void *cmp_arg);
/* Calls visitor(item, arg) on every item in list order (it may free the
 * item), then empties the hash list; a null visitor empties it without
 * visiting. */
VANTREL_API void VHashListFlush(VHashList *hl, VVisitFunc visitor, void *arg);
/* VHashListFlush, then release(hl). */
VANTREL_API void VHashListDestroyWith(VHashList *hl, VVisitFunc visitor,
                                      void *arg, VReleaseFunc release);

/* Links item behind `after` (an item or VHashListHead) and indexes it. */
VANTREL_API void VHashListInsertAfter(VHashList *hl, void *item, void *after);
/* Links item in front of `before` and indexes it. */
VANTREL_API void VHashListInsertBefore(VHashList *hl, void *item, void *before);
/* Removes and returns the item behind `item` (or the first one when given
 * the head pseudo-item); the caller must know there is one. */
VANTREL_API void *VHashListDeleteNext(VHashList *hl, void *item);
/* Unlinks item from the list and its chain; the caller frees or reinserts
 * it. */
VANTREL_API void VHashListDelete(VHashList *hl, void *item);

/* First or last item in list order; null when empty. */
VANTREL_API void *VHashListFirst(VHashList *hl);
VANTREL_API void *VHashListLast(VHashList *hl);
/* Neighbour of an item in list order; null at either end. */
VANTREL_API void *VHashListNext(void *item);
VANTREL_API void *VHashListPrev(void *item);
/* Head pseudo-item, for inserting at the front. */
VANTREL_API void *VHashListHead(VHashList *hl);
/* The last item, or the head pseudo-item when empty. */
VANTREL_API void *VHashListTail(VHashList *hl);
/* First item of the key's chain with compare(key, item) == 0, or null. */
VANTREL_API void *VHashListFind(VHashList *hl, const void *key);
/* The next item after `item` in its chain that compares equal to it. */
VANTREL_API void *VHashListNextHash(VHashList *hl, void *item);
/* The number of items in the hash list. */
VANTREL_API uint32_t VHashListNumItems(VHashList *hl);

VANTREL_END_DECLS

#endif /* VANTREL_VHASHLIST_H */
