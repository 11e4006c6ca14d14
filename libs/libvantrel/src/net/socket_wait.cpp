// Readiness waits: one socket (with its supplemental partner), a list of
// them, and the lists themselves.  poll() rather than select(), so that
// descriptors above 1023 can be waited for; the limit of
// VSOCKET_WAIT_MAX distinct sockets per wait stays part of the contract.
#include <errno.h>
#include <limits.h>
#include <stdarg.h>

#include "internal/alloc.h"
#include "net/socket_layer.h"
#include "net/socket_ops.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "vantrel/vlist.h"
#include "vantrel/vrc.h"
#include "vantrel/vsocket.h"

namespace vantrel::internal {
namespace {

namespace vp = vantrel::platform;

constexpr int64_t kNanosPerMilli = 1000000;

VRC NotOpen() { return vp::SocketErrorCode(EBADF); }

// The distinct sockets of one wait, with an index from socket to entry.
class PollSet {
 public:
  PollSet() {
    for (int16_t &slot : slots_) slot = kEmpty;
  }
  // Adds s unless present or the set is full.
  void Add(VSocket s) {
    int16_t *slot = SlotOf(s);
    if (*slot != kEmpty || count_ == VSOCKET_WAIT_MAX) return;
    *slot = static_cast<int16_t>(count_);
    entries_[count_++] = {s, vp::kPollIn, 0};
  }
  // True when s is in the set and was found readable.
  bool Readable(VSocket s) {
    int16_t index = *SlotOf(s);
    return index != kEmpty && SocketPollReadable(entries_[index].revents);
  }
  bool AnyNotOpen() const {
    for (size_t i = 0; i < count_; ++i) {
      if ((entries_[i].revents & vp::kPollInvalid) != 0) return true;
    }
    return false;
  }
  vp::PollEntry *entries() { return entries_; }
  size_t count() const { return count_; }

 private:
  static constexpr int16_t kEmpty = -1;
  static constexpr size_t kSlots = 2 * VSOCKET_WAIT_MAX;  // a power of 2

  // Open addressing; the table is never more than half full.
  int16_t *SlotOf(VSocket s) {
    size_t i = (static_cast<uint32_t>(s) * 2654435761u) % kSlots;
    while (slots_[i] != kEmpty && entries_[slots_[i]].sock != s) {
      i = (i + 1) % kSlots;
    }
    return &slots_[i];
  }

