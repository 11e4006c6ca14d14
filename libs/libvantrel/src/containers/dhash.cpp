// Intrusive hash table that files every item under two keys at once: one
// link header, two chains.
#include "containers/dhash.h"

#include <errno.h>
#include <string.h>

#include "internal/alloc.h"

namespace vantrel::internal {
namespace {

DHashLink **Slot1(VDHash *table, const void *key) {
  uint32_t hash = table->hash1(key, table->hash1_arg);
  return &DHashSlots(table)[hash % table->buckets];
}

DHashLink **Slot2(VDHash *table, const void *key) {
  uint32_t hash = table->hash2(key, table->hash2_arg);
  return &DHashSlots(table)[table->buckets + hash % table->buckets];
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;
using vi::DHashChain1;
using vi::DHashChain2;
using vi::DHashLink;

void *VDHashAllocWith(VAllocFunc alloc, size_t size) {
  if (alloc == nullptr || size > SIZE_MAX - sizeof(DHashLink)) return nullptr;
  auto *link = static_cast<DHashLink *>(alloc(size + sizeof(DHashLink)));
  if (link == nullptr) return nullptr;
  memset(link, 0, sizeof(*link));
  return vi::DHashItemOf(link);
}

void *VDHashAlloc(size_t size) { return VDHashAllocWith(vi::Malloc, size); }

void VDHashFreeWith(void *item, VReleaseFunc release) {
  if (item != nullptr && release != nullptr) release(vi::DHashLinkOf(item));
}

void VDHashFree(void *item) { VDHashFreeWith(item, vi::Free); }

VDHash *VDHashCreateWith(VAllocFunc alloc, uint32_t buckets, VHashFunc hash1,
                         void *hash1_arg, VCompareFunc compare1, void *cmp1_arg,
                         VHashFunc hash2, void *hash2_arg,
                         VCompareFunc compare2, void *cmp2_arg) {
  if (alloc == nullptr || hash1 == nullptr || compare1 == nullptr ||
      hash2 == nullptr || compare2 == nullptr) {
    return nullptr;
  }
  size_t size = vi::RecordSize(sizeof(VDHash), 2 * uint64_t{buckets});
  if (buckets == 0 || size == 0) return nullptr;
  auto *table = static_cast<VDHash *>(alloc(size));
  if (table == nullptr) return nullptr;
  memset(table, 0, size);
  *table = VDHash{buckets,  0,     hash1,     hash1_arg, compare1,
                  cmp1_arg, hash2, hash2_arg, compare2,  cmp2_arg};
  return table;
}

void VDHashInsert(VDHash *table, void *item) {
  if (table == nullptr || item == nullptr) return;
  DHashLink *link = vi::DHashLinkOf(item);
  DHashChain1::PushFront(vi::Slot1(table, item), link);
  DHashChain2::PushFront(vi::Slot2(table, item), link);
  ++table->count;
}

void VDHashDelete(VDHash *table, void *item) {
  if (table == nullptr || item == nullptr) return;
  DHashLink *link = vi::DHashLinkOf(item);
  DHashChain1::Unlink(link);
  DHashChain2::Unlink(link);
  --table->count;
}

void *VDHashFind1(VDHash *table, const void *key) {
  if (table == nullptr) return nullptr;
  return DHashChain1::Find(*vi::Slot1(table, key), key, table->compare1,
                           table->cmp1_arg);
}

void *VDHashFind2(VDHash *table, const void *key) {
  if (table == nullptr) return nullptr;
  return DHashChain2::Find(*vi::Slot2(table, key), key, table->compare2,
                           table->cmp2_arg);
}

void *VDHashNext1(VDHash *table, void *item) {
  if (table == nullptr || item == nullptr) return nullptr;
  return DHashChain1::Find(vi::DHashLinkOf(item)->next1, item, table->compare1,
                           table->cmp1_arg);
}

void *VDHashNext2(VDHash *table, void *item) {
  if (table == nullptr || item == nullptr) return nullptr;
  return DHashChain2::Find(vi::DHashLinkOf(item)->next2, item, table->compare2,
                           table->cmp2_arg);
}

uint32_t VDHashNumItems(VDHash *table) {
  return table != nullptr ? table->count : 0;
}

// Every item sits in exactly one key-1 chain, so draining those alone
// visits each once; the key-2 heads are cleared afterwards.
void VDHashFlush(VDHash *table, VVisitFunc visitor, void *arg) {
  if (table == nullptr) return;
  DHashLink **slots = vi::DHashSlots(table);
  DHashChain1::Drain(slots, table->buckets, [=](void *item) {
    if (visitor != nullptr) visitor(item, arg);
  });
  memset(slots + table->buckets, 0, size_t{table->buckets} * sizeof(*slots));
  table->count = 0;
}

void VDHashDestroyWith(VDHash *table, VVisitFunc visitor, void *arg,
                       VReleaseFunc release) {
  if (table == nullptr || release == nullptr) return;
  VDHashFlush(table, visitor, arg);
  release(table);
}

// The visitor's result only ends the walk; the walk itself returns 0.
int VDHashWalk(VDHash *table, VVisitFunc visitor, void *arg, int sorted,
               VCompareFunc order, void *order_arg) {
  if (table == nullptr || visitor == nullptr) return EINVAL;
  DHashLink **slots = vi::DHashSlots(table);
  if (sorted == 0) {
    DHashChain1::Walk(slots, table->buckets,
                      [=](void *item) { return visitor(item, arg); });
    return 0;
  }
  if (order == nullptr) {
    order = table->compare1;
    order_arg = table->cmp1_arg;
  }
  int ignored = 0;
  return DHashChain1::WalkSorted(slots, table->buckets, table->count, order,
                                 order_arg, visitor, arg, &ignored);
}

VDHashCursor *VDHashCursorOpen(VDHash *table) {
  if (table == nullptr) return nullptr;
  auto *cursor = static_cast<VDHashCursor *>(vi::Malloc(sizeof(VDHashCursor)));
  if (cursor == nullptr) return nullptr;
  cursor->table = table;
  DHashChain1::CursorStart(cursor, vi::DHashSlots(table));
  return cursor;
}

void *VDHashCursorNext(VDHashCursor *cursor) {
  if (cursor == nullptr) return nullptr;
  VDHash *table = cursor->table;
  return DHashChain1::CursorNext(cursor, vi::DHashSlots(table), table->buckets);
}

void VDHashCursorClose(VDHashCursor *cursor) { vi::Free(cursor); }
