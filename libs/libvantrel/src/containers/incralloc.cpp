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
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VIncrAllocator *VIncrAllocatorCreate(uint32_t block_size) {
  // The rounded size must still fit the 32-bit field.
  if (block_size > UINT32_MAX - (vi::kGrain - 1)) return nullptr;
  uint32_t rounded = (block_size + vi::kGrain - 1) & ~(vi::kGrain - 1);
  vi::HeapPtr<VIncrAllocator> arena(
      static_cast<VIncrAllocator *>(vi::Malloc(sizeof(VIncrAllocator))));
  if (!arena) return nullptr;
  VList *blocks = VListCreateWith(vi::Malloc);
  if (blocks == nullptr) return nullptr;
  vi::ScopeExit drop_list(
      [blocks] { VListDestroyWith(blocks, nullptr, nullptr, vi::Free); });
  void *item = vi::NewBlockItem(rounded);
  if (item == nullptr) return nullptr;
  drop_list.Dismiss();
  arena->block_size = rounded;
  arena->blocks = blocks;
  VListInsertAfter(blocks, item, VListHead(blocks));
  vi::MakeCurrent(arena.get(), item);
  return arena.Release();
}

void *VIncrAllocatorAlloc(VIncrAllocator *allocator, size_t size) {
  // A piece larger than a block could never be served; refusing it here
  // also keeps the rounding below from overflowing.
  if (allocator == nullptr || size > allocator->block_size) return nullptr;
  size_t rounded = (size + vi::kGrain - 1) & ~size_t{vi::kGrain - 1};
  if (rounded > allocator->remaining && !vi::StartBlock(allocator)) {
    return nullptr;
  }
  char *piece = allocator->next_free;
  allocator->next_free += rounded;
  allocator->remaining -= static_cast<uint32_t>(rounded);
  return piece;
}

void VIncrAllocatorDestroy(VIncrAllocator *allocator) {
  if (allocator == nullptr) return;
  VListDestroyWith(allocator->blocks, vi::FreeBlockItem, nullptr, vi::Free);
  vi::Free(allocator);
}
