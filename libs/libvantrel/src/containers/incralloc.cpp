// Incremental allocator: zero-filled pieces carved from large blocks, all
// released together when the arena is destroyed.
#include "containers/incralloc.h"

#include <string.h>

#include "internal/alloc.h"
#include "internal/scope.h"

namespace vantrel::internal {
namespace {

constexpr uint32_t kGrain = 8;

// Each list item's payload is the address of one block.
char *BlockOf(const void *item) {
  char *block;
  memcpy(&block, item, sizeof block);
  return block;
}

// A fresh zero-filled block wrapped in a self-linked list item, or null with
// nothing left allocated.
void *NewBlockItem(uint32_t block_size) {
  void *block = Calloc(1, block_size);
  if (block == nullptr) return nullptr;
  void *item = VListAllocWith(Malloc, sizeof block);
  if (item == nullptr) {
    Free(block);
    return nullptr;
  }
  memcpy(item, &block, sizeof block);
  return item;
}

int FreeBlockItem(void *item, void *) {
  Free(BlockOf(item));
  VListFreeWith(item, Free);
  return 0;
}

void MakeCurrent(VIncrAllocator *arena, void *item) {
  arena->current = arena->next_free = BlockOf(item);
  arena->remaining = arena->block_size;
}

bool StartBlock(VIncrAllocator *arena) {
  void *item = NewBlockItem(arena->block_size);
  if (item == nullptr) return false;
  VListInsertAfter(arena->blocks, item, VListTail(arena->blocks));
  MakeCurrent(arena, item);
  return true;
}

}  // namespace

VIncrAllocator *IncrAllocatorCreate(uint32_t block_size) {
  // The rounded size must still fit the 32-bit field.
  if (block_size > UINT32_MAX - (kGrain - 1)) return nullptr;
  uint32_t rounded = (block_size + kGrain - 1) & ~(kGrain - 1);
  HeapPtr<VIncrAllocator> arena(
      static_cast<VIncrAllocator *>(Malloc(sizeof(VIncrAllocator))));
  if (!arena) return nullptr;
  VList *blocks = VListCreateWith(Malloc);
  if (blocks == nullptr) return nullptr;
  ScopeExit drop_list(
      [blocks] { VListDestroyWith(blocks, nullptr, nullptr, Free); });
  void *item = NewBlockItem(rounded);
  if (item == nullptr) return nullptr;
  drop_list.Dismiss();
  arena->block_size = rounded;
  arena->blocks = blocks;
  VListInsertAfter(blocks, item, VListHead(blocks));
  MakeCurrent(arena.get(), item);
  return arena.Release();
}

void *IncrAllocatorAlloc(VIncrAllocator *arena, size_t size) {
  // A piece larger than a block could never be served; refusing it here
  // also keeps the rounding below from overflowing.
  if (size > arena->block_size) return nullptr;
  size_t rounded = (size + kGrain - 1) & ~size_t{kGrain - 1};
  if (rounded > arena->remaining && !StartBlock(arena)) return nullptr;
  char *piece = arena->next_free;
  arena->next_free += rounded;
  arena->remaining -= static_cast<uint32_t>(rounded);
  return piece;
}

void IncrAllocatorDestroy(VIncrAllocator *arena) {
  if (arena == nullptr) return;
  VListDestroyWith(arena->blocks, FreeBlockItem, nullptr, Free);
  Free(arena);
}

}  // namespace vantrel::internal

extern "C" VANTREL_API VIncrAllocator *VIncrAllocatorCreate(
    uint32_t block_size) {
  return vantrel::internal::IncrAllocatorCreate(block_size);
}

extern "C" VANTREL_API void *VIncrAllocatorAlloc(VIncrAllocator *allocator,
                                                 size_t size) {
  return vantrel::internal::IncrAllocatorAlloc(allocator, size);
}

extern "C" VANTREL_API void VIncrAllocatorDestroy(VIncrAllocator *allocator) {
  vantrel::internal::IncrAllocatorDestroy(allocator);
}
