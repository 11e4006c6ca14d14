// VGate: open, closed, or pulsed.  A release advances a generation, which
// lets through exactly the threads waiting at that moment and leaves the
// gate closed.
#include <errno.h>

#include "internal/alloc.h"
#include "platform/sync.h"
#include "threads/sync_internal.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {
namespace {

VRC CreateGate(VGate *out) {
  auto *g = static_cast<VGateRecord *>(Malloc(sizeof(VGateRecord)));
  if (g == nullptr) return ENOMEM;
  if (!InitGuarded(&g->guard, &g->cond)) {
    Free(g);
    return VRC_FAILURE;
  }
  g->generation = 0;
  g->waiters = 0;
  g->open = 0;
  *out = g;
  return 0;
}

// Sets the open flag.  Opening or pulsing also advances the generation,
// so the threads waiting at that moment pass even when the gate is closed
// again before they wake.
void Change(VGateRecord *g, int32_t open, bool pulse) {
  platform::MutexLock(&g->guard);
  g->open = open;
  if (open || pulse) g->generation++;
  if ((open || pulse) && g->waiters > 0) platform::CondBroadcast(&g->cond);
  platform::MutexUnlock(&g->guard);
}

void Pass(VGateRecord *g) {
  platform::MutexLock(&g->guard);
  uint32_t generation = g->generation;
  g->waiters++;
  GuardedWait(&g->guard, &g->cond, VSYNC_INFINITE, [g, generation] {
    return g->open != 0 || g->generation != generation;
  });
  g->waiters--;
  platform::MutexUnlock(&g->guard);
}

}  // namespace

int32_t GateWaiterCount(VGate g) {
  platform::MutexLock(&g->guard);
  int32_t n = g->waiters;
  platform::MutexUnlock(&g->guard);
  return n;
}

}  // namespace vantrel::internal

VRC VGateCreate(VGate *out) {
  if (out == nullptr) return EINVAL;
  return vantrel::internal::CreateGate(out);
}

VRC VGateDestroy(VGate g) {
  if (g == nullptr) return EINVAL;
  vantrel::internal::DestroyGuarded(&g->guard, &g->cond);
  vantrel::internal::Free(g);
  return 0;
}

VRC VGateOpen(VGate g) {
  if (g == nullptr) return EINVAL;
  vantrel::internal::Change(g, 1, false);
  return 0;
}

VRC VGateClose(VGate g) {
  if (g == nullptr) return EINVAL;
  vantrel::internal::Change(g, 0, false);
  return 0;
}

// A release also closes an open gate, as pulsing a manual-reset event does.
VRC VGateRelease(VGate g) {
  if (g == nullptr) return EINVAL;
  vantrel::internal::Change(g, 0, true);
  return 0;
}

VRC VGateWait(VGate g) {
  if (g == nullptr) return EINVAL;
  vantrel::internal::Pass(g);
  return 0;
}
