#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vsort.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Calls = std::vector<std::pair<ptrdiff_t, ptrdiff_t>>;
enum class Sort { kShell, kInsertion, kQuick };
constexpr Sort kSorts[] = {Sort::kShell, Sort::kInsertion, Sort::kQuick};
constexpr size_t kSizes[] = {1, 3, 4, 8, 12, 16, 24, 64};

// Comparison context: elements order by their first byte; every call is
// recorded as a pair of element indices.
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

Calls RunSort(Sort sort, Bytes &data, size_t size, int *rc = nullptr) {
  Recorder rec{data.data(), static_cast<ptrdiff_t>(size), {}};
  size_t count = data.size() / size;
  int result = 0;
  if (sort == Sort::kShell)
    v_qsort(data.data(), count, size, CompareFirstByte, &rec);
  if (sort == Sort::kInsertion)
    result = VInsertionSort(data.data(), count, size, CompareFirstByte, &rec);
  if (sort == Sort::kQuick)
    result = VQuickSort(data.data(), count, size, CompareFirstByte, &rec);
  if (rc != nullptr) *rc = result;
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

std::vector<std::string> Elements(const Bytes &data, size_t size) {
  std::vector<std::string> out;
  for (size_t i = 0; i < data.size(); i += size)
    out.emplace_back(reinterpret_cast<const char *>(&data[i]), size);
  return out;
}

std::vector<std::string> SortedElements(const Bytes &data, size_t size) {
  std::vector<std::string> out = Elements(data, size);
  std::sort(out.begin(), out.end());
  return out;
}

Bytes StableSorted(const Bytes &data, size_t size) {
  std::vector<std::string> items = Elements(data, size);
  std::stable_sort(items.begin(), items.end(), [](auto &a, auto &b) {
    return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]);
  });
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
    for (size_t k = 0; k < size; ++k) std::swap(At(i)[k], At(j)[k]);
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
    if (sort == Sort::kShell) Shell(n);
    if (sort == Sort::kInsertion) Insertion(0, n);
    if (sort == Sort::kQuick) Quick(n);
    return rec.calls;
  }
};

TEST(VSortTest, SortsAgreeWithStableModelForEveryElementSize) {
  std::mt19937 rng(7);
  for (size_t size : kSizes) {
    for (size_t count : {2, 17, 18, 100, 2000}) {
      for (int keys : {3, 40, 256}) {
        SCOPED_TRACE(testing::Message() << "size " << size << " count " << count
                                        << " keys " << keys);
        Bytes input = RandomArray(rng, count, size, keys);
        Bytes expected = StableSorted(input, size);
        for (Sort sort : kSorts) {
          if (sort == Sort::kInsertion && count > 100) continue;  // quadratic
          Bytes data = input;
          int rc = -1;
          RunSort(sort, data, size, &rc);
          ASSERT_EQ(rc, 0);
          if (sort == Sort::kInsertion) {
            ASSERT_EQ(data, expected);  // equal keys keep their input order
            continue;
          }
          for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(data[i * size], expected[i * size]) << "index " << i;
          ASSERT_EQ(SortedElements(data, size), SortedElements(input, size));
        }
      }
    }
  }
}

// Same calls in the same order and the same final bytes as the byte-by-byte
// transcription, on random, all-equal, sorted and reversed inputs.
TEST(VSortTest, CallSequenceMatchesByteSwappingReference) {
  std::mt19937 rng(11);
  for (size_t size : kSizes) {
    std::vector<Bytes> inputs;
    for (size_t count : {0, 1, 5, 17, 18, 19, 40, 300, 800})
      for (int keys : {1, 4, 256})
        inputs.push_back(RandomArray(rng, count, size, keys));
    Bytes sorted = StableSorted(RandomArray(rng, 400, size, 256), size);
    inputs.push_back(sorted);
    std::reverse(sorted.begin(), sorted.end());
    inputs.push_back(sorted);

    for (const Bytes &input : inputs) {
      size_t count = input.size() / size;
      SCOPED_TRACE(testing::Message() << "size " << size << " count " << count);
      for (Sort sort : kSorts) {
        if (sort == Sort::kInsertion && count > 300) continue;  // quadratic
        Bytes ours = input, theirs = input;
        Calls calls = RunSort(sort, ours, size);
        ReferenceSort ref{theirs.data(), size};
        ASSERT_EQ(calls, ref.Run(sort, count)) << "sort " << int(sort);
        ASSERT_EQ(ours, theirs) << "sort " << int(sort);
      }
    }
  }
}

// Fewer than two elements: no comparison and no allocation.  Seventeen go
// straight to insertion sort, which starts with element 1 against 0;
// eighteen start with the median of three, element 1 against the middle.
TEST(VSortTest, QuickSortCountThresholds) {
  std::mt19937 rng(3);
  for (size_t count : {0, 1}) {
    for (Sort sort : kSorts) {
      Bytes data = RandomArray(rng, count, 4, 256);
      uint64_t before = vtest::AllocationCount();
      EXPECT_TRUE(RunSort(sort, data, 4).empty());
      EXPECT_EQ(vtest::AllocationCount(), before);
    }
  }
  Bytes input = RandomArray(rng, 17, 4, 256), data = input;
  Calls quick = RunSort(Sort::kQuick, data, 4);
  data = input;
  EXPECT_EQ(quick, RunSort(Sort::kInsertion, data, 4));
  EXPECT_EQ(quick.front(), std::make_pair(ptrdiff_t{1}, ptrdiff_t{0}));
  data = RandomArray(rng, 18, 4, 256);
  quick = RunSort(Sort::kQuick, data, 4);
  EXPECT_EQ(quick.front(), std::make_pair(ptrdiff_t{1}, ptrdiff_t{8}));
}

// The tie rule keeps equal keys from degrading partitioning: comparisons stay
// near n log n, and every element (the payloads differ) is kept.
TEST(VSortTest, EqualKeysFinishInLinearithmicTime) {
  std::mt19937 rng(5);
  const size_t count = 32768;  // 2^15
  Bytes input = RandomArray(rng, count, 8, 1);
  auto counting = [](const void *a, const void *b, void *calls) {
    ++*static_cast<size_t *>(calls);
    return int{*static_cast<const unsigned char *>(a)} -
           int{*static_cast<const unsigned char *>(b)};
  };
  for (bool quick : {false, true}) {
    Bytes data = input;
    size_t calls = 0;
    if (quick) {
      ASSERT_EQ(VQuickSort(data.data(), count, 8, counting, &calls), 0);
    } else {
      v_qsort(data.data(), count, 8, counting, &calls);
    }
    EXPECT_LT(calls, 2 * count * 15);
    EXPECT_EQ(SortedElements(data, 8), SortedElements(input, 8));
  }
}

TEST(VSortTest, QuickSortReportsStackFailureAndLeavesArrayAlone) {
  std::mt19937 rng(9);
  Bytes input = RandomArray(rng, 200, 12, 50);
  vtest::SweepAllocations([&](vtest::Fault &f) {
    Bytes data = input;
    int rc = -1;
    f.Arm();
    Calls calls = RunSort(Sort::kQuick, data, 12, &rc);
    if (f.Disarm()) {
      EXPECT_EQ(rc, 12);
      EXPECT_EQ(data, input);
      EXPECT_TRUE(calls.empty());
    } else {
      EXPECT_EQ(rc, 0);
      EXPECT_NE(data, input);
    }
  });
}

}  // namespace
