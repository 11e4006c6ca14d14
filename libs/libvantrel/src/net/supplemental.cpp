// The supplemental socket table: which IPv4 listener stands beside which
// IPv6 one.  A hash table of 127 buckets keyed by socket, each pair stored
// under both of its sockets, behind the reader/writer lock
// "supplemental_sockets".
#include <errno.h>
#include <stdint.h>

#include <atomic>

#include "internal/alloc.h"
#include "net/socket_layer.h"
#include "vantrel/vhash.h"
#include "vantrel/vrc.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {
namespace {

constexpr uint32_t kBuckets = 127;
constexpr char kLockName[] = "supplemental_sockets";

struct PairEntry {
  uint32_t socket;
  uint32_t partner;
};

// Made once at start-up, before other threads run, and kept; the flag
// publishes them.
VHash *g_table = nullptr;
VRWLock g_lock = nullptr;
std::atomic<bool> g_on{false};

uint32_t HashSocket(const void *entry, void *) {
  return static_cast<const PairEntry *>(entry)->socket;
}

int CompareSocket(const void *key, const void *entry, void *) {
  return static_cast<const PairEntry *>(key)->socket !=
         static_cast<const PairEntry *>(entry)->socket;
}

PairEntry *Find(VSocket socket) {
  PairEntry key{static_cast<uint32_t>(socket), 0};
  return static_cast<PairEntry *>(VHashFind(g_table, &key));
}

void Forget(PairEntry *entry) {
  VHashDelete(g_table, entry);
  VHashFreeWith(entry, Free);
}

PairEntry *NewEntry(VSocket socket, VSocket partner) {
  auto *entry =
      static_cast<PairEntry *>(VHashAllocWith(Malloc, sizeof(PairEntry)));
  if (entry != nullptr) {
    *entry = {static_cast<uint32_t>(socket), static_cast<uint32_t>(partner)};
  }
  return entry;
}

}  // namespace

VRC SupplementalStart() {
  if (g_on.load(std::memory_order_acquire)) return 0;
  VHash *table = VHashCreateWith(Malloc, kBuckets, HashSocket, nullptr,
                                 CompareSocket, nullptr);
  if (table == nullptr) return ENOMEM;
  VRWLock lock = nullptr;
  VRC rc = VRWLockCreate(kLockName, &lock);
  if (rc != 0) {
    VHashDestroyWith(table, nullptr, nullptr, Free);
    return rc;
  }
  g_table = table;
  g_lock = lock;
  g_on.store(true, std::memory_order_release);
  return 0;
}

bool SocketSupplementalMode() { return g_on.load(std::memory_order_acquire); }

VRC SupplementalRecordPair(VSocket socket, VSocket partner) {
  if (!SocketSupplementalMode()) return VRC_NOT_READY;
  PairEntry *entry = NewEntry(socket, partner);
  if (entry == nullptr) return ENOMEM;
  PairEntry *reverse = NewEntry(partner, socket);
  if (reverse == nullptr) {
    VHashFreeWith(entry, Free);
    return ENOMEM;
  }
  VRC rc = VRWLockForWrite(g_lock);
  if (rc != 0) {
    VHashFreeWith(entry, Free);
    VHashFreeWith(reverse, Free);
    return rc;
  }
  VHashInsert(g_table, entry);
  VHashInsert(g_table, reverse);
  return VRWLockUnlock(g_lock);
}

VRC SupplementalRemovePair(VSocket socket) {
  if (!SocketSupplementalMode()) return 0;
  VRC rc = VRWLockForWrite(g_lock);
  if (rc != 0) return rc;
  PairEntry *entry = Find(socket);
  if (entry != nullptr) {
    VSocket partner = static_cast<VSocket>(entry->partner);
    Forget(entry);
    PairEntry *reverse = Find(partner);
    if (reverse != nullptr) Forget(reverse);
  }
  return VRWLockUnlock(g_lock);
}

VRC SupplementalLookupPartner(VSocket socket, VSocket *partner) {
  if (!SocketSupplementalMode()) return VRC_NOT_FOUND;
  if (partner == nullptr) return EINVAL;
  VRC rc = VRWLockForRead(g_lock);
  if (rc != 0) return rc;
  const PairEntry *entry = Find(socket);
  if (entry == nullptr) {
    (void)VRWLockUnlock(g_lock);
    return VRC_NOT_FOUND;
  }
  *partner = static_cast<VSocket>(entry->partner);
  return VRWLockUnlock(g_lock);
}

}  // namespace vantrel::internal
