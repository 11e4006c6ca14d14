#include "internal/alloc.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

namespace vantrel::internal {
namespace {

// Plain globals only: no constructors run at load time.  Set for good once
// any thread arms a failure or a count; until then an allocation looks at
// nothing else.
std::atomic<bool> g_watched{false};

struct Watch {
  bool armed;
  bool repeat;
  bool fired;
  uint64_t seen;
  uint64_t nth;
  uint32_t counting;  // open AllocCountBegin calls
  uint64_t counted;
};
thread_local Watch t_watch;

// The watched path: counts the attempt and tells whether it must fail.
[[gnu::noinline]] bool WatchedAttempt() {
  Watch &w = t_watch;
  if (w.counting != 0) ++w.counted;
  if (!w.armed) return false;
  ++w.seen;
  if (w.seen == w.nth || (w.repeat && w.seen > w.nth)) {
    w.fired = true;
    return true;
  }
  return false;
}

// True when this attempt must fail.  Costs one relaxed load unless a test
// is watching.
inline bool ShouldFail() {
  if (!g_watched.load(std::memory_order_relaxed)) return false;
  return WatchedAttempt();
}

}  // namespace

void *Malloc(size_t size) {
  if (ShouldFail()) return nullptr;
  return malloc(size == 0 ? 1 : size);
}

void *Calloc(size_t count, size_t size) {
  if (ShouldFail()) return nullptr;
  if (count == 0 || size == 0) count = size = 1;
  return calloc(count, size);
}

void *Realloc(void *block, size_t size) {
  if (ShouldFail()) return nullptr;
  return realloc(block, size == 0 ? 1 : size);
}

char *Strdup(const char *text) { return Strndup(text, strlen(text)); }

char *Strndup(const char *text, size_t length) {
  length = strnlen(text, length);
  char *copy = static_cast<char *>(Malloc(length + 1));
  if (copy == nullptr) return nullptr;
  memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void Free(void *block) { free(block); }

void AllocFailArm(uint64_t nth, bool repeat) {
  Watch &w = t_watch;
  w.armed = true;
  w.repeat = repeat;
  w.fired = false;
  w.seen = 0;
  w.nth = nth;
  g_watched.store(true, std::memory_order_relaxed);
}

bool AllocFailDisarm() {
  Watch &w = t_watch;
  bool fired = w.fired;
  w.armed = false;
  w.fired = false;
  // Other threads may still be armed; the per-thread state keeps them
  // exact, the global flag only spares the thread-local lookup when nobody
  // ever was.
  return fired;
}

void AllocCountBegin() {
  ++t_watch.counting;
  g_watched.store(true, std::memory_order_relaxed);
}

void AllocCountEnd() {
  if (t_watch.counting != 0) --t_watch.counting;
}

uint64_t AllocThreadCount() { return t_watch.counted; }

}  // namespace vantrel::internal
