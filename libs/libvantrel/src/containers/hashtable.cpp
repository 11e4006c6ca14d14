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

uint32_t BucketOf(const VHash *table, const void *key) {
  return table->hash(key, table->hash_arg) % table->buckets;
}

// Links `link` in front of the chain headed by *slot.
void PushFront(HashLink **slot, HashLink *link) {
  link->next = *slot;
  if (link->next != nullptr) link->next->back = &link->next;
  link->back = slot;
  *slot = link;
}

// First item from `link` on for which compare(key, item) is 0.
void *Scan(const VHash *table, HashLink *link, const void *key) {
  for (; link != nullptr; link = link->next) {
    void *item = HashItemOf(link);
    if (table->compare(key, item, table->cmp_arg) == 0) return item;
  }
  return nullptr;
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

// Unsorted walk; returns the first non-zero visitor result, or 0.
int VisitChains(VHash *table, VVisitFunc visitor, void *arg) {
  HashLink **slots = HashSlots(table);
  for (uint32_t b = 0; b < table->buckets; ++b) {
    for (HashLink *link = slots[b]; link != nullptr;) {
      HashLink *next = link->next;
      int result = visitor(HashItemOf(link), arg);
      if (result != 0) return result;
      link = next;
    }
  }
  return 0;
}

// Fills `items` with every item in bucket order.
void Collect(VHash *table, void **items) {
  HashLink **slots = HashSlots(table);
  for (uint32_t b = 0; b < table->buckets; ++b) {
    for (HashLink *link = slots[b]; link != nullptr; link = link->next) {
      *items++ = HashItemOf(link);
    }
  }
}

int WalkSorted(VHash *table, VVisitFunc visitor, void *arg,
               VCompareFunc order) {
  if (table->count == 0) return 0;
  size_t size = RecordSize(0, table->count);
  void **items = size != 0 ? static_cast<void **>(Malloc(size)) : nullptr;
  if (items == nullptr) return ENOMEM;
  Collect(table, items);
  int result = VisitSorted(items, table->count,
                           order != nullptr ? order : table->compare,
                           table->cmp_arg, visitor, arg);
  Free(items);
  return result;
}

// Moves the cursor to the head of the next non-empty chain after the
// current one; null when there is none (the cursor then stays exhausted).
HashLink *NextChain(VHashCursor *cursor) {
  HashLink **slots = HashSlots(cursor->table);
  uint32_t b = static_cast<uint32_t>(cursor->bucket);
  while (b + 1 < cursor->table->buckets) {
    ++b;
    cursor->bucket = static_cast<int32_t>(b);
    if (slots[b] != nullptr) return slots[b];
  }
  return nullptr;
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

void *HashAlloc(VAllocFunc alloc, size_t size) {
  if (size > SIZE_MAX - sizeof(HashLink)) return nullptr;
  HashLink *link = static_cast<HashLink *>(alloc(size + sizeof(HashLink)));
  if (link == nullptr) return nullptr;
  link->next = nullptr;
  link->back = nullptr;
  return HashItemOf(link);
}

VHash *HashCreate(VAllocFunc alloc, uint32_t buckets, VHashFunc hash,
                  void *hash_arg, VCompareFunc compare, void *cmp_arg) {
  size_t size = RecordSize(sizeof(VHash), buckets);
  if (buckets == 0 || size == 0) return nullptr;
  VHash *table = static_cast<VHash *>(alloc(size));
  if (table == nullptr) return nullptr;
  memset(table, 0, size);
  table->buckets = buckets;
  table->hash = hash;
  table->hash_arg = hash_arg;
  table->compare = compare;
  table->cmp_arg = cmp_arg;
  return table;
}

void HashInsert(VHash *table, void *item) {
  PushFront(&HashSlots(table)[BucketOf(table, item)], HashLinkOf(item));
  ++table->count;
}

void *HashFind(VHash *table, const void *key) {
  return Scan(table, HashSlots(table)[BucketOf(table, key)], key);
}

void *HashNext(VHash *table, void *item) {
  return Scan(table, HashLinkOf(item)->next, item);
}

void HashDelete(VHash *table, void *item) {
  HashLink *link = HashLinkOf(item);
  *link->back = link->next;
  if (link->next != nullptr) link->next->back = link->back;
  --table->count;
}

void HashFlush(VHash *table, VVisitFunc visitor, void *arg) {
  HashLink **slots = HashSlots(table);
  for (uint32_t b = 0; b < table->buckets; ++b) {
    for (HashLink *link = slots[b]; link != nullptr;) {
      HashLink *next = link->next;
      visitor(HashItemOf(link), arg);
      link = next;
    }
    slots[b] = nullptr;
  }
  table->count = 0;
}

int HashWalk(VHash *table, VVisitFunc visitor, void *arg, int sorted,
             VCompareFunc order) {
  if (sorted != 0) return WalkSorted(table, visitor, arg, order);
  return VisitChains(table, visitor, arg);
}

VHashCursor *HashCursorOpen(VHash *table) {
  VHashCursor *cursor = static_cast<VHashCursor *>(Malloc(sizeof(*cursor)));
  if (cursor == nullptr) return nullptr;
  cursor->table = table;
  cursor->current = nullptr;
  cursor->next = HashSlots(table)[0];
  cursor->bucket = 0;
  return cursor;
}

void *HashCursorNext(VHashCursor *cursor) {
  HashLink *link = cursor->next != nullptr ? cursor->next : NextChain(cursor);
  cursor->current = link;
  if (link == nullptr) return nullptr;
  cursor->next = link->next;
  return HashItemOf(link);
}

VHash *HashCopy(VHash *table, VHashCopyFunc copy, void *arg) {
  VHash *result = HashCreate(Malloc, table->buckets, table->hash,
                             table->hash_arg, table->compare, table->cmp_arg);
  if (result == nullptr) return nullptr;
  HashLink **slots = HashSlots(table);
  for (uint32_t b = 0; b < table->buckets; ++b) {
    for (HashLink *link = slots[b]; link != nullptr; link = link->next) {
      void *item = copy(HashItemOf(link), arg);
      if (item != nullptr) HashInsert(result, item);
    }
  }
  return result;
}

uint32_t StringSum(const char *text) {
  uint32_t sum = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != 0; ++p) {
    sum += *p;
  }
  return sum;
}

uint32_t StringElf(const void *text) {
  return ElfHash(text, [](unsigned char c) -> uint32_t { return c; });
}

uint32_t StringElfUpper(const void *text) {
  return ElfHash(text, [](unsigned char c) -> uint32_t {
    return static_cast<unsigned char>(toupper(c));
  });
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

extern "C" {

VANTREL_API void *VHashAllocWith(VAllocFunc alloc, size_t size) {
  return vi::HashAlloc(alloc, size);
}

VANTREL_API void *VHashAlloc(size_t size) {
  return vi::HashAlloc(vi::Malloc, size);
}

VANTREL_API void *VHashIncrAlloc(VIncrAllocator *allocator, size_t size) {
  if (size > SIZE_MAX - sizeof(vi::HashLink)) return nullptr;
  // The arena's pieces come zero-filled, so the links start out null.
  void *block = VIncrAllocatorAlloc(allocator, size + sizeof(vi::HashLink));
  if (block == nullptr) return nullptr;
  return vi::HashItemOf(static_cast<vi::HashLink *>(block));
}

VANTREL_API void VHashFreeWith(void *item, VReleaseFunc release) {
  if (item != nullptr) release(vi::HashLinkOf(item));
}

VANTREL_API void VHashFree(void *item) { VHashFreeWith(item, vi::Free); }

VANTREL_API VHash *VHashCreateWith(VAllocFunc alloc, uint32_t buckets,
                                   VHashFunc hash, void *hash_arg,
                                   VCompareFunc compare, void *cmp_arg) {
  return vi::HashCreate(alloc, buckets, hash, hash_arg, compare, cmp_arg);
}

VANTREL_API void VHashInsert(VHash *table, void *item) {
  vi::HashInsert(table, item);
}

VANTREL_API void *VHashFind(VHash *table, const void *key) {
  return vi::HashFind(table, key);
}

VANTREL_API void *VHashNext(VHash *table, void *item) {
  return vi::HashNext(table, item);
}

VANTREL_API void VHashDelete(VHash *table, void *item) {
  vi::HashDelete(table, item);
}

VANTREL_API uint32_t VHashNumItems(VHash *table) { return table->count; }

VANTREL_API void VHashFlush(VHash *table, VVisitFunc visitor, void *arg) {
  vi::HashFlush(table, visitor, arg);
}

VANTREL_API void VHashDestroyWith(VHash *table, VVisitFunc visitor, void *arg,
                                  VReleaseFunc release) {
  vi::HashFlush(table, visitor, arg);
  release(table);
}

VANTREL_API int VHashWalk(VHash *table, VVisitFunc visitor, void *arg,
                          int sorted, VCompareFunc order) {
  return vi::HashWalk(table, visitor, arg, sorted, order);
}

VANTREL_API VHashCursor *VHashCursorOpen(VHash *table) {
  return vi::HashCursorOpen(table);
}

VANTREL_API void *VHashCursorNext(VHashCursor *cursor) {
  return vi::HashCursorNext(cursor);
}

VANTREL_API void VHashCursorClose(VHashCursor *cursor) { vi::Free(cursor); }

VANTREL_API VHash *VHashCopy(VHash *table, VHashCopyFunc copy, void *arg) {
  return vi::HashCopy(table, copy, arg);
}

VANTREL_API uint32_t VHashString1(const char *text) {
  return vi::StringSum(text);
}

VANTREL_API uint32_t VHashString2(const void *text, void *) {
  return vi::StringElf(text);
}

VANTREL_API uint32_t VHashStringIC(const void *text, void *) {
  return vi::StringElfUpper(text);
}

}  // extern "C"
