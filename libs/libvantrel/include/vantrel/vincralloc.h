/* VIncrAllocator: arena that hands out zero-filled pieces of large blocks
 * and frees them all at once. */
#ifndef VANTREL_VINCRALLOC_H
#define VANTREL_VINCRALLOC_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* An incremental allocator (arena). */
typedef struct VIncrAllocator VIncrAllocator;

/* Creates an arena of blocks of block_size bytes (rounded up to a multiple
 * of 8) with its first block; null when an allocation fails. */
VANTREL_API VIncrAllocator *VIncrAllocatorCreate(uint32_t block_size);
/* A zero-filled piece of size bytes rounded up to a multiple of 8, or null
 * when a new block was needed and cannot be allocated, or when the piece is
 * larger than a block.  Size 0 returns the current position. */
VANTREL_API void *VIncrAllocatorAlloc(VIncrAllocator *allocator, size_t size);
/* Frees every block and the arena. */
VANTREL_API void VIncrAllocatorDestroy(VIncrAllocator *allocator);

VANTREL_END_DECLS

#endif /* VANTREL_VINCRALLOC_H */
