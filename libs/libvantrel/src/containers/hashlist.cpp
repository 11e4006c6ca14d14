// Ordered list with a hash index over the same items.
#include "containers/hashlist.h"

#include <string.h>

#include "internal/alloc.h"

namespace vantrel::internal {
namespace {

using Link = HashListLink;
using Order = HashListOrder;

// A link outside the hash list: self-linked in order, in no chain.
void Detach(Link *link) {
  Order::SelfLink(link);
  link->hash_next = nullptr;
  link->hash_back = nullptr;
}

Link **SlotFor(VHashList *hl, const void *item_or_key) {
  return &HashListSlots(hl)[hl->hash(item_or_key, hl->hash_arg) % hl->buckets];
}

// Puts the link into the order between prev and next and at the front of
// its hash chain.
void Attach(VHashList *hl, Link *link, Link *prev, Link *next) {
  Order::LinkBetween(link, prev, next);
  HashListChain::PushFront(SlotFor(hl, Order::ItemOf(link)), link);
  ++hl->count;
}

void Remove(VHashList *hl, Link *link) {
  Order::Unlink(link);
  HashListChain::Unlink(link);
  Detach(link);
  --hl->count;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;
using vi::HashListChain;
using vi::HashListLink;
using Order = vi::HashListOrder;

void *VHashListAllocWith(VAllocFunc alloc, size_t size) {
  if (alloc == nullptr || size > SIZE_MAX - sizeof(HashListLink)) {
    return nullptr;
  }
  auto *link = static_cast<HashListLink *>(alloc(sizeof(HashListLink) + size));
  if (link == nullptr) return nullptr;
  vi::Detach(link);
  return Order::ItemOf(link);
}

void *VHashListAlloc(size_t size) {
  return VHashListAllocWith(vi::Malloc, size);
}

void VHashListFreeWith(void *item, VReleaseFunc release) {
  if (item != nullptr && release != nullptr) release(Order::LinkOf(item));
}

void VHashListFree(void *item) { VHashListFreeWith(item, vi::Free); }

VHashList *VHashListCreateWith(VAllocFunc alloc, uint32_t buckets,
                               VHashFunc hash, void *hash_arg,
                               VCompareFunc compare, void *cmp_arg) {
  if (alloc == nullptr || hash == nullptr || compare == nullptr) return nullptr;
  size_t size = vi::RecordSize(sizeof(VHashList), buckets);
  if (buckets == 0 || size == 0) return nullptr;
  auto *hl = static_cast<VHashList *>(alloc(size));
  if (hl == nullptr) return nullptr;
  hl->buckets = buckets;
  hl->hash = hash;
  hl->hash_arg = hash_arg;
  hl->compare = compare;
  hl->cmp_arg = cmp_arg;
  vi::Detach(&hl->head_sentinel);
  vi::Detach(&hl->tail_sentinel);
  Order::Reset(hl);
  memset(vi::HashListSlots(hl), 0, size_t{buckets} * sizeof(HashListLink *));
  return hl;
}

void VHashListFlush(VHashList *hl, VVisitFunc visitor, void *arg) {
  if (hl == nullptr) return;
  Order::Drain(hl, [=](HashListLink *link) {
    vi::Detach(link);
    if (visitor != nullptr) visitor(Order::ItemOf(link), arg);
  });
  memset(vi::HashListSlots(hl), 0,
         size_t{hl->buckets} * sizeof(HashListLink *));
}

void VHashListDestroyWith(VHashList *hl, VVisitFunc visitor, void *arg,
                          VReleaseFunc release) {
  if (hl == nullptr || release == nullptr) return;
  VHashListFlush(hl, visitor, arg);
  release(hl);
}

void VHashListInsertAfter(VHashList *hl, void *item, void *after) {
  if (hl == nullptr || item == nullptr || after == nullptr) return;
  HashListLink *prev = Order::LinkOf(after);
  vi::Attach(hl, Order::LinkOf(item), prev, prev->next);
}

void VHashListInsertBefore(VHashList *hl, void *item, void *before) {
  if (hl == nullptr || item == nullptr || before == nullptr) return;
  HashListLink *next = Order::LinkOf(before);
  vi::Attach(hl, Order::LinkOf(item), next->prev, next);
}

void *VHashListDeleteNext(VHashList *hl, void *item) {
  if (hl == nullptr || item == nullptr) return nullptr;
  HashListLink *victim = Order::LinkOf(item)->next;
  vi::Remove(hl, victim);
  return Order::ItemOf(victim);
}

void VHashListDelete(VHashList *hl, void *item) {
  if (hl == nullptr || item == nullptr) return;
  vi::Remove(hl, Order::LinkOf(item));
}

void *VHashListFirst(VHashList *hl) {
  return hl != nullptr ? Order::NextItem(hl->head) : nullptr;
}

void *VHashListLast(VHashList *hl) {
  return hl != nullptr ? Order::PrevItem(hl->tail) : nullptr;
}

void *VHashListNext(void *item) {
  return item != nullptr ? Order::NextItem(Order::LinkOf(item)) : nullptr;
}

void *VHashListPrev(void *item) {
  return item != nullptr ? Order::PrevItem(Order::LinkOf(item)) : nullptr;
}

void *VHashListHead(VHashList *hl) {
  return hl != nullptr ? Order::Head(hl) : nullptr;
}

void *VHashListTail(VHashList *hl) {
  return hl != nullptr ? Order::Tail(hl) : nullptr;
}

void *VHashListFind(VHashList *hl, const void *key) {
  if (hl == nullptr) return nullptr;
  return HashListChain::Find(*vi::SlotFor(hl, key), key, hl->compare,
                             hl->cmp_arg);
}

void *VHashListNextHash(VHashList *hl, void *item) {
  if (hl == nullptr || item == nullptr) return nullptr;
  return HashListChain::Find(Order::LinkOf(item)->hash_next, item, hl->compare,
                             hl->cmp_arg);
}

uint32_t VHashListNumItems(VHashList *hl) {
  return hl != nullptr ? hl->count : 0;
}
