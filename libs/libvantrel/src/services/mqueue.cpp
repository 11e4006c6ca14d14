// VMsgQueue: a queue of one-message nodes.  Producers count a node in one
// atomic step that also tells them whether a consumer sleeps, then add it
// without a lock; consumers take the head node under a mutex that only
// consumers share, so a producer never waits for a consumer and neither
// side writes a cache line the other writes for every message.  Nodes of
// taken messages go back to the producers (see spares.h).
//
// Sleeping follows the thread pool's rule: a consumer that finds nothing
// registers in the producers' word and sleeps on its count half; a put that
// finds registered sleepers and no wake-up on its way chooses one and wakes
// it, and a consumer that has slept passes the wake-up on after its take
// while messages remain.  A burst of puts thus costs one wake-up.  Sleepers
// are counted, not named: any consumer that returns from its sleep clears
// the wake-up on its way if there is one (the chosen one may still be on
// its way back, and will count as an unchosen sleeper that left), so the
// two counts always add up to the consumers registered.
#include "services/mqueue.h"

#include <errno.h>

#include <bit>
#include <new>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "platform/sync.h"
#include "threads/sync_internal.h"

namespace vantrel::internal {
namespace {

using Node = VMsgQueueNode;

constexpr const char *kLockName = "MsgQueueAnon";
// A consumer that finds nothing looks again this many times (a microsecond
// or two) before it sleeps, so that a steady stream costs no sleeps.
constexpr int kIdleSpins = 50;

constexpr uint64_t kOneSleeper = uint64_t{1} << 32;
constexpr uint64_t kWakeOnItsWay = uint64_t{1} << 63;
constexpr uint64_t kPutsMask = kOneSleeper - 1;

uint32_t PutsOf(uint64_t state) { return static_cast<uint32_t>(state); }
uint32_t SleepersOf(uint64_t state) {
  return static_cast<uint32_t>((state & ~kWakeOnItsWay) >> 32);
}
bool WakeOnItsWay(uint64_t state) { return (state & kWakeOnItsWay) != 0; }

// The count half of the producers' word, the one the kernel compares and
// sleepers wait on.
const uint32_t *PutsWord(VMsgQueueRecord *q) {
  auto *halves = reinterpret_cast<const uint32_t *>(&q->state);
  return std::endian::native == std::endian::little ? halves : halves + 1;
}

// The word with a sleeper chosen to wake, when one sleeps and none is on
// its way already; otherwise the word unchanged.
uint64_t ChooseSleeper(uint64_t state) {
  if (SleepersOf(state) == 0 || WakeOnItsWay(state)) return state;
  return state - kOneSleeper + kWakeOnItsWay;
}

void DestroyParts(VMsgQueueRecord *q) {
  q->spares.Give(&q->taken);
  q->spares.FreeAll();
  if (q->lock != nullptr) VMutexDestroy(q->lock);
  Free(q);
}

VRC CreateQueue(VMsgQueue *out) {
  void *block = Calloc(1, sizeof(VMsgQueueRecord));
  if (block == nullptr) return ENOMEM;
  auto *q = new (block) VMsgQueueRecord{};
  q->nodes.Init();
  ScopeExit undo([q] { DestroyParts(q); });
  VRC rc = VMutexCreate(kLockName, &q->lock);
  if (rc != 0) return rc;
  undo.Dismiss();
  *out = q;
  return 0;
}

// Hands each message, oldest first, to the caller's visitor and releases
// its node.  No other thread uses the queue any more.
void Drain(VMsgQueueRecord *q, VVisitFunc visitor, void *argument) {
  while (Node *node = q->nodes.Pop()) {
    void *message = node->message;
    Free(node);
    if (visitor != nullptr) visitor(message, argument);
  }
}

// Takes the oldest message into *out if one has been counted; `lock` is
// held.  *takes receives the take count as the call left it.
bool TakeLocked(VMsgQueueRecord *q, void **out, uint32_t *takes) {
  bool claimed = q->takes.Claim(
      [q] { return PutsOf(q->state.load(std::memory_order_acquire)); });
  *takes = q->takes.taken.load(std::memory_order_relaxed);
  if (!claimed) return false;
  Node *node = q->nodes.PopClaimed();
  *out = node->message;
  q->spares.Add(&q->taken, node);
  return true;
}

// Chooses a sleeper and wakes it while messages remain beyond `takes`.
void PassWake(VMsgQueueRecord *q, uint32_t takes) {
  uint64_t state = q->state.load(std::memory_order_relaxed);
  while (PutsOf(state) != takes) {
    uint64_t next = ChooseSleeper(state);
    if (next == state) return;
    if (q->state.compare_exchange_weak(state, next, std::memory_order_relaxed,
                                       std::memory_order_relaxed)) {
      platform::AddressWake(PutsWord(q), 1);
      return;
    }
  }
}

// Leaves the sleepers, taking over the wake-up on its way if there is one.
void Unregister(VMsgQueueRecord *q) {
  uint64_t state = q->state.load(std::memory_order_relaxed);
  uint64_t next;
  do {
    next = WakeOnItsWay(state) ? state - kWakeOnItsWay : state - kOneSleeper;
  } while (!q->state.compare_exchange_weak(
      state, next, std::memory_order_acquire, std::memory_order_relaxed));
}

// Waits until something may have been put since `takes` was read: returns
// at once when it has, otherwise after a short spin or a sleep.  Spurious
// returns are allowed; the caller looks again.
void AwaitPut(VMsgQueueRecord *q, uint32_t takes) {
  for (int i = 0; i < kIdleSpins; i++) {
    if (PutsOf(q->state.load(std::memory_order_relaxed)) != takes) return;
    platform::SpinPause();
  }
  uint64_t state =
      q->state.fetch_add(kOneSleeper, std::memory_order_acq_rel) + kOneSleeper;
  // A put from here on sees this sleeper.  Takes never pass puts, so equal
  // counts mean the queue was empty when this consumer registered.
  if (PutsOf(state) == q->takes.taken.load(std::memory_order_acquire)) {
    platform::AddressWait(PutsWord(q), PutsOf(state), platform::kNoDeadline);
  }
  Unregister(q);
}

}  // namespace

VRC QueuePut(VMsgQueue q, void *message) {
  void *block = q->spares.Take();
  if (block == nullptr) block = Malloc(sizeof(Node));
  if (block == nullptr) return ENOMEM;
  auto *node = static_cast<Node *>(block);
  new (node) Node{};
  node->message = message;
  // The node is counted first, in one step that also says whether to wake
  // someone, and linked last: a consumer takes only linked nodes, so once
  // it has this message it may destroy the queue at once.  A consumer
  // that sees the count before the link waits the few instructions
  // between them.
  uint64_t state = q->state.load(std::memory_order_relaxed);
  uint64_t next;
  do {
    next = ChooseSleeper((state & ~kPutsMask) | PutsOf(state + 1));
  } while (!q->state.compare_exchange_weak(
      state, next, std::memory_order_relaxed, std::memory_order_relaxed));
  if (WakeOnItsWay(next) && !WakeOnItsWay(state)) {
    platform::AddressWake(PutsWord(q), 1);
  }
  q->nodes.Push(node);
  return 0;
}

VRC QueueGet(VMsgQueue q, void **out, int mode) {
  bool slept = false;
  for (;;) {
    uint32_t takes = 0;
    MutexAcquire(q->lock);
    bool took = TakeLocked(q, out, &takes);
    MutexRelease(q->lock);
    if (took) {
      if (slept) PassWake(q, takes);
      return 0;
    }
    if (mode == VMSGQUEUE_NOWAIT) return EAGAIN;
    AwaitPut(q, takes);
    slept = true;
  }
}

// Messages counted and not yet taken.  Takes are read first: they never
// pass the puts a consumer had seen, and this thread sees those too.
int QueueCount(VMsgQueue q) {
  uint32_t takes = q->takes.taken.load(std::memory_order_acquire);
  uint32_t puts = PutsOf(q->state.load(std::memory_order_acquire));
  return static_cast<int>(puts - takes);
}

int32_t QueueSleepers(VMsgQueue q) {
  return static_cast<int32_t>(
      SleepersOf(q->state.load(std::memory_order_acquire)));
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VMsgQueueCreate(VMsgQueue *out) {
  if (out == nullptr) return EINVAL;
  return vi::CreateQueue(out);
}

VRC VMsgQueueDestroy(VMsgQueue queue, VVisitFunc visitor, void *argument) {
  if (queue == nullptr) return EINVAL;
  vi::Drain(queue, visitor, argument);
  vi::DestroyParts(queue);
  return 0;
}

VRC VMsgQueuePut(VMsgQueue queue, void *message) {
  if (queue == nullptr) return EINVAL;
  return vi::QueuePut(queue, message);
}

VRC VMsgQueueGet(VMsgQueue queue, void **out, int mode) {
  if (queue == nullptr || out == nullptr) return EINVAL;
  return vi::QueueGet(queue, out, mode);
}

int VMsgQueueNumItems(VMsgQueue queue) {
  if (queue == nullptr) return 0;
  return vi::QueueCount(queue);
}
