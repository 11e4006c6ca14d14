// Ordered list with a hash index over the same items.
#include "containers/hashlist.h"

#include <string.h>

#include "internal/alloc.h"

namespace vantrel::internal {
namespace {

using Link = HashListLink;

bool IsTailSentinel(const Link *link) { return link->next == link; }
bool IsHeadSentinel(const Link *link) { return link->prev == link; }

// A link outside the hash list: self-linked in order, in no chain.
void Detach(Link *link) {
  link->next = link->prev = link;
  link->hash_next = nullptr;
  link->hash_back = nullptr;
}

void Reset(VHashList *hl) {
  hl->count = 0;
  hl->head = &hl->head_sentinel;
  hl->tail = &hl->tail_sentinel;
  Detach(hl->head);
  Detach(hl->tail);
  hl->head->next = hl->tail;
  hl->tail->prev = hl->head;
  memset(HashListSlots(hl), 0, hl->buckets * sizeof(Link *));
}

Link *&SlotFor(VHashList *hl, const void *item_or_key) {
  return HashListSlots(hl)[hl->hash(item_or_key, hl->hash_arg) % hl->buckets];
}

// Puts the link into the order between prev and next and at the front of
// its hash chain.
void Attach(VHashList *hl, Link *link, Link *prev, Link *next) {
  link->prev = prev;
  link->next = next;
  prev->next = link;
  next->prev = link;
  Link *&slot = SlotFor(hl, HashListItemOf(link));
  link->hash_next = slot;
  if (slot != nullptr) slot->hash_back = &link->hash_next;
  slot = link;
  link->hash_back = &slot;
  ++hl->count;
}

void Unlink(VHashList *hl, Link *link) {
  link->prev->next = link->next;
  link->next->prev = link->prev;
  *link->hash_back = link->hash_next;
  if (link->hash_next != nullptr) link->hash_next->hash_back = link->hash_back;
  Detach(link);
  --hl->count;
}

// First item from `link` on along its chain with compare(key, item) == 0.
void *FindInChain(const VHashList *hl, Link *link, const void *key) {
  for (; link != nullptr; link = link->hash_next) {
    void *item = HashListItemOf(link);
    if (hl->compare(key, item, hl->cmp_arg) == 0) return item;
  }
  return nullptr;
}

}  // namespace

void *HashListAllocWith(VAllocFunc alloc, size_t size) {
  if (size > SIZE_MAX - sizeof(Link)) return nullptr;
  auto *link = static_cast<Link *>(alloc(sizeof(Link) + size));
  if (link == nullptr) return nullptr;
  Detach(link);
  return HashListItemOf(link);
}

VHashList *HashListCreateWith(VAllocFunc alloc, uint32_t buckets,
                              VHashFunc hash, void *hash_arg,
                              VCompareFunc compare, void *cmp_arg) {
  if (buckets == 0) return nullptr;
  if (size_t{buckets} > (SIZE_MAX - sizeof(VHashList)) / sizeof(Link *))
    return nullptr;
  auto *hl = static_cast<VHashList *>(
      alloc(sizeof(VHashList) + buckets * sizeof(Link *)));
  if (hl == nullptr) return nullptr;
  hl->buckets = buckets;
  hl->hash = hash;
  hl->hash_arg = hash_arg;
  hl->compare = compare;
  hl->cmp_arg = cmp_arg;
  Reset(hl);
  return hl;
}

void HashListFlush(VHashList *hl, VVisitFunc visitor, void *arg) {
  Link *link = hl->head->next;
  while (link != hl->tail) {
    Link *next = link->next;
    Detach(link);
    if (visitor != nullptr) visitor(HashListItemOf(link), arg);
    link = next;
  }
  Reset(hl);
}

void HashListInsertAfter(VHashList *hl, void *item, void *after) {
  Link *prev = HashListLinkOf(after);
  Attach(hl, HashListLinkOf(item), prev, prev->next);
}

void HashListInsertBefore(VHashList *hl, void *item, void *before) {
  Link *next = HashListLinkOf(before);
  Attach(hl, HashListLinkOf(item), next->prev, next);
}

void *HashListDeleteNext(VHashList *hl, void *item) {
  Link *victim = HashListLinkOf(item)->next;
  Unlink(hl, victim);
  return HashListItemOf(victim);
}

void HashListDelete(VHashList *hl, void *item) {
  Unlink(hl, HashListLinkOf(item));
}

void *HashListNext(void *item) {
  Link *next = HashListLinkOf(item)->next;
  return IsTailSentinel(next) ? nullptr : HashListItemOf(next);
}

void *HashListPrev(void *item) {
  Link *prev = HashListLinkOf(item)->prev;
  return IsHeadSentinel(prev) ? nullptr : HashListItemOf(prev);
}

void *HashListFind(VHashList *hl, const void *key) {
  return FindInChain(hl, SlotFor(hl, key), key);
}

void *HashListNextHash(VHashList *hl, void *item) {
  return FindInChain(hl, HashListLinkOf(item)->hash_next, item);
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

extern "C" {

VANTREL_API void *VHashListAllocWith(VAllocFunc alloc, size_t size) {
  return vi::HashListAllocWith(alloc, size);
}

VANTREL_API void *VHashListAlloc(size_t size) {
  return vi::HashListAllocWith(vi::Malloc, size);
}

VANTREL_API void VHashListFreeWith(void *item, VReleaseFunc release) {
  release(vi::HashListLinkOf(item));
}

VANTREL_API void VHashListFree(void *item) {
  vi::Free(vi::HashListLinkOf(item));
}

VANTREL_API VHashList *VHashListCreateWith(VAllocFunc alloc, uint32_t buckets,
                                           VHashFunc hash, void *hash_arg,
                                           VCompareFunc compare,
                                           void *cmp_arg) {
  return vi::HashListCreateWith(alloc, buckets, hash, hash_arg, compare,
                                cmp_arg);
}

VANTREL_API void VHashListFlush(VHashList *hl, VVisitFunc visitor, void *arg) {
  vi::HashListFlush(hl, visitor, arg);
}

VANTREL_API void VHashListDestroyWith(VHashList *hl, VVisitFunc visitor,
                                      void *arg, VReleaseFunc release) {
  vi::HashListFlush(hl, visitor, arg);
  release(hl);
}

VANTREL_API void VHashListInsertAfter(VHashList *hl, void *item, void *after) {
  vi::HashListInsertAfter(hl, item, after);
}

VANTREL_API void VHashListInsertBefore(VHashList *hl, void *item,
                                       void *before) {
  vi::HashListInsertBefore(hl, item, before);
}

VANTREL_API void *VHashListDeleteNext(VHashList *hl, void *item) {
  return vi::HashListDeleteNext(hl, item);
}

VANTREL_API void VHashListDelete(VHashList *hl, void *item) {
  vi::HashListDelete(hl, item);
}

VANTREL_API void *VHashListFirst(VHashList *hl) {
  return vi::HashListNext(vi::HashListItemOf(hl->head));
}

VANTREL_API void *VHashListLast(VHashList *hl) {
  return vi::HashListPrev(vi::HashListItemOf(hl->tail));
}

VANTREL_API void *VHashListNext(void *item) { return vi::HashListNext(item); }

VANTREL_API void *VHashListPrev(void *item) { return vi::HashListPrev(item); }

VANTREL_API void *VHashListHead(VHashList *hl) {
  return vi::HashListItemOf(hl->head);
}

VANTREL_API void *VHashListTail(VHashList *hl) {
  return vi::HashListItemOf(hl->tail->prev);
}

VANTREL_API void *VHashListFind(VHashList *hl, const void *key) {
  return vi::HashListFind(hl, key);
}

VANTREL_API void *VHashListNextHash(VHashList *hl, void *item) {
  return vi::HashListNextHash(hl, item);
}

VANTREL_API uint32_t VHashListNumItems(VHashList *hl) { return hl->count; }

}  // extern "C"
