// Moving whole buffers over a connected socket: send all, receive exactly,
// and the gathering sends.  Interrupted calls are resumed; a send never
// raises SIGPIPE (the platform layer sends with MSG_NOSIGNAL).
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "platform/socket.h"
#include "vantrel/vrc.h"
#include "vantrel/vsocket.h"

namespace vantrel::internal {
namespace {

namespace vp = vantrel::platform;

// The gathering sends start with this much room and double it.
constexpr size_t kGatherStart = 512;

// One send or receive of up to size bytes.
using Transfer = int (*)(int sock, void *data, size_t size, size_t *moved);

int SendSome(int sock, void *data, size_t size, size_t *moved) {
  return vp::SocketSend(sock, data, size, 0, moved);
}

int ReceiveSome(int sock, void *data, size_t size, size_t *moved) {
  return vp::SocketReceive(sock, data, size, 0, moved);
}

// Moves exactly length bytes.  One call is made even for a length of 0, and
// a call that moves nothing means the connection is gone.
VRC TransferAll(VSocket s, char *data, int32_t length, Transfer transfer) {
  size_t left = static_cast<size_t>(length);
  for (;;) {
    size_t moved = 0;
    int error = transfer(s, data, left, &moved);
    if (error == EINTR) continue;
    if (error != 0) return vp::SocketErrorCode(error);
    if (moved == 0) return VRC_CONNECTION_CLOSED;
    data += moved;
    left -= moved;
    if (left == 0) return 0;
  }
}

// A growing buffer of gathered pieces.
class Gather {
 public:
  ~Gather() { Free(bytes_); }
  bool Start() {
    bytes_ = static_cast<char *>(Malloc(kGatherStart));
    capacity_ = kGatherStart;
    return bytes_ != nullptr;
  }
  // EINVAL when the total would pass INT32_MAX, ENOMEM.
  VRC Append(const void *piece, int32_t length) {
    if (length < 0 || length > INT32_MAX - static_cast<int64_t>(size_)) {
      return EINVAL;
    }
    size_t needed = size_ + static_cast<size_t>(length);
    if (needed > capacity_) {
      size_t capacity = capacity_;
      while (capacity < needed) capacity *= 2;
      auto *grown = static_cast<char *>(Realloc(bytes_, capacity));
      if (grown == nullptr) return ENOMEM;
      bytes_ = grown;
      capacity_ = capacity;
    }
    if (length > 0) memcpy(bytes_ + size_, piece, static_cast<size_t>(length));
    size_ = needed;
    return 0;
  }
  char *bytes() const { return bytes_; }
  int32_t size() const { return static_cast<int32_t>(size_); }

 private:
  char *bytes_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Gathers the (pointer, int length) pairs of args, up to a null pointer,
// and sends them with one TransferAll.
VRC SendGathered(VSocket s, va_list args) {
  Gather gather;
  if (!gather.Start()) return ENOMEM;
  for (const void *piece = va_arg(args, const void *); piece != nullptr;
       piece = va_arg(args, const void *)) {
    VRC rc = gather.Append(piece, va_arg(args, int));
    if (rc != 0) return rc;
  }
  return TransferAll(s, gather.bytes(), gather.size(), SendSome);
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VSocketSend(VSocket s, const void *buffer, int32_t length) {
  if (buffer == nullptr || length < 0) return EINVAL;
  // The data is only read: SendSome takes it as the shared Transfer shape.
  return vi::TransferAll(s, static_cast<char *>(const_cast<void *>(buffer)),
                         length, vi::SendSome);
}

VRC VSocketRecv(VSocket s, void *buffer, int32_t length) {
  if (buffer == nullptr || length < 0) return EINVAL;
  // A receive of nothing would wait here for a byte to arrive; it reports
  // what a send of nothing does.
  if (length == 0) return VRC_CONNECTION_CLOSED;
  return vi::TransferAll(s, static_cast<char *>(buffer), length,
                         vi::ReceiveSome);
}

VRC VSocketSendAP(VSocket s, va_list args) { return vi::SendGathered(s, args); }

VRC VSocketSendVa(VSocket s, ...) {
  va_list args;
  va_start(args, s);
  VRC rc = vi::SendGathered(s, args);
  va_end(args);
  return rc;
}
