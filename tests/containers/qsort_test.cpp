#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vsort.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Calls = std::vector<std::pair<ptrdiff_t, ptrdiff_t>>;
enum Sort { kShell, kInsertion, kQuick };

// Elements order by their first byte; every call is recorded as a pair of
// element indices.
struct Recorder {
  const unsigned char *base;
  ptrdiff_t size;
  Calls calls;
};
int CompareFirstByte(const void *a, const void *b, void *context) {
  auto *rec = static_cast<Recorder *>(context);
  auto *pa = static_cast<const unsigned char *>(a);
  auto *pb = static_cast<const unsigned char *>(b);
  rec->calls.emplace_back((pa - rec->base) / rec->size,
                          (pb - rec->base) / rec->size);
  return int{*pa} - int{*pb};
}

Calls RunSort(Sort sort, Bytes &data, size_t size, int *rc) {
  Recorder rec{data.data(), static_cast<ptrdiff_t>(size), {}};
  size_t n = data.size() / size;
  auto *sorts = sort == kInsertion ? VInsertionSort : VQuickSort;
  *rc = 0;
  if (sort == kShell) v_qsort(data.data(), n, size, CompareFirstByte, &rec);
  if (sort != kShell) *rc = sorts(data.data(), n, size, CompareFirstByte, &rec);
  return rec.calls;
}

// The first byte of each element is a key below `keys`; the others are
// random so that a torn or lost element shows.
Bytes RandomArray(std::mt19937 &rng, size_t count, size_t size, int keys) {
  Bytes data(count * size);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<unsigned char>(i % size == 0 ? rng() % keys : rng());
  return data;
}

Bytes StableSorted(const Bytes &data, size_t size) {
  std::vector<Bytes> items;
  for (size_t i = 0; i < data.size(); i += size)
    items.emplace_back(data.begin() + i, data.begin() + i + size);
  std::stable_sort(items.begin(), items.end(),
                   [](auto &a, auto &b) { return a[0] < b[0]; });
  Bytes out;
  for (auto &item : items) out.insert(out.end(), item.begin(), item.end());
  return out;
}

// A plain transcription of the three algorithms that exchanges elements byte
// by byte: the library must make the same calls and give the same result.
struct ReferenceSort {
  unsigned char *base;
  size_t size;
  Recorder rec{base, static_cast<ptrdiff_t>(size), {}};

  unsigned char *At(ptrdiff_t i) { return base + i * size; }
  int Cmp(ptrdiff_t i, ptrdiff_t j) {
    return CompareFirstByte(At(i), At(j), &rec);
  }
  void Swap(ptrdiff_t i, ptrdiff_t j) {
    std::swap_ranges(At(i), At(i) + size, At(j));
  }
  void Shell(ptrdiff_t n) {
    for (ptrdiff_t gap = n / 2; gap > 0; gap /= 2)
      for (ptrdiff_t i = gap; i < n; ++i)
        for (ptrdiff_t j = i - gap; j >= 0 && Cmp(j, j + gap) > 0; j -= gap)
          Swap(j, j + gap);
  }
  void Insertion(ptrdiff_t lo, ptrdiff_t n) {
    for (ptrdiff_t i = 0; i < n; ++i)
      for (ptrdiff_t j = i; j > 0 && Cmp(lo + j, lo + j - 1) < 0; --j)
        Swap(lo + j, lo + j - 1);
  }
  void Quick(ptrdiff_t n) {
    if (n < 2) return;
    std::vector<ptrdiff_t> stack{0, n - 1};
    ptrdiff_t lo = 0, hi = n - 1;
    while (!stack.empty()) {
      if (hi - lo <= 16) {
        Insertion(lo, hi - lo + 1);
        hi = stack.back(), stack.pop_back();
        lo = stack.back(), stack.pop_back();
        continue;
      }
      ptrdiff_t mid = (lo + hi) / 2;
      if (Cmp(lo + 1, mid) > 0) Swap(lo + 1, mid);
      if (Cmp(lo + 1, hi) > 0) Swap(lo + 1, hi);
      if (Cmp(mid, hi) > 0) Swap(mid, hi);
      Swap(lo, mid);
      ptrdiff_t last = lo;
      for (ptrdiff_t i = lo + 1; i <= hi; ++i) {
        int order = Cmp(i, lo);
        if (order < 0 || (order == 0 && last < mid)) Swap(++last, i);
      }
      Swap(lo, last);
      if (hi - last > last - lo) {
        stack.insert(stack.end(), {last + 1, hi});
        hi = last - 1;
      } else {
        stack.insert(stack.end(), {lo, last - 1});
        lo = last + 1;
      }
    }
  }
  Calls Run(Sort sort, ptrdiff_t n) {
    sort == kShell ? Shell(n) : sort == kInsertion ? Insertion(0, n) : Quick(n);
    return rec.calls;
  }
};

// Random, all-equal, sorted and reversed inputs around the insertion-sort
// threshold of quick sort: keys in stable order (whole elements for the
// insertion sort), and the same calls in the same order and the same bytes
// as the transcription.  Fewer than two elements allocate nothing.
TEST(VSortTest, SortsMatchStableModelAndReferenceCallSequence) {
  std::mt19937 rng(11);
  for (size_t size : {1, 3, 4, 8, 12, 16, 24, 64}) {
    std::vector<Bytes> inputs;
    for (size_t count : {0, 1, 2, 5, 17, 18, 19, 40, 100, 300, 2000})
      for (int keys : {1, 3, 40, 256})
        inputs.push_back(RandomArray(rng, count, size, keys));
    Bytes sorted = StableSorted(RandomArray(rng, 400, size, 256), size);
    inputs.push_back(sorted);
    inputs.emplace_back(sorted.rbegin(), sorted.rend());
    for (const Bytes &input : inputs) {
      size_t count = input.size() / size;
      SCOPED_TRACE(testing::Message() << "size " << size << " count " << count);
      Bytes expected = StableSorted(input, size);
      for (Sort sort : {kShell, kInsertion, kQuick}) {
        if (sort == kInsertion && count > 300) continue;  // quadratic
        SCOPED_TRACE(sort);
        Bytes ours = input, theirs = input;
        int rc = -1;
        vtest::AllocCounter allocations;
        Calls calls = RunSort(sort, ours, size, &rc);
        EXPECT_TRUE(count > 1 || allocations.count() == 0);
        ASSERT_EQ(rc, 0);
        ASSERT_TRUE(sort != kInsertion || ours == expected);  // stable
        for (size_t i = 0; i < count; ++i)
          ASSERT_EQ(ours[i * size], expected[i * size]) << "index " << i;
        ASSERT_EQ(calls, (ReferenceSort{theirs.data(), size}.Run(sort, count)));
        ASSERT_EQ(ours, theirs);
      }
    }
  }
}

TEST(VSortTest, QuickSortReportsStackFailureAndLeavesArrayAlone) {
  std::mt19937 rng(9);
  Bytes input = RandomArray(rng, 200, 12, 50);
  vtest::SweepAllocations([&](vtest::Fault &f) {
    Bytes data = input;
    int rc = -1;
    f.Arm();
    Calls calls = RunSort(kQuick, data, 12, &rc);
    bool failed = f.Disarm();
    EXPECT_EQ(rc, failed ? 12 : 0);
    EXPECT_EQ(data == input, failed);
    EXPECT_EQ(calls.empty(), failed);
  });
}

}  // namespace
