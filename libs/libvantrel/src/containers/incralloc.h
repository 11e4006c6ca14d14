// Layout of the incremental allocator's record.
#ifndef VANTREL_CONTAINERS_INCRALLOC_H
#define VANTREL_CONTAINERS_INCRALLOC_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "vantrel/vincralloc.h"
#include "vantrel/vlist.h"

// The record behind the opaque VIncrAllocator handle.  Pieces are carved
// from the current block; every block the arena ever made sits in `blocks`
// (one list item per block, holding the block's address) so that destroying
// the arena can free them all.
struct VIncrAllocator {
  uint32_t block_size;  // multiple of 8
  uint32_t remaining;   // bytes left in the current block
  VList *blocks;
  char *current;
  char *next_free;
};

static_assert(std::is_standard_layout_v<VIncrAllocator>);
static_assert(offsetof(VIncrAllocator, block_size) == 0);
static_assert(offsetof(VIncrAllocator, remaining) == 4);
static_assert(offsetof(VIncrAllocator, blocks) == 8);
static_assert(offsetof(VIncrAllocator, current) == 8 + sizeof(void *));
static_assert(offsetof(VIncrAllocator, next_free) == 8 + 2 * sizeof(void *));
static_assert(sizeof(VIncrAllocator) == 8 + 3 * sizeof(void *));

#endif  // VANTREL_CONTAINERS_INCRALLOC_H
