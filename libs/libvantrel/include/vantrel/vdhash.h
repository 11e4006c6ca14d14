/* VDHash: intrusive hash table filing every item under two independent
 * keys at once.  The numbers 1 and 2 in the names select the key.
 * Duplicates are allowed under either key; the newest stands first. */
#ifndef VANTREL_VDHASH_H
#define VANTREL_VDHASH_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* A two-key hash table and a cursor over its items. */
typedef struct VDHash VDHash;
typedef struct VDHashCursor VDHashCursor;

/* Item allocation, with alloc or malloc: `size` caller bytes behind a
 * hidden link header; null when the allocator fails. */
VANTREL_API void *VDHashAllocWith(VAllocFunc alloc, size_t size);
VANTREL_API void *VDHashAlloc(size_t size);
/* Releases an item that is not in a table, with release or free. */
VANTREL_API void VDHashFreeWith(void *item, VReleaseFunc release);
VANTREL_API void VDHashFree(void *item);

/* Creates an empty table whose `buckets` count serves both keys; null when
 * alloc fails or buckets is 0. */
VANTREL_API VDHash *VDHashCreateWith(VAllocFunc alloc, uint32_t buckets,
                                     VHashFunc hash1, void *hash1_arg,
                                     VCompareFunc compare1, void *cmp1_arg,
                                     VHashFunc hash2, void *hash2_arg,
                                     VCompareFunc compare2, void *cmp2_arg);
/* Files item under both keys. */
VANTREL_API void VDHashInsert(VDHash *table, void *item);
/* Unlinks item from both chains in constant time. */
VANTREL_API void VDHashDelete(VDHash *table, void *item);
/* First item whose key 1 (key 2) matches key, or null. */
VANTREL_API void *VDHashFind1(VDHash *table, const void *key);
VANTREL_API void *VDHashFind2(VDHash *table, const void *key);
/* Next item after `item` in its key-1 (key-2) chain matching it. */
VANTREL_API void *VDHashNext1(VDHash *table, void *item);
VANTREL_API void *VDHashNext2(VDHash *table, void *item);
/* The number of items in the table. */
VANTREL_API uint32_t VDHashNumItems(VDHash *table);
/* Visits each item once (key-1 bucket order; it may be freed), then empties
 * the table; a null visitor empties it without visiting. */
VANTREL_API void VDHashFlush(VDHash *table, VVisitFunc visitor, void *arg);
/* VDHashFlush, then release(table). */
VANTREL_API void VDHashDestroyWith(VDHash *table, VVisitFunc visitor, void *arg,
                                   VReleaseFunc release);
/* Visits the items until the visitor returns non-zero; in ascending order
 * of order(a, b, order_arg) when sorted is non-zero (of compare1(a, b,
 * cmp1_arg) when order is null).  Returns 0, or ENOMEM (12) when the sorted
 * walk cannot allocate its array (nothing is visited then). */
VANTREL_API int VDHashWalk(VDHash *table, VVisitFunc visitor, void *arg,
                           int sorted, VCompareFunc order, void *order_arg);
/* Cursor over every item; null when out of memory. */
VANTREL_API VDHashCursor *VDHashCursorOpen(VDHash *table);
/* The next item, or null when all have been returned. */
VANTREL_API void *VDHashCursorNext(VDHashCursor *cursor);
/* Releases the cursor. */
VANTREL_API void VDHashCursorClose(VDHashCursor *cursor);

VANTREL_END_DECLS

#endif /* VANTREL_VDHASH_H */
