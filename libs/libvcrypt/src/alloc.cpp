#include "alloc.h"

#include <openssl/crypto.h>
#include <stdlib.h>

#include <atomic>

namespace vcrypt::internal {
namespace {

// Plain constant-initialised globals: nothing runs at load time.
constinit std::atomic<int> g_armed_threads{0};
constinit std::atomic<bool (*)()> g_fail_hook{nullptr};
constinit std::atomic<int64_t> g_live{0};
constinit std::atomic<void (*)(const void *, size_t)> g_observer{nullptr};

struct ArmState {
  bool armed;
  bool repeat;
  uint64_t fired;
  uint64_t seen;
  uint64_t nth;
};
constinit thread_local ArmState t_arm{};

// The header in front of every caller's block.  Sixteen bytes keep the
// payload as aligned as malloc's own result.
struct alignas(16) BlockHeader {
  size_t size;
};

}  // namespace

bool AllocAttemptFails() {
  bool (*hook)() = g_fail_hook.load(std::memory_order_relaxed);
  if (hook != nullptr && hook()) return true;
  if (g_armed_threads.load(std::memory_order_relaxed) == 0 || !t_arm.armed) {
    return false;
  }
  ++t_arm.seen;
  if (t_arm.seen == t_arm.nth || (t_arm.repeat && t_arm.seen > t_arm.nth)) {
    ++t_arm.fired;
    return true;
  }
  return false;
}

void *Malloc(size_t size) {
  if (AllocAttemptFails()) return nullptr;
  void *block = malloc(size == 0 ? 1 : size);
  if (block != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void *Calloc(size_t count, size_t size) {
  if (AllocAttemptFails()) return nullptr;
  void *block = calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  if (block != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void Free(void *block) {
  if (block == nullptr) return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  free(block);
}

unsigned char *AllocBlock(size_t size) {
  if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
  auto *header = static_cast<BlockHeader *>(Malloc(sizeof(BlockHeader) + size));
  if (header == nullptr) return nullptr;
  header->size = size;
  return reinterpret_cast<unsigned char *>(header + 1);
}

void FreeBlock(void *payload) {
  if (payload == nullptr) return;
  BlockHeader *header = static_cast<BlockHeader *>(payload) - 1;
  FreeWiped(header, sizeof(BlockHeader) + header->size);
}

void FreeWiped(void *block, size_t size) {
  if (block == nullptr) return;
  OPENSSL_cleanse(block, size);
  auto *observer = g_observer.load(std::memory_order_relaxed);
  if (observer != nullptr) observer(block, size);
  Free(block);
}

void AllocFailArm(uint64_t nth, bool repeat) {
  if (!t_arm.armed) g_armed_threads.fetch_add(1, std::memory_order_relaxed);
  t_arm = ArmState{true, repeat, 0, 0, nth};
}

uint64_t AllocFailDisarm() {
  uint64_t fired = t_arm.fired;
  if (t_arm.armed) g_armed_threads.fetch_sub(1, std::memory_order_relaxed);
  t_arm = ArmState{};
  return fired;
}

void SetAllocFailHook(bool (*hook)()) {
  g_fail_hook.store(hook, std::memory_order_relaxed);
}

int64_t AllocLiveBlocks() { return g_live.load(std::memory_order_relaxed); }

void SetReleaseObserver(void (*observer)(const void *block, size_t size)) {
  g_observer.store(observer, std::memory_order_relaxed);
}

}  // namespace vcrypt::internal
