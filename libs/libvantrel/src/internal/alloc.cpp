#include "internal/alloc.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

namespace vantrel::internal {
namespace {

// Plain globals only: no constructors run at load time.
std::atomic<uint64_t> g_attempts{0};
std::atomic<bool> g_armed{false};

struct ArmState {
  bool armed;
  bool repeat;
  bool fired;
  uint64_t seen;
  uint64_t nth;
};
thread_local ArmState t_arm;

// True when this attempt must fail.  Costs one relaxed load unless a test
// has armed the hook.
inline bool ShouldFail() {
  g_attempts.fetch_add(1, std::memory_order_relaxed);
  if (!g_armed.load(std::memory_order_relaxed) || !t_arm.armed) return false;
  ++t_arm.seen;
  if (t_arm.seen == t_arm.nth || (t_arm.repeat && t_arm.seen > t_arm.nth)) {
    t_arm.fired = true;
    return true;
  }
  return false;
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
  t_arm = ArmState{true, repeat, false, 0, nth};
  g_armed.store(true, std::memory_order_relaxed);
}

bool AllocFailDisarm() {
  bool fired = t_arm.fired;
  t_arm = ArmState{};
  // Other threads may still be armed; the per-thread flag keeps them exact,
  // the global one only saves the thread-local lookup when nobody is.
  return fired;
}

uint64_t AllocCount() { return g_attempts.load(std::memory_order_relaxed); }

}  // namespace vantrel::internal
