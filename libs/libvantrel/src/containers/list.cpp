// Intrusive doubly linked list with in-record sentinels and an allocation-free
// bottom-up merge sort.
#include "containers/list.h"

#include "internal/alloc.h"

namespace vantrel::internal {
namespace {

void SelfLink(ListLink *link) { link->next = link->prev = link; }

bool IsTailSentinel(const ListLink *link) { return link->next == link; }
bool IsHeadSentinel(const ListLink *link) { return link->prev == link; }

void LinkBetween(ListLink *link, ListLink *prev, ListLink *next) {
  link->prev = prev;
  link->next = next;
  prev->next = link;
  next->prev = link;
}

void Unlink(ListLink *link) {
  link->prev->next = link->next;
  link->next->prev = link->prev;
  SelfLink(link);
}

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
    if (compare(ListItemOf(a), ListItemOf(b), arg) > 0) {
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

void *ListAllocWith(VAllocFunc alloc, size_t size) {
  if (size > SIZE_MAX - sizeof(ListLink)) return nullptr;
  auto *link = static_cast<ListLink *>(alloc(sizeof(ListLink) + size));
  if (link == nullptr) return nullptr;
  SelfLink(link);
  return ListItemOf(link);
}

VList *ListCreateWith(VAllocFunc alloc) {
  auto *list = static_cast<VList *>(alloc(sizeof(VList)));
  if (list == nullptr) return nullptr;
  list->count = 0;
  list->head = &list->head_sentinel;
  list->tail = &list->tail_sentinel;
  list->head->prev = list->head;
  list->head->next = list->tail;
  list->tail->next = list->tail;
  list->tail->prev = list->head;
  return list;
}

void ListFlush(VList *list, VVisitFunc visitor, void *arg) {
  ListLink *link = list->head->next;
  while (link != list->tail) {
    ListLink *next = link->next;
    SelfLink(link);
    if (visitor != nullptr) visitor(ListItemOf(link), arg);
    link = next;
  }
  list->head->next = list->tail;
  list->tail->prev = list->head;
  list->count = 0;
}

void ListInsertAfter(VList *list, void *item, void *after) {
  ListLink *prev = ListLinkOf(after);
  LinkBetween(ListLinkOf(item), prev, prev->next);
  ++list->count;
}

void ListInsertBefore(VList *list, void *item, void *before) {
  ListLink *next = ListLinkOf(before);
  LinkBetween(ListLinkOf(item), next->prev, next);
  ++list->count;
}

void *ListDeleteNext(VList *list, void *item) {
  ListLink *victim = ListLinkOf(item)->next;
  Unlink(victim);
  --list->count;
  return ListItemOf(victim);
}

void ListDelete(VList *list, void *item) {
  Unlink(ListLinkOf(item));
  --list->count;
}

void *ListNext(void *item) {
  ListLink *next = ListLinkOf(item)->next;
  return IsTailSentinel(next) ? nullptr : ListItemOf(next);
}

void *ListPrev(void *item) {
  ListLink *prev = ListLinkOf(item)->prev;
  return IsHeadSentinel(prev) ? nullptr : ListItemOf(prev);
}

void *ListNth(VList *list, int32_t n) {
  if (n < 0 || n >= list->count) return nullptr;
  ListLink *link = list->head->next;
  while (n-- > 0) link = link->next;
  return ListItemOf(link);
}

void ListMergeSort(VList *list, VCompareFunc compare, void *arg) {
  ListLink *head = list->head;
  ListLink *end = list->tail;  // self-linked forward: ends every run
  ListLink *marker = end;
  for (int64_t k = 1; marker != head->next; k *= 2) {
    ListLink *write = head;
    ListLink *pos = head->next;
    while (pos != end) {
      ListLink *first = pos;
      marker = first;
      ListLink *second = CutRun(first, k, end);
      pos = CutRun(second, k, end);
      ListLink *last = nullptr;
      write->next = MergeRuns(first, second, end, compare, arg, &last);
      write = last;
    }
  }
  RelinkBackwards(list);
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

extern "C" {

VANTREL_API void *VListAllocWith(VAllocFunc alloc, size_t size) {
  return vi::ListAllocWith(alloc, size);
}

VANTREL_API void *VListAlloc(size_t size) {
  return vi::ListAllocWith(vi::Malloc, size);
}

VANTREL_API void VListFreeWith(void *item, VReleaseFunc release) {
  release(vi::ListLinkOf(item));
}

VANTREL_API void VListFree(void *item) { vi::Free(vi::ListLinkOf(item)); }

VANTREL_API VList *VListCreateWith(VAllocFunc alloc) {
  return vi::ListCreateWith(alloc);
}

VANTREL_API void VListFlush(VList *list, VVisitFunc visitor, void *arg) {
  vi::ListFlush(list, visitor, arg);
}

VANTREL_API void VListDestroyWith(VList *list, VVisitFunc visitor, void *arg,
                                  VReleaseFunc release) {
  vi::ListFlush(list, visitor, arg);
  release(list);
}

VANTREL_API void VListInsertAfter(VList *list, void *item, void *after) {
  vi::ListInsertAfter(list, item, after);
}

VANTREL_API void VListInsertBefore(VList *list, void *item, void *before) {
  vi::ListInsertBefore(list, item, before);
}

VANTREL_API void *VListDeleteNext(VList *list, void *item) {
  return vi::ListDeleteNext(list, item);
}

VANTREL_API void VListDelete(VList *list, void *item) {
  vi::ListDelete(list, item);
}

VANTREL_API void *VListFirst(VList *list) {
  return vi::ListNext(vi::ListItemOf(list->head));
}

VANTREL_API void *VListLast(VList *list) {
  return vi::ListPrev(vi::ListItemOf(list->tail));
}

VANTREL_API void *VListNext(void *item) { return vi::ListNext(item); }

VANTREL_API void *VListPrev(void *item) { return vi::ListPrev(item); }

VANTREL_API void *VListNth(VList *list, int32_t n) {
  return vi::ListNth(list, n);
}

VANTREL_API void *VListHead(VList *list) { return vi::ListItemOf(list->head); }

VANTREL_API void *VListTail(VList *list) {
  return vi::ListItemOf(list->tail->prev);
}

VANTREL_API int32_t VListNumItems(VList *list) { return list->count; }

VANTREL_API void VListMergeSort(VList *list, VCompareFunc compare, void *arg) {
  vi::ListMergeSort(list, compare, arg);
}

}  // extern "C"
