// Intrusive chained hash table with a fixed bucket count, and the string
// hashes that go with it.
#include "containers/hashtable.h"

#include <ctype.h>
#include <errno.h>
#include <string.h>

#include "internal/alloc.h"
#include "vantrel/vsort.h"

namespace vantrel::internal {
namespace {

HashLink **SlotOf(VHash *table, const void *item_or_key) {
  return &HashSlots(
      table)[table->hash(item_or_key, table->hash_arg) % table->buckets];
}

struct SortContext {
  VCompareFunc order;
  void *arg;
};

// The sort array holds item pointers; the order function wants the items.
int CompareItems(const void *a, const void *b, void *context) {
  const SortContext *ctx = static_cast<const SortContext *>(context);
  return ctx->order(*static_cast<void *const *>(a),
                    *static_cast<void *const *>(b), ctx->arg);
}

// One step of the PJW (ELF) hash kept unfolded: instead of the hash h this
// carries x, where h = x ^ ((x >> 24) & 0xf0) with the top nibble cleared.
// Since h << 4 = (x << 4) ^ ((x >> 20) & 0xf00), the fold of one step
// overlaps the shift of the next, and the top nibble of x never needs
// clearing on the way: the next shift pushes it out.
inline uint32_t ElfStep(uint32_t x, uint32_t c) {
  return ((x << 4) ^ ((x >> 20) & 0xf00)) + c;
}

// Two steps at once.  The second step folds the top nibble of the first
// step's result, which is bits 24-27 of x unless adding the byte c1 carries
// into bit 28; that needs bits 8-23 of x all set, and then the steps run
// one by one.  The short path is two operations shorter on the dependency
// chain than two single steps, which is what a lookup waits for.
inline uint32_t ElfStep2(uint32_t x, uint32_t c1, uint32_t c2) {
  if ((x & 0x00ffff00) == 0x00ffff00) return ElfStep(ElfStep(x, c1), c2);
  uint32_t y = ((x << 8) ^ ((x >> 16) & 0xf000)) + (c1 << 4);
  return (y ^ ((x >> 16) & 0xf00)) + c2;
}

// PJW (ELF) hash with each byte passed through `map` first.  Six bytes fit
// in 28 bits, so up to there nothing folds at all.
template <typename Map>
inline uint32_t ElfHash(const void *text, Map map) {
  const unsigned char *p = static_cast<const unsigned char *>(text);
  uint32_t x = 0;
  for (const unsigned char *end = p + 6; p != end; ++p) {
    if (*p == 0) return x;
    x = (x << 4) + map(*p);
  }
  for (; p[0] != 0; p += 2) {
    if (p[1] == 0) {
      x = ElfStep(x, map(p[0]));
      break;
    }
    x = ElfStep2(x, map(p[0]), map(p[1]));
  }
  return (x ^ ((x >> 24) & 0xf0)) & 0x0fffffff;
}

}  // namespace

int VisitSorted(void **items, uint32_t count, VCompareFunc order,
                void *order_arg, VVisitFunc visitor, void *arg) {
  SortContext context{order, order_arg};
  v_qsort(items, count, sizeof(void *), CompareItems, &context);
  int result = 0;
  for (uint32_t i = 0; i < count && result == 0; ++i) {
    result = visitor(items[i], arg);
  }
  return result;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;
using vi::HashChain;
using vi::HashLink;

void *VHashAllocWith(VAllocFunc alloc, size_t size) {
  if (alloc == nullptr || size > SIZE_MAX - sizeof(HashLink)) return nullptr;
  auto *link = static_cast<HashLink *>(alloc(size + sizeof(HashLink)));
  if (link == nullptr) return nullptr;
  link->next = nullptr;
  link->back = nullptr;
  return vi::HashItemOf(link);
}

void *VHashAlloc(size_t size) { return VHashAllocWith(vi::Malloc, size); }

void *VHashIncrAlloc(VIncrAllocator *allocator, size_t size) {
  if (size > SIZE_MAX - sizeof(HashLink)) return nullptr;
  // The arena's pieces come zero-filled, so the links start out null.
  void *block = VIncrAllocatorAlloc(allocator, size + sizeof(HashLink));
  if (block == nullptr) return nullptr;
  return vi::HashItemOf(static_cast<HashLink *>(block));
}

void VHashFreeWith(void *item, VReleaseFunc release) {
  if (item != nullptr && release != nullptr) release(vi::HashLinkOf(item));
}

void VHashFree(void *item) { VHashFreeWith(item, vi::Free); }

VHash *VHashCreateWith(VAllocFunc alloc, uint32_t buckets, VHashFunc hash,
                       void *hash_arg, VCompareFunc compare, void *cmp_arg) {
  if (alloc == nullptr || hash == nullptr || compare == nullptr) return nullptr;
  size_t size = vi::RecordSize(sizeof(VHash), buckets);
  if (buckets == 0 || size == 0) return nullptr;
  auto *table = static_cast<VHash *>(alloc(size));
  if (table == nullptr) return nullptr;
  memset(table, 0, size);
  table->buckets = buckets;
  table->hash = hash;
  table->hash_arg = hash_arg;
  table->compare = compare;
  table->cmp_arg = cmp_arg;
  return table;
}

void VHashInsert(VHash *table, void *item) {
  if (table == nullptr || item == nullptr) return;
  HashChain::PushFront(vi::SlotOf(table, item), vi::HashLinkOf(item));
  ++table->count;
}

void *VHashFind(VHash *table, const void *key) {
  if (table == nullptr) return nullptr;
  return HashChain::Find(*vi::SlotOf(table, key), key, table->compare,
                         table->cmp_arg);
}

void *VHashNext(VHash *table, void *item) {
  if (table == nullptr || item == nullptr) return nullptr;
  return HashChain::Find(vi::HashLinkOf(item)->next, item, table->compare,
                         table->cmp_arg);
}

void VHashDelete(VHash *table, void *item) {
  if (table == nullptr || item == nullptr) return;
  HashChain::Unlink(vi::HashLinkOf(item));
  --table->count;
}

uint32_t VHashNumItems(VHash *table) {
  return table != nullptr ? table->count : 0;
}

void VHashFlush(VHash *table, VVisitFunc visitor, void *arg) {
  if (table == nullptr) return;
  HashChain::Drain(vi::HashSlots(table), table->buckets, [=](void *item) {
    if (visitor != nullptr) visitor(item, arg);
  });
  table->count = 0;
}

void VHashDestroyWith(VHash *table, VVisitFunc visitor, void *arg,
                      VReleaseFunc release) {
  if (table == nullptr || release == nullptr) return;
  VHashFlush(table, visitor, arg);
  release(table);
}

int VHashWalk(VHash *table, VVisitFunc visitor, void *arg, int sorted,
              VCompareFunc order) {
  if (table == nullptr || visitor == nullptr) return EINVAL;
  HashLink **slots = vi::HashSlots(table);
  if (sorted != 0) {
    int result = 0;
    int rc = HashChain::WalkSorted(slots, table->buckets, table->count,
                                   order != nullptr ? order : table->compare,
                                   table->cmp_arg, visitor, arg, &result);
    return rc != 0 ? rc : result;
  }
  return HashChain::Walk(slots, table->buckets,
                         [=](void *item) { return visitor(item, arg); });
}

VHashCursor *VHashCursorOpen(VHash *table) {
  if (table == nullptr) return nullptr;
  auto *cursor = static_cast<VHashCursor *>(vi::Malloc(sizeof(VHashCursor)));
  if (cursor == nullptr) return nullptr;
  cursor->table = table;
  HashChain::CursorStart(cursor, vi::HashSlots(table));
  return cursor;
}

void *VHashCursorNext(VHashCursor *cursor) {
  if (cursor == nullptr) return nullptr;
  VHash *table = cursor->table;
  return HashChain::CursorNext(cursor, vi::HashSlots(table), table->buckets);
}

void VHashCursorClose(VHashCursor *cursor) { vi::Free(cursor); }

VHash *VHashCopy(VHash *table, VHashCopyFunc copy, void *arg) {
  if (table == nullptr || copy == nullptr) return nullptr;
  VHash *result =
      VHashCreateWith(vi::Malloc, table->buckets, table->hash, table->hash_arg,
                      table->compare, table->cmp_arg);
  if (result == nullptr) return nullptr;
  HashChain::Walk(vi::HashSlots(table), table->buckets, [=](void *item) {
    VHashInsert(result, copy(item, arg));
    return 0;
  });
  return result;
}

uint32_t VHashString1(const char *text) {
  if (text == nullptr) return 0;
  uint32_t sum = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != 0; ++p) {
    sum += *p;
  }
  return sum;
}

uint32_t VHashString2(const void *text, void *) {
  if (text == nullptr) return 0;
  return vi::ElfHash(text, [](unsigned char c) -> uint32_t { return c; });
}

uint32_t VHashStringIC(const void *text, void *) {
  if (text == nullptr) return 0;
  return vi::ElfHash(text, [](unsigned char c) -> uint32_t {
    return static_cast<unsigned char>(toupper(c));
  });
}
