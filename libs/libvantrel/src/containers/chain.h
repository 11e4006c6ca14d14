// The chained-bucket core shared by the hash containers (VHash, VDHash and
// the index of VHashList): an array of bucket slots, each the head of a
// singly linked chain of link headers.  Every link also points back at
// whatever points at it (the slot or the previous link's next field), so a
// link leaves its chain in constant time.  The caller's bytes follow each
// link header, so an item is the address just past its header.
//
// A header may sit in several chains (VDHash files each item under two
// keys); a Chain names the member pair of one of them.
#ifndef VANTREL_CONTAINERS_CHAIN_H
#define VANTREL_CONTAINERS_CHAIN_H

#include <errno.h>
#include <stddef.h>
#include <stdint.h>

#include "internal/alloc.h"
#include "vantrel/vbase.h"

namespace vantrel::internal {

// Visits `items` (count of them) in ascending order of order(a, b,
// order_arg) until the visitor returns non-zero; returns the last visitor
// result, 0 when nothing was visited.  The array is sorted in place.
int VisitSorted(void **items, uint32_t count, VCompareFunc order,
                void *order_arg, VVisitFunc visitor, void *arg);

// Byte size of a record of `header` bytes followed by `slots` chain heads,
// or 0 when that does not fit in a size_t.
inline size_t RecordSize(size_t header, uint64_t slots) {
  if (slots > (SIZE_MAX - header) / sizeof(void *)) return 0;
  return header + static_cast<size_t>(slots) * sizeof(void *);
}

template <typename L, L *L::*kNext, L **L::*kBack>
struct Chain {
  using Link = L;

  static void *ItemOf(Link *link) { return link + 1; }

  // Links `link` in front of the chain headed by *slot.
  static void PushFront(Link **slot, Link *link) {
    Link *head = *slot;
    link->*kNext = head;
    if (head != nullptr) head->*kBack = &(link->*kNext);
    link->*kBack = slot;
    *slot = link;
  }

  static void Unlink(Link *link) {
    Link *next = link->*kNext;
    *(link->*kBack) = next;
    if (next != nullptr) next->*kBack = link->*kBack;
  }

  // The first item from `link` on along the chain for which compare(key,
  // item, arg) is 0, or null.
  static void *Find(Link *link, const void *key, VCompareFunc compare,
                    void *arg) {
    for (; link != nullptr; link = link->*kNext) {
      void *item = ItemOf(link);
      if (compare(key, item, arg) == 0) return item;
    }
    return nullptr;
  }

  // Calls visit(item) for every link of the `buckets` chains at `slots`,
  // bucket by bucket and each chain in order, until it returns non-zero;
  // returns that result, or 0.  A link's successor is read before its item
  // is visited, so visit may unlink or free the item.
  template <typename Visit>
  static int Walk(Link *const *slots, uint32_t buckets, Visit visit) {
    for (uint32_t b = 0; b < buckets; ++b) {
      for (Link *link = slots[b]; link != nullptr;) {
        Link *next = link->*kNext;
        int result = visit(ItemOf(link));
        if (result != 0) return result;
        link = next;
      }
    }
    return 0;
  }

  // Hands every item to visit(item), chain by chain, emptying each chain's
  // slot once its items have been visited; visit may free the items.
  template <typename Visit>
  static void Drain(Link **slots, uint32_t buckets, Visit visit) {
    for (uint32_t b = 0; b < buckets; ++b) {
      for (Link *link = slots[b]; link != nullptr;) {
        Link *next = link->*kNext;
        visit(ItemOf(link));
        link = next;
      }
      slots[b] = nullptr;
    }
  }

  // Walks the chains into a new array of their `count` items, sorts it by
  // order(a, b, order_arg) and visits it until the visitor returns
  // non-zero, whose result goes to *result (0 when every visit returned 0
  // or count is 0).  Returns 0, or ENOMEM when the array cannot be
  // allocated (nothing is visited then).  Nothing is allocated for count 0.
  static int WalkSorted(Link *const *slots, uint32_t buckets, uint32_t count,
                        VCompareFunc order, void *order_arg, VVisitFunc visitor,
                        void *arg, int *result) {
    *result = 0;
    if (count == 0) return 0;
    size_t size = RecordSize(0, count);
    void **items = size != 0 ? static_cast<void **>(Malloc(size)) : nullptr;
    if (items == nullptr) return ENOMEM;
    void **fill = items;
    Walk(slots, buckets, [&fill](void *item) {
      *fill++ = item;
      return 0;
    });
    *result = VisitSorted(items, count, order, order_arg, visitor, arg);
    Free(items);
    return 0;
  }

  // Cursors (VHashCursor, VDHashCursor) hold the current link, the next
  // link to hand out and the bucket index of the chain being walked, kept
  // as a signed 32-bit field but read as unsigned so that every bucket
  // count works.
  template <typename Cursor>
  static void CursorStart(Cursor *cursor, Link *const *slots) {
    cursor->current = nullptr;
    cursor->next = slots[0];
    cursor->bucket = 0;
  }

  // The next item, or null when every chain has been walked (the cursor
  // then stays exhausted).  The successor is remembered before the item is
  // handed out, so the caller may delete and free it before the next step.
  template <typename Cursor>
  static void *CursorNext(Cursor *cursor, Link *const *slots,
                          uint32_t buckets) {
    Link *link = cursor->next;
    uint32_t b = static_cast<uint32_t>(cursor->bucket);
    while (link == nullptr && b + 1 < buckets) {
      ++b;
      cursor->bucket = static_cast<int32_t>(b);
      link = slots[b];
    }
    cursor->current = link;
    if (link == nullptr) return nullptr;
    cursor->next = link->*kNext;
    return ItemOf(link);
  }
};

}  // namespace vantrel::internal

#endif  // VANTREL_CONTAINERS_CHAIN_H
