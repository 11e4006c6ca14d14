// Shared by the socket operations' units: closing a socket together with
// its supplemental partner, and waiting for sockets on the monotonic clock.
#ifndef VANTREL_NET_SOCKET_OPS_H
#define VANTREL_NET_SOCKET_OPS_H

#include <stddef.h>
#include <stdint.h>

#include "platform/socket.h"
#include "vantrel/vbase.h"
#include "vantrel/vsocket.h"

namespace vantrel::internal {

// Closes s; in supplemental mode its partner is forgotten and closed first,
// so that no other thread finds a pair naming a descriptor being reused.
void SocketCloseWithPartner(VSocket s);

// A point on the monotonic clock to wait until, or none (no limit).
class SocketDeadline {
 public:
  // Milliseconds from now; a negative number means no limit.
  static SocketDeadline AfterMilliseconds(int64_t milliseconds);
  static SocketDeadline Never() { return SocketDeadline(-1); }
  bool limited() const { return at_ >= 0; }
  // What poll() should wait next: -1 without limit, else the milliseconds
  // left rounded up (0 once passed), at most INT32_MAX.
  int PollMilliseconds() const;
  bool Passed() const;

 private:
  explicit SocketDeadline(int64_t at) : at_(at) {}
  int64_t at_;  // monotonic nanoseconds, -1 for none
};

// Polls entries until at least one reports an event or the deadline
// passes: 0, VRC_TIMEOUT, or the poll's error in the socket layer's
// numbering.  With retry_interrupted an interrupted poll is made again with
// the time left; otherwise it returns 10004.
VRC SocketPollUntil(platform::PollEntry *entries, size_t count,
                    const SocketDeadline &deadline, bool retry_interrupted);

// True when the revents of an entry polled for input say a receive (or an
// accept) would not block: data, a connection, the peer's end or an error.
inline bool SocketPollReadable(int16_t revents) {
  return (revents & (platform::kPollIn | platform::kPollError |
                     platform::kPollHangUp)) != 0;
}

// Waits until one of the sockets (one or two) is readable and stores its
// index in *ready: 0, VRC_TIMEOUT, or 10009 when one is not open.
VRC SocketWaitReadable(const VSocket *sockets, size_t count,
                       const SocketDeadline &deadline, size_t *ready);

}  // namespace vantrel::internal

#endif  // VANTREL_NET_SOCKET_OPS_H
