/* VHash: intrusive chained hash table with a bucket count fixed at
 * creation, plus the library's string hash functions.
 *
 * Items are allocated through VHashAlloc/VHashAllocWith/VHashIncrAlloc,
 * which put a hidden link header in front of the caller's bytes.  Duplicate
 * keys are allowed; the newest stands first.  Nothing here locks. */
#ifndef VANTREL_VHASH_H
#define VANTREL_VHASH_H

#include "vantrel/vbase.h"
#include "vantrel/vincralloc.h"

VANTREL_BEGIN_DECLS

/* A hash table and a cursor over its items. */
typedef struct VHash VHash;
typedef struct VHashCursor VHashCursor;

/* Makes a new item for VHashCopy: allocated with VHashAlloc, or null to
 * skip the item. */
typedef void *(*VHashCopyFunc)(const void *item, void *arg);

/* Item allocation: null when the allocator fails. */
VANTREL_API void *VHashAllocWith(VAllocFunc alloc, size_t size);
VANTREL_API void *VHashAlloc(size_t size);
/* From an incremental allocator; such items are never freed one by one. */
VANTREL_API void *VHashIncrAlloc(VIncrAllocator *allocator, size_t size);
/* Releases an item that is not in a table. */
VANTREL_API void VHashFreeWith(void *item, VReleaseFunc release);
VANTREL_API void VHashFree(void *item);

/* Creates an empty table with `buckets` chains; null when alloc fails or
 * buckets is 0.  hash(item or key, hash_arg); compare(key, item, cmp_arg)
 * is 0 on a match. */
VANTREL_API VHash *VHashCreateWith(VAllocFunc alloc, uint32_t buckets,
                                   VHashFunc hash, void *hash_arg,
                                   VCompareFunc compare, void *cmp_arg);
/* Puts item at the head of its chain. */
VANTREL_API void VHashInsert(VHash *table, void *item);
/* First item of the key's chain that compares equal to key, or null. */
VANTREL_API void *VHashFind(VHash *table, const void *key);
/* The next item after `item` in its chain that compares equal to it, or
 * null: visits the duplicates of a key after VHashFind. */
VANTREL_API void *VHashNext(VHash *table, void *item);
/* Unlinks item in constant time; the caller frees or reinserts it. */
VANTREL_API void VHashDelete(VHash *table, void *item);
/* The number of items in the table. */
VANTREL_API uint32_t VHashNumItems(VHash *table);
/* Calls visitor(item, arg) on every item (bucket order; the visitor may
 * free it), then empties the table; a null visitor empties it without
 * visiting. */
VANTREL_API void VHashFlush(VHash *table, VVisitFunc visitor, void *arg);
/* VHashFlush, then release(table). */
VANTREL_API void VHashDestroyWith(VHash *table, VVisitFunc visitor, void *arg,
                                  VReleaseFunc release);
/* Visits every item until the visitor returns non-zero, and returns that
 * result (0 when all returned 0).  With `sorted` non-zero the items are
 * visited in ascending order of order(a, b, cmp_arg), or of the table's
 * compare when order is null; returns ENOMEM (12) if the sort array cannot be
 * allocated. */
VANTREL_API int VHashWalk(VHash *table, VVisitFunc visitor, void *arg,
                          int sorted, VCompareFunc order);

/* Cursor over every item in bucket order; null when out of memory.  The
 * caller may delete and free each returned item before the next step. */
VANTREL_API VHashCursor *VHashCursorOpen(VHash *table);
/* The next item, or null when all have been returned. */
VANTREL_API void *VHashCursorNext(VHashCursor *cursor);
/* Releases the cursor. */
VANTREL_API void VHashCursorClose(VHashCursor *cursor);

/* New table (with malloc) with the same buckets and functions, holding the
 * non-null results of copy(item, arg) called in bucket order; null only if
 * the table cannot be made.  Each copy is inserted like VHashInsert, so
 * duplicates of a key stand in reverse order in the new table. */
VANTREL_API VHash *VHashCopy(VHash *table, VHashCopyFunc copy, void *arg);

/* Sum of the string's bytes (unsigned). */
VANTREL_API uint32_t VHashString1(const char *text);
/* PJW (ELF) hash of a string; arg is ignored so that it can serve directly
 * as a table's hash function when items begin with their key string. */
VANTREL_API uint32_t VHashString2(const void *text, void *arg);
/* VHashString2 over the upper-cased bytes (current locale). */
VANTREL_API uint32_t VHashStringIC(const void *text, void *arg);

VANTREL_END_DECLS

#endif /* VANTREL_VHASH_H */
