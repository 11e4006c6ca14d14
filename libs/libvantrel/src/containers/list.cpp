// Intrusive doubly linked list with in-record sentinels and an allocation-free
// bottom-up merge sort.
#include "containers/list.h"

#include "containers/ordered_list.h"
#include "internal/alloc.h"

namespace vantrel::internal {
namespace {

using Links = OrderedList<ListLink>;

// Moves up to `steps` links forward, never past the end mark.
ListLink *StepForward(ListLink *link, int64_t steps, const ListLink *end) {
  for (; steps > 0 && link != end; --steps) link = link->next;
  return link;
}

// Splits off a run of at most k items starting at `start` by pointing its
// last item at `end`; returns the link that followed the run.
ListLink *CutRun(ListLink *start, int64_t k, ListLink *end) {
  ListLink *last = StepForward(start, k - 1, end);
  if (last == end) return end;
  ListLink *rest = last->next;
  last->next = end;
  return rest;
}

// Merges two runs ending at `end`, using `end` itself as the scratch head.
// Ties take the first run's item, which keeps the sort stable.  Returns the
// merged run's first item and stores its last one in *last.
ListLink *MergeRuns(ListLink *a, ListLink *b, ListLink *end,
                    VCompareFunc compare, void *arg, ListLink **last) {
  ListLink *write = end;
  while (a != end && b != end) {
    if (compare(Links::ItemOf(a), Links::ItemOf(b), arg) > 0) {
      write->next = b;
      write = b;
      b = b->next;
    } else {
      write->next = a;
      write = a;
      a = a->next;
    }
  }
  write->next = (a != end) ? a : b;
  while (write->next != end) write = write->next;
  *last = write;
  ListLink *first = end->next;
  end->next = end;
  return first;
}

// Forward links are all the merge maintains; set every prev link at once.
void RelinkBackwards(VList *list) {
  ListLink *prev = list->head;
  for (ListLink *link = prev->next; link != list->tail; link = link->next) {
    link->prev = prev;
    prev = link;
  }
  list->tail->prev = prev;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;
using vi::ListLink;
using Links = vi::OrderedList<ListLink>;

void *VListAllocWith(VAllocFunc alloc, size_t size) {
  if (alloc == nullptr || size > SIZE_MAX - sizeof(ListLink)) return nullptr;
  auto *link = static_cast<ListLink *>(alloc(sizeof(ListLink) + size));
  if (link == nullptr) return nullptr;
  Links::SelfLink(link);
  return Links::ItemOf(link);
}

void *VListAlloc(size_t size) { return VListAllocWith(vi::Malloc, size); }

void VListFreeWith(void *item, VReleaseFunc release) {
  if (item != nullptr && release != nullptr) release(Links::LinkOf(item));
}

void VListFree(void *item) { VListFreeWith(item, vi::Free); }

VList *VListCreateWith(VAllocFunc alloc) {
  if (alloc == nullptr) return nullptr;
  auto *list = static_cast<VList *>(alloc(sizeof(VList)));
  if (list == nullptr) return nullptr;
  Links::Reset(list);
  return list;
}

void VListFlush(VList *list, VVisitFunc visitor, void *arg) {
  if (list == nullptr) return;
  Links::Drain(list, [=](ListLink *link) {
    Links::SelfLink(link);
    if (visitor != nullptr) visitor(Links::ItemOf(link), arg);
  });
}

void VListDestroyWith(VList *list, VVisitFunc visitor, void *arg,
                      VReleaseFunc release) {
  if (list == nullptr || release == nullptr) return;
  VListFlush(list, visitor, arg);
  release(list);
}

void VListInsertAfter(VList *list, void *item, void *after) {
  if (list == nullptr || item == nullptr || after == nullptr) return;
  ListLink *prev = Links::LinkOf(after);
  Links::LinkBetween(Links::LinkOf(item), prev, prev->next);
  ++list->count;
}

void VListInsertBefore(VList *list, void *item, void *before) {
  if (list == nullptr || item == nullptr || before == nullptr) return;
  ListLink *next = Links::LinkOf(before);
  Links::LinkBetween(Links::LinkOf(item), next->prev, next);
  ++list->count;
}

void *VListDeleteNext(VList *list, void *item) {
  if (list == nullptr || item == nullptr) return nullptr;
  ListLink *victim = Links::LinkOf(item)->next;
  Links::Unlink(victim);
  Links::SelfLink(victim);
  --list->count;
  return Links::ItemOf(victim);
}

void VListDelete(VList *list, void *item) {
  if (list == nullptr || item == nullptr) return;
  ListLink *link = Links::LinkOf(item);
  Links::Unlink(link);
  Links::SelfLink(link);
  --list->count;
}

void *VListFirst(VList *list) {
  return list != nullptr ? Links::NextItem(list->head) : nullptr;
}

void *VListLast(VList *list) {
  return list != nullptr ? Links::PrevItem(list->tail) : nullptr;
}

void *VListNext(void *item) {
  return item != nullptr ? Links::NextItem(Links::LinkOf(item)) : nullptr;
}

void *VListPrev(void *item) {
  return item != nullptr ? Links::PrevItem(Links::LinkOf(item)) : nullptr;
}

void *VListNth(VList *list, int32_t n) {
  if (list == nullptr || n < 0 || n >= list->count) return nullptr;
  ListLink *link = list->head->next;
  while (n-- > 0) link = link->next;
  return Links::ItemOf(link);
}

void *VListHead(VList *list) {
  return list != nullptr ? Links::Head(list) : nullptr;
}

void *VListTail(VList *list) {
  return list != nullptr ? Links::Tail(list) : nullptr;
}

int32_t VListNumItems(VList *list) { return list != nullptr ? list->count : 0; }

void VListMergeSort(VList *list, VCompareFunc compare, void *arg) {
  if (list == nullptr || compare == nullptr) return;
  ListLink *head = list->head;
  ListLink *end = list->tail;  // self-linked forward: ends every run
  ListLink *marker = end;
  for (int64_t k = 1; marker != head->next; k *= 2) {
    ListLink *write = head;
    ListLink *pos = head->next;
    while (pos != end) {
      ListLink *first = pos;
      marker = first;
      ListLink *second = vi::CutRun(first, k, end);
      pos = vi::CutRun(second, k, end);
      ListLink *last = nullptr;
      write->next = vi::MergeRuns(first, second, end, compare, arg, &last);
      write = last;
    }
  }
  vi::RelinkBackwards(list);
}
