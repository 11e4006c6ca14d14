// In-place sorts of arrays of fixed-size elements: a Shell sort, a stable
// insertion sort and a non-recursive quicksort.
//
// All three exchange elements in place and hand the comparison pointers into
// the caller's array, so a comparison sees exactly the elements and the order
// of calls that an element-by-element byte exchange would give.  The
// exchange itself moves the widest units the element size allows; each sort
// call picks its exchange routine once and runs a copy of the algorithm
// compiled for it.
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <bit>
#include <cstddef>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "vantrel/vsort.h"

namespace vantrel::internal {
namespace {

// Elements whose size is known at compile time: the exchange becomes a few
// register or vector moves.
template <size_t N>
struct FixedSwap {
  static constexpr size_t size() { return N; }
  void operator()(char *a, char *b) const {
    unsigned char ta[N], tb[N];
    memcpy(ta, a, N);
    memcpy(tb, b, N);
    memcpy(a, tb, N);
    memcpy(b, ta, N);
  }
};

inline void SwapWord(char *a, char *b) {
  uint64_t x, y;
  memcpy(&x, a, 8);
  memcpy(&y, b, 8);
  memcpy(a, &y, 8);
  memcpy(b, &x, 8);
}

// Sizes that are a multiple of 8: whole words only.
struct WordSwap {
  size_t bytes;
  size_t size() const { return bytes; }
  void operator()(char *a, char *b) const {
    for (size_t i = 0; i < bytes; i += 8) SwapWord(a + i, b + i);
  }
};

// Any other size: whole words, then the remaining bytes one by one.
struct AnySwap {
  size_t bytes;
  size_t size() const { return bytes; }
  void operator()(char *a, char *b) const {
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) SwapWord(a + i, b + i);
    for (; i < bytes; ++i) std::swap(a[i], b[i]);
  }
};

// Runs op with the exchange routine that suits the element size.
template <typename Op>
int WithSwap(size_t size, Op op) {
  switch (size) {
    case 4:
      return op(FixedSwap<4>{});
    case 8:
      return op(FixedSwap<8>{});
    case 16:
      return op(FixedSwap<16>{});
    default:
      if (size % 8 == 0) return op(WordSwap{size});
      return op(AnySwap{size});
  }
}

// The ranges quicksort leaves to insertion sort: at most this + 1 elements.
constexpr ptrdiff_t kInsertionSpan = 16;

template <typename Swap>
class Sorter {
 public:
  Sorter(void *base, Swap swap, VCompareFunc compare, void *context)
      : base_(static_cast<char *>(base)),
        swap_(swap),
        compare_(compare),
        context_(context) {}

  void Shell(size_t count);
  void Insertion(ptrdiff_t first, ptrdiff_t count);
  int Quick(size_t count);

 private:
  ptrdiff_t Size() const { return static_cast<ptrdiff_t>(swap_.size()); }
  char *At(ptrdiff_t i) const { return base_ + i * Size(); }
  int Compare(const char *a, const char *b) const {
    return compare_(a, b, context_);
  }
  void SwapIfAfter(ptrdiff_t i, ptrdiff_t j) const {
    if (Compare(At(i), At(j)) > 0) swap_(At(i), At(j));
  }
  ptrdiff_t Partition(ptrdiff_t lo, ptrdiff_t hi) const;

