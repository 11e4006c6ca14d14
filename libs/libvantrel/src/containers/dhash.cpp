// Intrusive hash table that files every item under two keys at once: one
// link header, two chains.
#include "containers/dhash.h"

#include <errno.h>
#include <string.h>

#include "containers/hashtable.h"
#include "internal/alloc.h"

namespace vantrel::internal {
namespace {

// One key's links inside the shared header.
struct KeyLinks {
  DHashLink *DHashLink::*next;
  DHashLink **DHashLink::*back;
};

constexpr KeyLinks kKey1{&DHashLink::next1, &DHashLink::back1};
constexpr KeyLinks kKey2{&DHashLink::next2, &DHashLink::back2};

void PushFront(DHashLink **slot, DHashLink *link, KeyLinks key) {
  DHashLink *head = *slot;
  link->*key.next = head;
  if (head != nullptr) head->*key.back = &(link->*key.next);
  link->*key.back = slot;
  *slot = link;
}

void Unlink(DHashLink *link, KeyLinks key) {
  DHashLink *next = link->*key.next;
  *(link->*key.back) = next;
  if (next != nullptr) next->*key.back = link->*key.back;
}

// First item from `link` on along one key's chain that matches `key`.
void *Scan(DHashLink *link, const void *key, VCompareFunc compare, void *arg,
           KeyLinks links) {
  for (; link != nullptr; link = link->*links.next) {
    void *item = DHashItemOf(link);
    if (compare(key, item, arg) == 0) return item;
  }
  return nullptr;
}

DHashLink **Slot1(VDHash *table, const void *key) {
  uint32_t hash = table->hash1(key, table->hash1_arg);
  return &DHashSlots(table)[hash % table->buckets];
}

DHashLink **Slot2(VDHash *table, const void *key) {
  uint32_t hash = table->hash2(key, table->hash2_arg);
  return &DHashSlots(table)[table->buckets + hash % table->buckets];
}

// Unsorted walk over the key-1 chains until the visitor returns non-zero.
void VisitChains(VDHash *table, VVisitFunc visitor, void *arg) {
  DHashLink **slots = DHashSlots(table);
  for (uint32_t b = 0; b < table->buckets; ++b) {
    for (DHashLink *link = slots[b]; link != nullptr;) {
      DHashLink *next = link->next1;
      if (visitor(DHashItemOf(link), arg) != 0) return;
      link = next;
    }
  }
}

int WalkSorted(VDHash *table, VVisitFunc visitor, void *arg, VCompareFunc order,
               void *order_arg) {
  size_t size = RecordSize(0, table->count);
  void **items = size != 0 ? static_cast<void **>(Malloc(size)) : nullptr;
  if (items == nullptr) return ENOMEM;
  void **fill = items;
  DHashLink **slots = DHashSlots(table);
  for (uint32_t b = 0; b < table->buckets; ++b) {
    for (DHashLink *link = slots[b]; link != nullptr; link = link->next1) {
      *fill++ = DHashItemOf(link);
    }
  }
  if (order == nullptr) {
    order = table->compare1;
    order_arg = table->cmp1_arg;
  }
  VisitSorted(items, table->count, order, order_arg, visitor, arg);
  Free(items);
  return 0;
}

// Head of the next non-empty key-1 chain after the cursor's, or null.
DHashLink *NextChain(VDHashCursor *cursor) {
  DHashLink **slots = DHashSlots(cursor->table);
  uint32_t b = static_cast<uint32_t>(cursor->bucket);
  while (b + 1 < cursor->table->buckets) {
    ++b;
    cursor->bucket = static_cast<int32_t>(b);
    if (slots[b] != nullptr) return slots[b];
  }
  return nullptr;
}

}  // namespace

void *DHashAlloc(VAllocFunc alloc, size_t size) {
  if (size > SIZE_MAX - sizeof(DHashLink)) return nullptr;
  DHashLink *link = static_cast<DHashLink *>(alloc(size + sizeof(DHashLink)));
  if (link == nullptr) return nullptr;
  memset(link, 0, sizeof(*link));
  return DHashItemOf(link);
}

VDHash *DHashCreate(VAllocFunc alloc, uint32_t buckets, const VDHash &setup) {
  size_t size = RecordSize(sizeof(VDHash), 2 * uint64_t{buckets});
  if (buckets == 0 || size == 0) return nullptr;
  VDHash *table = static_cast<VDHash *>(alloc(size));
  if (table == nullptr) return nullptr;
  memset(table, 0, size);
  *table = setup;
  table->buckets = buckets;
  table->count = 0;
  return table;
}

void DHashInsert(VDHash *table, void *item) {
  DHashLink *link = DHashLinkOf(item);
  PushFront(Slot1(table, item), link, kKey1);
  PushFront(Slot2(table, item), link, kKey2);
  ++table->count;
}

void DHashDelete(VDHash *table, void *item) {
  DHashLink *link = DHashLinkOf(item);
  Unlink(link, kKey1);
  Unlink(link, kKey2);
  --table->count;
}

void *DHashFind1(VDHash *table, const void *key) {
  return Scan(*Slot1(table, key), key, table->compare1, table->cmp1_arg, kKey1);
}

void *DHashFind2(VDHash *table, const void *key) {
  return Scan(*Slot2(table, key), key, table->compare2, table->cmp2_arg, kKey2);
}

void *DHashNext1(VDHash *table, void *item) {
  return Scan(DHashLinkOf(item)->next1, item, table->compare1, table->cmp1_arg,
              kKey1);
}

void *DHashNext2(VDHash *table, void *item) {
  return Scan(DHashLinkOf(item)->next2, item, table->compare2, table->cmp2_arg,
              kKey2);
}

void DHashFlush(VDHash *table, VVisitFunc visitor, void *arg) {
  DHashLink **slots = DHashSlots(table);
  // Every item sits in exactly one key-1 chain, so walking those alone
  // visits each once.
  for (uint32_t b = 0; b < table->buckets; ++b) {
    for (DHashLink *link = slots[b]; link != nullptr;) {
      DHashLink *next = link->next1;
      visitor(DHashItemOf(link), arg);
      link = next;
    }
  }
  memset(slots, 0, 2 * size_t{table->buckets} * sizeof(*slots));
  table->count = 0;
}

int DHashWalk(VDHash *table, VVisitFunc visitor, void *arg, int sorted,
              VCompareFunc order, void *order_arg) {
  if (table->count == 0) return 0;
  if (sorted != 0) return WalkSorted(table, visitor, arg, order, order_arg);
  VisitChains(table, visitor, arg);
  return 0;
}

VDHashCursor *DHashCursorOpen(VDHash *table) {
  VDHashCursor *cursor = static_cast<VDHashCursor *>(Malloc(sizeof(*cursor)));
  if (cursor == nullptr) return nullptr;
  cursor->table = table;
  cursor->current = nullptr;
  cursor->next = DHashSlots(table)[0];
  cursor->bucket = 0;
  return cursor;
}

void *DHashCursorNext(VDHashCursor *cursor) {
  DHashLink *link = cursor->next != nullptr ? cursor->next : NextChain(cursor);
  cursor->current = link;
  if (link == nullptr) return nullptr;
  cursor->next = link->next1;
  return DHashItemOf(link);
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

extern "C" {

VANTREL_API void *VDHashAllocWith(VAllocFunc alloc, size_t size) {
  return vi::DHashAlloc(alloc, size);
}

VANTREL_API void *VDHashAlloc(size_t size) {
  return vi::DHashAlloc(vi::Malloc, size);
}

VANTREL_API void VDHashFreeWith(void *item, VReleaseFunc release) {
  if (item != nullptr) release(vi::DHashLinkOf(item));
}

VANTREL_API void VDHashFree(void *item) { VDHashFreeWith(item, vi::Free); }

VANTREL_API VDHash *VDHashCreateWith(VAllocFunc alloc, uint32_t buckets,
                                     VHashFunc hash1, void *hash1_arg,
                                     VCompareFunc compare1, void *cmp1_arg,
                                     VHashFunc hash2, void *hash2_arg,
                                     VCompareFunc compare2, void *cmp2_arg) {
  VDHash setup{0,        0,     hash1,     hash1_arg, compare1,
               cmp1_arg, hash2, hash2_arg, compare2,  cmp2_arg};
  return vi::DHashCreate(alloc, buckets, setup);
}

VANTREL_API void VDHashInsert(VDHash *table, void *item) {
  vi::DHashInsert(table, item);
}

VANTREL_API void VDHashDelete(VDHash *table, void *item) {
  vi::DHashDelete(table, item);
}

VANTREL_API void *VDHashFind1(VDHash *table, const void *key) {
  return vi::DHashFind1(table, key);
}

VANTREL_API void *VDHashFind2(VDHash *table, const void *key) {
  return vi::DHashFind2(table, key);
}

VANTREL_API void *VDHashNext1(VDHash *table, void *item) {
  return vi::DHashNext1(table, item);
}

VANTREL_API void *VDHashNext2(VDHash *table, void *item) {
  return vi::DHashNext2(table, item);
}

VANTREL_API uint32_t VDHashNumItems(VDHash *table) { return table->count; }

VANTREL_API void VDHashFlush(VDHash *table, VVisitFunc visitor, void *arg) {
  vi::DHashFlush(table, visitor, arg);
}

VANTREL_API void VDHashDestroyWith(VDHash *table, VVisitFunc visitor, void *arg,
                                   VReleaseFunc release) {
  vi::DHashFlush(table, visitor, arg);
  release(table);
}

VANTREL_API int VDHashWalk(VDHash *table, VVisitFunc visitor, void *arg,
                           int sorted, VCompareFunc order, void *order_arg) {
  return vi::DHashWalk(table, visitor, arg, sorted, order, order_arg);
}

VANTREL_API VDHashCursor *VDHashCursorOpen(VDHash *table) {
  return vi::DHashCursorOpen(table);
}

VANTREL_API void *VDHashCursorNext(VDHashCursor *cursor) {
  return vi::DHashCursorNext(cursor);
}

VANTREL_API void VDHashCursorClose(VDHashCursor *cursor) { vi::Free(cursor); }

}  // extern "C"
