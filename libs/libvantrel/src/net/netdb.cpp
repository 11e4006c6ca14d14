// Host and service lookup into the caller's records.  The strings and lists
// of a record live in a buffer the calling thread keeps for its lookups,
// grown when the system says a record does not fit and released when the
// thread ends.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "internal/alloc.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "vantrel/vnetdb.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

namespace vp = vantrel::platform;

constexpr size_t kFirstSize = 1024;
constexpr size_t kLargestSize = size_t{1} << 20;
constexpr size_t kDottedQuadSize = 16;

// A thread's lookup storage: this header, then `size` bytes.
struct alignas(16) LookupBuffer {
  size_t size;
};

char *BytesOf(LookupBuffer *buffer) {
  return reinterpret_cast<char *>(buffer + 1);
}

// The key of the per-thread buffers, plus one (0 until made).
std::atomic<uintptr_t> g_key{0};

void ReleaseBuffer(void *buffer) { Free(buffer); }

// Makes the key on first use; a thread that loses the race to make it
// deletes its own.
int LookupKey(vp::TlsKey *key) {
  uintptr_t value = g_key.load(std::memory_order_acquire);
  if (value == 0) {
    vp::TlsKey made;
    int error = vp::TlsKeyCreate(&made, ReleaseBuffer);
    if (error != 0) return error;
    value = made.value + 1;
    uintptr_t expected = 0;
    if (!g_key.compare_exchange_strong(expected, value,
                                       std::memory_order_acq_rel)) {
      (void)vp::TlsKeyDelete(made);
      value = expected;
    }
  }
  key->value = value - 1;
  return 0;
}

// The thread's buffer with room for at least size bytes.
int BufferOfSize(vp::TlsKey key, size_t size, LookupBuffer **out) {
  auto *buffer = static_cast<LookupBuffer *>(vp::TlsGet(key));
  if (buffer != nullptr && buffer->size >= size) {
    *out = buffer;
    return 0;
  }
  auto *grown =
      static_cast<LookupBuffer *>(Realloc(buffer, sizeof(LookupBuffer) + size));
  if (grown == nullptr) return ENOMEM;
  // Setting a slot fails only when the thread had none yet, so nothing
  // points at the old block afterwards.
  int error = vp::TlsSet(key, grown);
  if (error != 0) {
    Free(grown);
    return error;
  }
  grown->size = size;
  *out = grown;
  return 0;
}

// Runs lookup(bytes, size) in the thread's buffer, doubling the buffer
// while the record does not fit.
template <typename Lookup>
VRC LookUp(Lookup lookup) {
  vp::TlsKey key;
  int error = LookupKey(&key);
  if (error != 0) return error;
  auto *current = static_cast<LookupBuffer *>(vp::TlsGet(key));
  size_t size = current != nullptr ? current->size : kFirstSize;
  for (;;) {
    LookupBuffer *buffer = nullptr;
    error = BufferOfSize(key, size, &buffer);
    if (error != 0) return error;
    error = lookup(BytesOf(buffer), buffer->size);
    if (error != ERANGE || size >= kLargestSize) return error;
    size *= 2;
  }
}

VRC ServiceByName(const char *name, const char *protocol, servent *out) {
  VRC rc = LookUp([&](char *bytes, size_t size) {
    return vp::ServiceByName(name, protocol, out, bytes, size);
  });
  return rc == ENOENT ? VRC_FAILURE : rc;
}

// Sets the out buffer, which these lookups never fill.
void NoBuffer(char **buffer) {
  if (buffer != nullptr) *buffer = nullptr;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;
namespace vp = vantrel::platform;

VRC v_getservbyname_r(const char *name, const char *protocol,
                      struct servent *out, char **buffer) {
  vi::NoBuffer(buffer);
  if (name == nullptr || out == nullptr) return EINVAL;
  return vi::ServiceByName(name, protocol, out);
}

VRC v_gethostbyname_r(const char *name, struct hostent *out, char **buffer) {
  vi::NoBuffer(buffer);
  if (name == nullptr || out == nullptr) return EINVAL;
  return vi::LookUp([&](char *bytes, size_t size) {
    return vp::HostByName(name, out, bytes, size);
  });
}

VRC v_gethostbyaddr_r(const void *address, int length, int type,
                      struct hostent *out, char **buffer) {
  vi::NoBuffer(buffer);
  if (address == nullptr || length < 0 || out == nullptr) return EINVAL;
  return vi::LookUp([&](char *bytes, size_t size) {
    return vp::HostByAddress(address, static_cast<uint32_t>(length), type, out,
                             bytes, size);
  });
}

VRC v_getservport(const char *name, const char *protocol, uint32_t *port) {
  if (name == nullptr || port == nullptr) return EINVAL;
  struct servent record;
  VRC rc = vi::ServiceByName(name, protocol, &record);
  if (rc != 0) return rc;
  // s_port holds the port's two bytes in network order.
  uint16_t network = static_cast<uint16_t>(record.s_port);
  uint8_t bytes[2];
  memcpy(bytes, &network, sizeof bytes);
  *port = static_cast<uint32_t>(bytes[0]) << 8 | bytes[1];
  return 0;
}

int v_inet_ntoa_r(uint32_t address, char *buffer, size_t size) {
  if (buffer == nullptr || size < vi::kDottedQuadSize) return -1;
  uint8_t bytes[4];  // network order: the most significant first
  memcpy(bytes, &address, sizeof bytes);
  snprintf(buffer, size, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return 0;
}
