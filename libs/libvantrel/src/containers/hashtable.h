// Layout of the hash table record, its cursor and the link header in front
// of every item.
#ifndef VANTREL_CONTAINERS_HASHTABLE_H
#define VANTREL_CONTAINERS_HASHTABLE_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "containers/chain.h"
#include "vantrel/vhash.h"

namespace vantrel::internal {

// Hidden header in front of the caller's bytes.  `back` points at whatever
// points at this header (a bucket slot or the previous header's `next`),
// which makes unlinking constant time without a doubly linked chain.
struct HashLink {
  HashLink *next;
  HashLink **back;
};

static_assert(std::is_standard_layout_v<HashLink>);
static_assert(offsetof(HashLink, next) == 0);
static_assert(offsetof(HashLink, back) == sizeof(void *));
static_assert(sizeof(HashLink) == 2 * sizeof(void *));

inline HashLink *HashLinkOf(const void *item) {
  return static_cast<HashLink *>(const_cast<void *>(item)) - 1;
}

inline void *HashItemOf(HashLink *link) { return link + 1; }

// The table's chains.
using HashChain = Chain<HashLink, &HashLink::next, &HashLink::back>;

}  // namespace vantrel::internal

// The record behind the opaque VHash handle.  The bucket slots follow the
// record in the same block (see HashSlots), zeroed at creation.
struct VHash {
  uint32_t buckets;
  uint32_t count;
  VHashFunc hash;
  void *hash_arg;
  VCompareFunc compare;
  void *cmp_arg;
};

static_assert(std::is_standard_layout_v<VHash>);
static_assert(offsetof(VHash, buckets) == 0);
static_assert(offsetof(VHash, count) == 4);
static_assert(offsetof(VHash, hash) == 8);
static_assert(offsetof(VHash, hash_arg) == 8 + sizeof(void *));
static_assert(offsetof(VHash, compare) == 8 + 2 * sizeof(void *));
static_assert(offsetof(VHash, cmp_arg) == 8 + 3 * sizeof(void *));
static_assert(sizeof(VHash) == 8 + 4 * sizeof(void *));
static_assert(sizeof(VHash) % alignof(void *) == 0);

// Cursor: `next` is remembered before an item is handed out, so the caller
// may delete and free that item before the next step.  `bucket` is the
// index of the chain being walked, kept as a signed 32-bit field but read
// as unsigned so that every bucket count works.
struct VHashCursor {
  VHash *table;
  vantrel::internal::HashLink *current;
  vantrel::internal::HashLink *next;
  int32_t bucket;
};

static_assert(std::is_standard_layout_v<VHashCursor>);
static_assert(offsetof(VHashCursor, table) == 0);
static_assert(offsetof(VHashCursor, current) == sizeof(void *));
static_assert(offsetof(VHashCursor, next) == 2 * sizeof(void *));
static_assert(offsetof(VHashCursor, bucket) == 3 * sizeof(void *));

namespace vantrel::internal {

// The chain heads stored right behind the record.
inline HashLink **HashSlots(VHash *table) {
  return reinterpret_cast<HashLink **>(table + 1);
}

}  // namespace vantrel::internal

#endif  // VANTREL_CONTAINERS_HASHTABLE_H