  char *base_;
  Swap swap_;
  VCompareFunc compare_;
  void *context_;
};

template <typename Swap>
void Sorter<Swap>::Shell(size_t count) {
  for (size_t gap = count / 2; gap > 0; gap /= 2) {
    ptrdiff_t stride = static_cast<ptrdiff_t>(gap) * Size();
    for (size_t i = gap; i < count; ++i) {
      for (ptrdiff_t j = static_cast<ptrdiff_t>(i - gap);
           j >= 0 && Compare(At(j), At(j) + stride) > 0;
           j -= static_cast<ptrdiff_t>(gap)) {
        swap_(At(j), At(j) + stride);
      }
    }
  }
}

// Sorts the count elements from index first on; equal neighbours are never
// exchanged, which keeps the sort stable.
template <typename Swap>
void Sorter<Swap>::Insertion(ptrdiff_t first, ptrdiff_t count) {
  char *start = At(first);
  for (ptrdiff_t i = 1; i < count; ++i) {
    for (char *p = start + i * Size(); p > start && Compare(p, p - Size()) < 0;
         p -= Size()) {
      swap_(p, p - Size());
    }
  }
}

// Median of three as the pivot at lo, then one pass that gathers the
// smaller elements behind it.  Pivot-equal elements join the left part only
// while its boundary lies before the middle, so runs of equal keys still
// split evenly.  Returns the pivot's final index.
template <typename Swap>
ptrdiff_t Sorter<Swap>::Partition(ptrdiff_t lo, ptrdiff_t hi) const {
  ptrdiff_t mid = (lo + hi) / 2;
  SwapIfAfter(lo + 1, mid);
  SwapIfAfter(lo + 1, hi);
  SwapIfAfter(mid, hi);
  swap_(At(lo), At(mid));
  const char *pivot = At(lo);
  ptrdiff_t last = lo;
  char *item = At(lo + 1);
  for (ptrdiff_t i = lo + 1; i <= hi; ++i, item += Size()) {
    int order = Compare(item, pivot);
    if (order < 0 || (order == 0 && last < mid)) {
      // Exchanging an element with itself changes nothing: skip it.
      if (++last != i) swap_(At(last), item);
    }
  }
  if (last != lo) swap_(At(lo), At(last));
  return last;
}

// The larger part of every partition waits on a stack of index pairs while
// the smaller one is worked on, which bounds the stack by the logarithm of
// count.  The pair pushed first closes the loop: popping it ends the sort.
template <typename Swap>
int Sorter<Swap>::Quick(size_t count) {
  if (count < 2) return 0;
  size_t capacity = std::max<size_t>(2 * std::bit_width(count - 1) + 2, 6);
  HeapPtr<ptrdiff_t> stack(
      static_cast<ptrdiff_t *>(Malloc(capacity * sizeof(ptrdiff_t))));
  if (!stack) return ENOMEM;
  ptrdiff_t *top = stack.get();
  ptrdiff_t lo = 0;
  ptrdiff_t hi = static_cast<ptrdiff_t>(count) - 1;
  *top++ = lo;
  *top++ = hi;
  while (top != stack.get()) {
    if (hi - lo > kInsertionSpan) {
      ptrdiff_t last = Partition(lo, hi);
      if (hi - last > last - lo) {
        *top++ = last + 1;
        *top++ = hi;
        hi = last - 1;
      } else {
        *top++ = lo;
        *top++ = last - 1;
        lo = last + 1;
      }
    } else {
      Insertion(lo, hi - lo + 1);
      hi = *--top;
      lo = *--top;
    }
  }
  return 0;
}

// The sorts refuse a missing comparison, and a missing array unless there
// is nothing to sort.
bool Refused(const void *base, size_t count, VCompareFunc compare) {
  return compare == nullptr || (base == nullptr && count > 0);
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

void v_qsort(void *base, size_t count, size_t size, VCompareFunc compare,
             void *context) {
  if (vi::Refused(base, count, compare)) return;
  vi::WithSwap(size, [&](auto swap) {
    vi::Sorter(base, swap, compare, context).Shell(count);
    return 0;
  });
}

int VInsertionSort(void *base, size_t count, size_t size, VCompareFunc compare,
                   void *context) {
  if (vi::Refused(base, count, compare)) return EINVAL;
  return vi::WithSwap(size, [&](auto swap) {
    vi::Sorter(base, swap, compare, context)
        .Insertion(0, static_cast<ptrdiff_t>(count));
    return 0;
  });
}

int VQuickSort(void *base, size_t count, size_t size, VCompareFunc compare,
               void *context) {
  if (vi::Refused(base, count, compare)) return EINVAL;
  return vi::WithSwap(size, [&](auto swap) {
    return vi::Sorter(base, swap, compare, context).Quick(count);
  });
}
