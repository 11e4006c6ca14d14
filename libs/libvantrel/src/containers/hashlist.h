// Layout of the hash-list record and of the link header in front of every
// item: list links first, then the hash-chain links.
#ifndef VANTREL_CONTAINERS_HASHLIST_H
#define VANTREL_CONTAINERS_HASHLIST_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "containers/chain.h"
#include "containers/ordered_list.h"
#include "vantrel/vhashlist.h"

namespace vantrel::internal {

// A sentinel is recognised by its self-pointer (the head backwards, the tail
// forwards).  hash_back points at whatever points at this header: a bucket
// slot or the previous header's hash_next.
struct HashListLink {
  HashListLink *next;
  HashListLink *prev;
  HashListLink *hash_next;
  HashListLink **hash_back;
};

static_assert(std::is_standard_layout_v<HashListLink>);
static_assert(offsetof(HashListLink, next) == 0);
static_assert(offsetof(HashListLink, prev) == sizeof(void *));
static_assert(offsetof(HashListLink, hash_next) == 2 * sizeof(void *));
static_assert(offsetof(HashListLink, hash_back) == 3 * sizeof(void *));
static_assert(sizeof(HashListLink) == 4 * sizeof(void *));

// The list order and the hash chains through the same headers.
using HashListOrder = OrderedList<HashListLink>;
using HashListChain =
    Chain<HashListLink, &HashListLink::hash_next, &HashListLink::hash_back>;

}  // namespace vantrel::internal

// The record behind the opaque VHashList handle.  The bucket slots follow it
// in the same block (see HashListSlots).
struct VHashList {
  uint32_t count;
  vantrel::internal::HashListLink *head;
  vantrel::internal::HashListLink *tail;
  vantrel::internal::HashListLink head_sentinel;
  vantrel::internal::HashListLink tail_sentinel;
  uint32_t buckets;
  VHashFunc hash;
  void *hash_arg;
  VCompareFunc compare;
  void *cmp_arg;
};

static_assert(std::is_standard_layout_v<VHashList>);
static_assert(offsetof(VHashList, count) == 0);
static_assert(offsetof(VHashList, head) == sizeof(void *));
static_assert(offsetof(VHashList, tail) == 2 * sizeof(void *));
static_assert(offsetof(VHashList, head_sentinel) == 3 * sizeof(void *));
static_assert(offsetof(VHashList, tail_sentinel) == 7 * sizeof(void *));
static_assert(offsetof(VHashList, buckets) == 11 * sizeof(void *));
static_assert(offsetof(VHashList, hash) == 12 * sizeof(void *));
static_assert(offsetof(VHashList, hash_arg) == 13 * sizeof(void *));
static_assert(offsetof(VHashList, compare) == 14 * sizeof(void *));
static_assert(offsetof(VHashList, cmp_arg) == 15 * sizeof(void *));
static_assert(sizeof(VHashList) == 16 * sizeof(void *));

namespace vantrel::internal {

// The bucket slots start right behind the record.
inline HashListLink **HashListSlots(VHashList *hl) {
  return reinterpret_cast<HashListLink **>(hl + 1);
}

}  // namespace vantrel::internal

#endif  // VANTREL_CONTAINERS_HASHLIST_H
