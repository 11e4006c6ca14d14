// The ordered-list core shared by VList and VHashList: a doubly linked
// list of link headers between two sentinels that live inside the record.
// A sentinel is recognised by its self-pointer (the head backwards, the
// tail forwards); a free link points at itself both ways.  The caller's
// bytes follow each link header, so an item is the address just past it.
//
// Link is any header that starts with `next` and `prev`; Record any record
// with `count`, `head`, `tail`, `head_sentinel` and `tail_sentinel`.
#ifndef VANTREL_CONTAINERS_ORDERED_LIST_H
#define VANTREL_CONTAINERS_ORDERED_LIST_H

#include <stdint.h>

namespace vantrel::internal {

template <typename Link>
struct OrderedList {
  static void *ItemOf(Link *link) { return link + 1; }
  static Link *LinkOf(const void *item) {
    return static_cast<Link *>(const_cast<void *>(item)) - 1;
  }

  static void SelfLink(Link *link) { link->next = link->prev = link; }
  static bool IsTailSentinel(const Link *link) { return link->next == link; }
  static bool IsHeadSentinel(const Link *link) { return link->prev == link; }

  // An empty list: no items, the sentinels pointing at each other.
  template <typename Record>
  static void Reset(Record *r) {
    r->count = 0;
    r->head = &r->head_sentinel;
    r->tail = &r->tail_sentinel;
    r->head->prev = r->head;
    r->head->next = r->tail;
    r->tail->next = r->tail;
    r->tail->prev = r->head;
  }

  static void LinkBetween(Link *link, Link *prev, Link *next) {
    link->prev = prev;
    link->next = next;
    prev->next = link;
    next->prev = link;
  }

  // Takes the link out of the order; its own links are left as they were.
  static void Unlink(Link *link) {
    link->prev->next = link->next;
    link->next->prev = link->prev;
  }

  // The neighbouring item, or null when the neighbour is a sentinel.
  static void *NextItem(const Link *link) {
    Link *next = link->next;
    return IsTailSentinel(next) ? nullptr : ItemOf(next);
  }
  static void *PrevItem(const Link *link) {
    Link *prev = link->prev;
    return IsHeadSentinel(prev) ? nullptr : ItemOf(prev);
  }

  // The head pseudo-item: insert behind it to put an item first.
  template <typename Record>
  static void *Head(Record *r) {
    return ItemOf(r->head);
  }
  // The last item, or the head pseudo-item when the list is empty.
  template <typename Record>
  static void *Tail(Record *r) {
    return ItemOf(r->tail->prev);
  }

  // Hands every link from first to last to take(link), reading its
  // successor first so that take may free the item; then resets the list.
  template <typename Record, typename Take>
  static void Drain(Record *r, Take take) {
    Link *link = r->head->next;
    while (link != r->tail) {
      Link *next = link->next;
      take(link);
      link = next;
    }
    Reset(r);
  }
};

}  // namespace vantrel::internal

#endif  // VANTREL_CONTAINERS_ORDERED_LIST_H
