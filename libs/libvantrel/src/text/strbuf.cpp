// String buffers: a caller-held record over a data area that doubles as it
// grows, so appending n bytes costs amortised constant time per byte.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <type_traits>

#include "internal/alloc.h"
#include "platform/file.h"
#include "vantrel/vstrbuf.h"

// The record is part of the interface: callers allocate it themselves.
static_assert(std::is_standard_layout_v<vb_buffer>);
static_assert(offsetof(vb_buffer, data) == 0);
static_assert(offsetof(vb_buffer, capacity) == sizeof(void *));
static_assert(offsetof(vb_buffer, length) == sizeof(void *) + 4);
static_assert(offsetof(vb_buffer, allocate) == sizeof(void *) + 8);
static_assert(offsetof(vb_buffer, release) == 2 * sizeof(void *) + 8);
static_assert(sizeof(vb_buffer) == 3 * sizeof(void *) + 8);

namespace vantrel::internal {
namespace {

constexpr uint32_t kFirstCapacity = 128;

// Replaces the data area with a larger one that holds `needed` bytes and a
// terminator: twice the old capacity (128 for the first area), or
// needed + 1 when doubling is not enough.  Leaves the buffer unchanged on
// failure.
VRC Reallocate(vb_buffer *b, uint64_t needed) {
  if (needed >= UINT32_MAX) return ENOMEM;
  uint64_t capacity = b->data == nullptr ? kFirstCapacity : 2ull * b->capacity;
  if (capacity <= needed) capacity = needed + 1;
  if (capacity > UINT32_MAX) capacity = UINT32_MAX;
  char *area;
  if (b->data != nullptr && b->allocate == Malloc && b->release == Free) {
    // With the default pair, realloc is the same new area, copy and release
    // in one, and large areas can then grow without being copied.
    area = static_cast<char *>(Realloc(b->data, capacity));
    if (area == nullptr) return ENOMEM;
  } else {
    area = static_cast<char *>(b->allocate(capacity));
    if (area == nullptr) return ENOMEM;
    if (b->data != nullptr) {
      memcpy(area, b->data, b->length);
      b->release(b->data);
    }
  }
  b->data = area;
  b->capacity = static_cast<uint32_t>(capacity);
  return 0;
}

// Makes room for a content of `needed` bytes.  A buffer keeps its area while
// needed < capacity - 1.
inline VRC Grow(vb_buffer *b, uint64_t needed) {
  if (b->data != nullptr && needed + 1 < b->capacity) return 0;
  return Reallocate(b, needed);
}

inline void Terminate(vb_buffer *b) {
  if (b->data != nullptr) b->data[b->length] = '\0';
}

inline VRC ErrnoOr(VRC fallback) { return errno != 0 ? errno : fallback; }

VRC AppendBytes(vb_buffer *b, const void *bytes, size_t count) {
  VRC rc = Grow(b, uint64_t{b->length} + count);
  if (rc != 0) return rc;
  if (count != 0) memcpy(b->data + b->length, bytes, count);
  b->length += static_cast<uint32_t>(count);
  return 0;
}

VRC AppendText(vb_buffer *b, const char *text, size_t count) {
  VRC rc = AppendBytes(b, text, count);
  if (rc == 0) Terminate(b);
  return rc;
}

VRC AppendPadded(vb_buffer *b, const char *text, size_t count) {
  VRC rc = Grow(b, uint64_t{b->length} + count);
  if (rc != 0) return rc;
  size_t copied = strnlen(text, count);
  memcpy(b->data + b->length, text, copied);
  memset(b->data + b->length + copied, 0, count - copied);
  b->length += static_cast<uint32_t>(count);
  Terminate(b);
  return 0;
}

// Size of the stack area that takes a format's first pass when the buffer
// has less room left.
constexpr size_t kLocalFormat = 1024;

// Formats into the room after the content, or into a stack area when that
// room is smaller: when the text fits there, one pass is enough.  Otherwise
// the first pass has measured the text, and the second formats it into the
// grown area.  Whatever the pass, the buffer grows exactly as if the text's
// length had been measured first.
VRC Format(vb_buffer *b, const char *format, va_list first, va_list second) {
  // "%m" renders the caller's errno, so each pass starts from it.
  const int caller_errno = errno;
  char local[kLocalFormat];
  size_t spare = b->data != nullptr ? b->capacity - b->length : 0;
  bool in_place = spare >= sizeof local;
  char *target = in_place ? b->data + b->length : local;
  char saved = in_place ? *target : '\0';
  errno = caller_errno;
  int count = vsnprintf(target, in_place ? spare : sizeof local, format, first);
  if (count < 0) {
    if (in_place) *target = saved;
    return ErrnoOr(EINVAL);
  }
  if (!in_place && size_t(count) < sizeof local) {
    return AppendText(b, local, count);
  }
  if (in_place && uint64_t{b->length} + count + 1 < b->capacity) {
    b->length += static_cast<uint32_t>(count);
    return 0;
  }
  if (in_place) *target = saved;
  VRC rc = Grow(b, uint64_t{b->length} + count);
  if (rc != 0) return rc;
  errno = caller_errno;
  if (vsnprintf(b->data + b->length, b->capacity - b->length, format, second) <
      0) {
    Terminate(b);
    return ErrnoOr(EINVAL);
  }
  b->length += static_cast<uint32_t>(count);
  return 0;
}

VRC VFormat(vb_buffer *b, const char *format, va_list args) {
  va_list second;
  va_copy(second, args);
  VRC rc = Format(b, format, args, second);
  va_end(second);
  return rc;
}

// As vb_fgets, but a descriptor cannot take a byte back, so room is
// made before each read.
VRC ReadDescriptorLine(vb_buffer *b, int descriptor) {
  VRC rc = 0;
  for (;;) {
    rc = Grow(b, uint64_t{b->length} + 1);
    if (rc != 0) break;
    unsigned char byte;
    size_t got = 0;
    rc = platform::FileRead(descriptor, &byte, 1, &got);
    if (rc != 0 || got == 0) break;
    b->data[b->length++] = static_cast<char>(byte);
    if (byte == '\n') break;
  }
  Terminate(b);
  return rc;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

void vb_init(vb_buffer *buffer) { vb_init_with(buffer, vi::Malloc, vi::Free); }

void vb_init_with(vb_buffer *buffer, VAllocFunc allocate,
                  VReleaseFunc release) {
  if (buffer == nullptr) return;
  buffer->data = nullptr;
  buffer->capacity = 0;
  buffer->length = 0;
  buffer->allocate = allocate != nullptr ? allocate : vi::Malloc;
  buffer->release = release != nullptr ? release : vi::Free;
}

void vb_free(vb_buffer *buffer) {
  if (buffer == nullptr) return;
  if (buffer->data != nullptr) buffer->release(buffer->data);
  vb_init_with(buffer, buffer->allocate, buffer->release);
}

VRC vb_strcat(vb_buffer *buffer, const char *text) {
  if (buffer == nullptr || text == nullptr) return EINVAL;
  return vi::AppendText(buffer, text, strlen(text));
}

VRC vb_strncat(vb_buffer *buffer, const char *text, size_t count) {
  if (buffer == nullptr || text == nullptr) return EINVAL;
  return vi::AppendPadded(buffer, text, count);
}

VRC vb_append(vb_buffer *buffer, const void *bytes, size_t count) {
  if (buffer == nullptr || (bytes == nullptr && count != 0)) return EINVAL;
  return vi::AppendBytes(buffer, bytes, count);
}

VRC vb_sprintf(vb_buffer *buffer, const char *format, ...) {
  va_list args;
  va_start(args, format);
  VRC rc = vb_vsprintf(buffer, format, args);
  va_end(args);
  return rc;
}

VRC vb_vsprintf(vb_buffer *buffer, const char *format, va_list args) {
  if (buffer == nullptr || format == nullptr) return EINVAL;
  return vi::VFormat(buffer, format, args);
}

VRC vb_strtrunc(vb_buffer *buffer, int32_t n) {
  if (buffer == nullptr || n < 0) return EINVAL;
  VRC rc = vi::Grow(buffer, static_cast<uint64_t>(n));
  if (rc != 0) return rc;
  uint32_t target = static_cast<uint32_t>(n);
  if (target > buffer->length) {
    memset(buffer->data + buffer->length, ' ', target - buffer->length);
  }
  buffer->length = target;
  vi::Terminate(buffer);
  return 0;
}

// Reads characters until a line feed (kept) or the end of the stream.  A
// character that cannot be stored is pushed back, so nothing is lost when
// memory runs out.
VRC vb_fgets(vb_buffer *buffer, FILE *stream) {
  if (buffer == nullptr || stream == nullptr) return EINVAL;
  VRC rc = 0;
  for (;;) {
    int c = getc(stream);
    if (c == EOF) {
      if (!feof(stream)) rc = vi::ErrnoOr(EIO);
      break;
    }
    rc = vi::Grow(buffer, uint64_t{buffer->length} + 1);
    if (rc != 0) {
      ungetc(c, stream);
      break;
    }
    buffer->data[buffer->length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  vi::Terminate(buffer);
  return rc;
}

VRC vb_reads(vb_buffer *buffer, int descriptor) {
  if (buffer == nullptr) return EINVAL;
  return vi::ReadDescriptorLine(buffer, descriptor);
}

char *vb_strval(vb_buffer *buffer) {
  if (buffer == nullptr) return nullptr;
  if (vi::Grow(buffer, buffer->length) != 0) return nullptr;
  vi::Terminate(buffer);
  return buffer->data;
}

uint32_t vb_strlen(const vb_buffer *buffer) {
  return buffer != nullptr ? buffer->length : 0;
}

uint32_t vb_strsize(const vb_buffer *buffer) {
  return buffer != nullptr ? buffer->capacity : 0;
}
