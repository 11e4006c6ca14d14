// Layout of the two-key hash table record, its cursor and the link header
// that files every item in one chain per key.
#ifndef VANTREL_CONTAINERS_DHASH_H
#define VANTREL_CONTAINERS_DHASH_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "containers/chain.h"
#include "vantrel/vdhash.h"

namespace vantrel::internal {

// Hidden header in front of the caller's bytes: a next link and a back
// link (pointing at whatever points at this header) for each key's chain.
struct DHashLink {
  DHashLink *next1;
  DHashLink **back1;
  DHashLink *next2;
  DHashLink **back2;
};

static_assert(std::is_standard_layout_v<DHashLink>);
static_assert(offsetof(DHashLink, next1) == 0);
static_assert(offsetof(DHashLink, back1) == sizeof(void *));
static_assert(offsetof(DHashLink, next2) == 2 * sizeof(void *));
static_assert(offsetof(DHashLink, back2) == 3 * sizeof(void *));
static_assert(sizeof(DHashLink) == 4 * sizeof(void *));

inline DHashLink *DHashLinkOf(const void *item) {
  return static_cast<DHashLink *>(const_cast<void *>(item)) - 1;
}

inline void *DHashItemOf(DHashLink *link) { return link + 1; }

// The key-1 and the key-2 chains through the same headers.
using DHashChain1 = Chain<DHashLink, &DHashLink::next1, &DHashLink::back1>;
using DHashChain2 = Chain<DHashLink, &DHashLink::next2, &DHashLink::back2>;

}  // namespace vantrel::internal

// The record behind the opaque VDHash handle.  2 x buckets chain heads
// follow it in the same block (see DHashSlots): first the key-1 chains,
// then the key-2 chains.
struct VDHash {
  uint32_t buckets;
  uint32_t count;
  VHashFunc hash1;
  void *hash1_arg;
  VCompareFunc compare1;
  void *cmp1_arg;
  VHashFunc hash2;
  void *hash2_arg;
  VCompareFunc compare2;
  void *cmp2_arg;
};

static_assert(std::is_standard_layout_v<VDHash>);
static_assert(offsetof(VDHash, buckets) == 0);
static_assert(offsetof(VDHash, count) == 4);
static_assert(offsetof(VDHash, hash1) == 8);
static_assert(offsetof(VDHash, hash1_arg) == 8 + sizeof(void *));
static_assert(offsetof(VDHash, compare1) == 8 + 2 * sizeof(void *));
static_assert(offsetof(VDHash, cmp1_arg) == 8 + 3 * sizeof(void *));
static_assert(offsetof(VDHash, hash2) == 8 + 4 * sizeof(void *));
static_assert(offsetof(VDHash, hash2_arg) == 8 + 5 * sizeof(void *));
static_assert(offsetof(VDHash, compare2) == 8 + 6 * sizeof(void *));
static_assert(offsetof(VDHash, cmp2_arg) == 8 + 7 * sizeof(void *));
static_assert(sizeof(VDHash) == 8 + 8 * sizeof(void *));
static_assert(sizeof(VDHash) % alignof(void *) == 0);

// Cursor over the key-1 chains; `next` is remembered before an item is
// handed out so that the caller may delete and free it.  `bucket` is kept
// signed but read as unsigned.
struct VDHashCursor {
  VDHash *table;
  vantrel::internal::DHashLink *current;
  vantrel::internal::DHashLink *next;
  int32_t bucket;
};

static_assert(std::is_standard_layout_v<VDHashCursor>);
static_assert(offsetof(VDHashCursor, table) == 0);
static_assert(offsetof(VDHashCursor, current) == sizeof(void *));
static_assert(offsetof(VDHashCursor, next) == 2 * sizeof(void *));
static_assert(offsetof(VDHashCursor, bucket) == 3 * sizeof(void *));

namespace vantrel::internal {

// The key-1 chain heads; the key-2 heads follow at index buckets.
inline DHashLink **DHashSlots(VDHash *table) {
  return reinterpret_cast<DHashLink **>(table + 1);
}

}  // namespace vantrel::internal

#endif  // VANTREL_CONTAINERS_DHASH_H
