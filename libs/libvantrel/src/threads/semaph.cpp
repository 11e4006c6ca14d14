// VSemaphore: a counting semaphore on one atomic word and an address wait.
//
// Taking a unit when the count is positive, and posting when nobody
// sleeps, are each one compare-and-swap in user space.  A thread that must
// wait registers itself in the word's high half and sleeps on the count
// half; a post that ends an empty spell and finds registered sleepers
// wakes as many as it added units, and a sleeper that takes a unit while
// more wait wakes the next.  A woken thread competes for the unit like any
// other caller and sleeps again when it loses.
#include <errno.h>

#include <bit>
#include <new>

#include "internal/alloc.h"
#include "platform/sync.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {
namespace {

constexpr uint64_t kOneSleeper = uint64_t{1} << 32;
constexpr uint64_t kCountMask = kOneSleeper - 1;

uint32_t CountOf(uint64_t state) { return static_cast<uint32_t>(state); }
uint32_t SleepersOf(uint64_t state) {
  return static_cast<uint32_t>(state >> 32);
}

// The count half of the word, the one the kernel compares and sleeps on.
const uint32_t *CountWord(VSemaphoreRecord *s) {
  auto *halves = reinterpret_cast<const uint32_t *>(&s->state);
  return std::endian::native == std::endian::little ? halves : halves + 1;
}

VRC CreateSemaphore(int initial, VSemaphore *out) {
  // An initial count out of range is refused as the system would refuse it.
  if (initial < 0 || initial > VSEMAPHORE_MAX_COUNT) return VRC_FAILURE;
  auto *s = static_cast<VSemaphoreRecord *>(Malloc(sizeof(VSemaphoreRecord)));
  if (s == nullptr) return ENOMEM;
  new (&s->state) std::atomic<uint64_t>(static_cast<uint64_t>(initial));
  *out = s;
  return 0;
}

void Post(VSemaphoreRecord *s, int n) {
  if (n < 1) return;
  uint64_t old = s->state.load(std::memory_order_relaxed);
  uint64_t next;
  do {
    uint64_t count = CountOf(old) + static_cast<uint64_t>(n);
    if (count > VSEMAPHORE_MAX_COUNT) count = VSEMAPHORE_MAX_COUNT;
    next = (old & ~kCountMask) | count;
  } while (!s->state.compare_exchange_weak(old, next, std::memory_order_release,
                                           std::memory_order_relaxed));
  // Sleepers are woken only by the post that ends an empty spell: while
  // units wait, a woken thread is already on its way, and each waiter that
  // takes a unit wakes the next (see ChainWake).  A stream of posts to a
  // slow consumer thus costs one wake-up, not one per post.
  uint32_t sleepers = SleepersOf(old);
  if (sleepers == 0 || CountOf(old) != 0) return;
  // s may be gone by now (a waiter took the unit and destroyed it); the
  // wake only uses the address as a key.
  int wake = n < static_cast<int>(sleepers) ? n : static_cast<int>(sleepers);
  platform::AddressWake(CountWord(s), wake);
}

// Takes one unit if there is one, changing the sleeper count by `leaving`
// (0, or kOneSleeper when a registered sleeper takes it) in the same step.
// `after` receives the word as the take left it.
bool TryDecrement(VSemaphoreRecord *s, uint64_t leaving,
                  uint64_t *after = nullptr) {
  uint64_t old = s->state.load(std::memory_order_relaxed);
  while (CountOf(old) > 0) {
    uint64_t next = old - 1 - leaving;
    if (s->state.compare_exchange_weak(old, next, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      if (after != nullptr) *after = next;
      return true;
    }
  }
  return false;
}

// After a registered sleeper took a unit: units left and threads still
// asleep mean this one was the woken thread the post relied on, so it
// wakes the next.  Judged from the word its own take left, without reading
// the record again (another waiter may destroy it at once).
void ChainWake(VSemaphoreRecord *s, uint64_t after) {
  if (CountOf(after) > 0 && SleepersOf(after) > 0) {
    platform::AddressWake(CountWord(s), 1);
  }
}

// The last look of a sleeper whose time ran out: it takes a unit that
// arrived meanwhile, or leaves without one.
VRC LeaveAfterTimeout(VSemaphoreRecord *s) {
  uint64_t old = s->state.load(std::memory_order_relaxed);
  for (;;) {
    bool take = CountOf(old) > 0;
    uint64_t next = old - kOneSleeper - (take ? 1 : 0);
    if (s->state.compare_exchange_weak(old, next, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      if (!take) return VRC_TIMEOUT;
      ChainWake(s, next);
      return 0;
    }
  }
}

VRC Take(VSemaphoreRecord *s, uint32_t milliseconds) {
  if (TryDecrement(s, 0)) return 0;
  if (milliseconds == 0) return VRC_TIMEOUT;
  WaitLimit limit = StartWait(milliseconds);
  int64_t deadline = limit.infinite ? platform::kNoDeadline : limit.deadline;
  s->state.fetch_add(kOneSleeper, std::memory_order_relaxed);
  for (;;) {
    uint64_t after = 0;
    if (TryDecrement(s, kOneSleeper, &after)) {
      ChainWake(s, after);
      return 0;
    }
    if (platform::AddressWait(CountWord(s), 0, deadline) == ETIMEDOUT) {
      return LeaveAfterTimeout(s);
    }
  }
}

}  // namespace

VRC SemaphoreTimedWait(VSemaphore s, uint32_t milliseconds) {
  return Take(s, milliseconds);
}

void SemaphoreWaitSpinning(VSemaphore s, int spins) {
  for (int i = 0; i < spins; i++) {
    if (CountOf(s->state.load(std::memory_order_relaxed)) > 0 &&
        TryDecrement(s, 0)) {
      return;
    }
    platform::SpinPause();
  }
  Take(s, VSYNC_INFINITE);
}

int32_t SemaphoreCount(VSemaphore s) {
  return static_cast<int32_t>(CountOf(s->state.load(std::memory_order_relaxed)));
}

int32_t SemaphoreSleeperCount(VSemaphore s) {
  return static_cast<int32_t>(
      SleepersOf(s->state.load(std::memory_order_relaxed)));
}

}  // namespace vantrel::internal

VRC VSemaphoreCreateN(int initial, VSemaphore *out) {
  if (out == nullptr) return EINVAL;
  return vantrel::internal::CreateSemaphore(initial, out);
}

VRC VSemaphoreDestroy(VSemaphore s) {
  if (s == nullptr) return EINVAL;
  vantrel::internal::Free(s);
  return 0;
}

VRC VSemaphorePost(VSemaphore s) {
  if (s == nullptr) return EINVAL;
  vantrel::internal::Post(s, 1);
  return 0;
}

VRC VSemaphorePostN(VSemaphore s, int n) {
  if (s == nullptr) return EINVAL;
  vantrel::internal::Post(s, n);
  return 0;
}

VRC VSemaphoreWait(VSemaphore s) {
  if (s == nullptr) return EINVAL;
  return vantrel::internal::Take(s, VSYNC_INFINITE);
}

VRC VSemaphoreTry(VSemaphore s) {
  if (s == nullptr) return EINVAL;
  return vantrel::internal::TryDecrement(s, 0) ? 0 : EAGAIN;
}