  vp::PollEntry entries_[VSOCKET_WAIT_MAX];
  int16_t slots_[kSlots];
  size_t count_ = 0;
};

VSocketEntry *EntryOf(void *item) { return static_cast<VSocketEntry *>(item); }

// Builds the set of a list; 10009 when an entry names no descriptor at all
// (poll() would skip it silently).
VRC FillSet(VList *list, PollSet *set) {
  for (void *item = VListFirst(list); item != nullptr; item = VListNext(item)) {
    VSocketEntry *entry = EntryOf(item);
    if (entry->socket < 0) return NotOpen();
    entry->ready = 0;
    set->Add(entry->socket);
  }
  return 0;
}

// Sets the ready flags from a polled set; the number of ready entries.
int MarkReady(VList *list, PollSet *set) {
  int ready = 0;
  for (void *item = VListFirst(list); item != nullptr; item = VListNext(item)) {
    VSocketEntry *entry = EntryOf(item);
    VSocket partner = VSOCKET_INVALID;
    if (set->Readable(entry->socket) ||
        (SupplementalLookupPartner(entry->socket, &partner) == 0 &&
         set->Readable(partner))) {
      entry->ready = 1;
      ++ready;
    }
  }
  return ready;
}

int FreeEntry(void *item, void *) {
  VListFreeWith(item, Free);
  return 0;
}

bool Append(VList *list, VSocket s) {
  auto *entry =
      static_cast<VSocketEntry *>(VListAllocWith(Malloc, sizeof(VSocketEntry)));
  if (entry == nullptr) return false;
  *entry = {s, 0};
  VListInsertAfter(list, entry, VListTail(list));
  return true;
}

// Appends s and, in supplemental mode, its partner.
bool AppendWithPartner(VList *list, VSocket s) {
  VSocket partner = VSOCKET_INVALID;
  if (!Append(list, s)) return false;
  return SupplementalLookupPartner(s, &partner) != 0 || Append(list, partner);
}

}  // namespace

SocketDeadline SocketDeadline::AfterMilliseconds(int64_t milliseconds) {
  if (milliseconds < 0) return Never();
  return SocketDeadline(vp::MonotonicNanoseconds() +
                        milliseconds * kNanosPerMilli);
}

int SocketDeadline::PollMilliseconds() const {
  if (at_ < 0) return -1;
  int64_t left = at_ - vp::MonotonicNanoseconds();
  if (left <= 0) return 0;
  int64_t ms = (left + kNanosPerMilli - 1) / kNanosPerMilli;
  return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

bool SocketDeadline::Passed() const {
  return at_ >= 0 && vp::MonotonicNanoseconds() >= at_;
}

VRC SocketPollUntil(vp::PollEntry *entries, size_t count,
                    const SocketDeadline &deadline, bool retry_interrupted) {
  for (;;) {
    int ready = 0;
    int error =
        vp::SocketPoll(entries, count, deadline.PollMilliseconds(), &ready);
    if (error == EINTR && retry_interrupted) continue;
    if (error != 0) return vp::SocketErrorCode(error);
    if (ready > 0) return 0;
    // A limit beyond what one poll() can wait is waited for in parts.
    if (deadline.Passed() || !deadline.limited()) return VRC_TIMEOUT;
  }
}

VRC SocketWaitReadable(const VSocket *sockets, size_t count,
                       const SocketDeadline &deadline, size_t *ready) {
  vp::PollEntry entries[2];
  for (size_t i = 0; i < count; ++i) {
    if (sockets[i] < 0) return NotOpen();
    entries[i] = {sockets[i], vp::kPollIn, 0};
  }
  for (;;) {
    VRC rc = SocketPollUntil(entries, count, deadline, true);
    if (rc != 0) return rc;
    for (size_t i = 0; i < count; ++i) {
      if ((entries[i].revents & vp::kPollInvalid) != 0) return NotOpen();
    }
    for (size_t i = 0; i < count; ++i) {
      if (SocketPollReadable(entries[i].revents)) {
        *ready = i;
        return 0;
      }
    }
  }
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VSocketWait(VSocket s, int32_t milliseconds) {
  VSocket sockets[2] = {s, VSOCKET_INVALID};
  size_t count = vi::SupplementalLookupPartner(s, &sockets[1]) == 0 ? 2 : 1;
  size_t ready = 0;
  return vi::SocketWaitReadable(
      sockets, count, vi::SocketDeadline::AfterMilliseconds(milliseconds),
      &ready);
}

VRC VSocketWaitMultiple(VList *list, int32_t milliseconds) {
  if (list == nullptr || VListFirst(list) == nullptr) return EINVAL;
  vi::SocketDeadline deadline =
      vi::SocketDeadline::AfterMilliseconds(milliseconds);
  for (;;) {
    vi::PollSet set;
    VRC rc = vi::FillSet(list, &set);
    if (rc != 0) return rc;
    rc = vi::SocketPollUntil(set.entries(), set.count(), deadline, false);
    if (rc != 0) return rc;
    if (set.AnyNotOpen()) return vi::NotOpen();
    if (vi::MarkReady(list, &set) > 0) return 0;
  }
}

VList *VSocketEntryListCreate(VSocket s, ...) {
  VList *list = VListCreateWith(vi::Malloc);
  if (list == nullptr) return nullptr;
  va_list args;
  va_start(args, s);
  bool complete = true;
  for (VSocket next = s; next != 0; next = va_arg(args, VSocket)) {
    complete = vi::AppendWithPartner(list, next);
    if (!complete) break;
  }
  va_end(args);
  if (!complete) {
    VListDestroyWith(list, vi::FreeEntry, nullptr, vi::Free);
    return nullptr;
  }
  return list;
}
