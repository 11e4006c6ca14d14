// Layout of the list record and of the link header in front of every item.
#ifndef VANTREL_CONTAINERS_LIST_H
#define VANTREL_CONTAINERS_LIST_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "vantrel/vlist.h"

namespace vantrel::internal {

// Hidden header in front of the caller's bytes.  A free item points at
// itself both ways; inside a list, the sentinels are the only headers that
// point at themselves (the head backwards, the tail forwards).
struct ListLink {
  ListLink *next;
  ListLink *prev;
};

static_assert(std::is_standard_layout_v<ListLink>);
static_assert(offsetof(ListLink, next) == 0);
static_assert(offsetof(ListLink, prev) == sizeof(void *));
static_assert(sizeof(ListLink) == 2 * sizeof(void *));

}  // namespace vantrel::internal

// The record behind the opaque VList handle.  The sentinels live inside it,
// so a list is one allocation; head and tail point at them.
struct VList {
  int32_t count;
  vantrel::internal::ListLink *head;
  vantrel::internal::ListLink *tail;
  vantrel::internal::ListLink head_sentinel;
  vantrel::internal::ListLink tail_sentinel;
};

static_assert(std::is_standard_layout_v<VList>);
static_assert(offsetof(VList, count) == 0);
static_assert(offsetof(VList, head) == sizeof(void *));
static_assert(offsetof(VList, tail) == 2 * sizeof(void *));
static_assert(offsetof(VList, head_sentinel) == 3 * sizeof(void *));
static_assert(offsetof(VList, tail_sentinel) == 5 * sizeof(void *));
static_assert(sizeof(VList) == 7 * sizeof(void *));

#endif  // VANTREL_CONTAINERS_LIST_H
