// Thread exception records: the chain of messages a failing operation
// leaves in the calling thread's record, and its renderings.  Raising and
// adding work only on the record's fixed arrays, so they can report a
// failure caused by exhausted memory; rendering into a string allocates.
// VThreadExceptionLog, which needs the log manager, is in the log layer.
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "core/retcode.h"
#include "internal/alloc.h"
#include "threads/thr.h"
#include "vantrel/vexcept.h"
#include "vantrel/vi18n.h"
#include "vantrel/vstrbuf.h"
#include "vantrel/vtime.h"

static_assert(VTHREAD_EXCEPTION_MAX_ENTRIES ==
              vantrel::internal::kThreadMaxExceptions);
static_assert(VTHREAD_EXCEPTION_POOL_SIZE ==
              vantrel::internal::kThreadStringPoolSize);
static_assert(VTHREAD_ERROR_BUFFER_SIZE ==
              vantrel::internal::kThreadErrorBufferSize);

namespace vantrel::internal {
namespace {

// Message set of the library's failure texts and the heading's number.
constexpr int32_t kExceptionSet = 3;
constexpr int32_t kHeadingNumber = 8;
constexpr char kHeadingText[] = "'%s' exception occured:\n";
// Catalog lookups are limited to this many bytes, terminator included.
constexpr size_t kMessageSize = 1024;
// v_ctimex needs 26 bytes.
constexpr size_t kTimeTextSize = 26;

// Copies a STRING argument into the pool.  False, with the pool untouched,
// when the text and its terminator do not fit into the rest of the pool or
// there is no text at all.
bool CopyToPool(VThreadData *t, const VValue &value, VValue *kept) {
  const char *text = value.stringValue.text;
  uint32_t length = value.stringValue.length;
  if (text == nullptr ||
      uint64_t{t->poolUsed} + length + 1 > kThreadStringPoolSize) {
    return false;
  }
  char *copy = t->stringPool + t->poolUsed;
  memcpy(copy, text, length);
  copy[length] = '\0';
  t->poolUsed += length + 1;
  kept->stringValue.text = copy;
  kept->stringValue.length = length;
  return true;
}

// Stores what an entry keeps of its argument: the value of its type, a
// pool copy of a text, the caller's pointer and length of binary data, and
// nothing for a type outside the known ones.
void KeepArgument(VThreadData *t, const VTypedValue *argument,
                  ThreadExceptionEntry *entry) {
  entry->argType = VDT_INVALID;
  entry->argValue = VValue{};
  if (argument == nullptr) return;
  const VValue &v = argument->value;
  VValue *kept = &entry->argValue;
  entry->argType = argument->type;
  switch (argument->type) {
    case VDT_SHORT:
      kept->shortValue = v.shortValue;
      break;
    case VDT_INTEGER:
      kept->integerValue = v.integerValue;
      break;
    case VDT_UNSIGNED:
      kept->unsignedValue = v.unsignedValue;
      break;
    case VDT_BOOLEAN:
      kept->booleanValue = v.booleanValue;
      break;
    case VDT_REAL:
      kept->realValue = v.realValue;
      break;
    case VDT_UTC:
      kept->utcValue = v.utcValue;
      break;
    case VDT_INTEGER64:
      kept->integer64Value = v.integer64Value;
      break;
    case VDT_UNSIGNED64:
      kept->unsigned64Value = v.unsigned64Value;
      break;
    case VDT_BINARY:
      kept->binaryValue = v.binaryValue;
      break;
    case VDT_STRING:
      if (!CopyToPool(t, v, kept)) entry->argType = VDT_INVALID;
      break;
    default:
      break;
  }
}

void Clear(VThreadData *t) {
  t->exceptionCount = 0;
  t->exceptionName = nullptr;
  t->poolUsed = 0;
}

void Add(VThreadData *t, VI18nCatalog catalog, int32_t set, int32_t number,
         const char *text, const VTypedValue *argument) {
  if (t->exceptionCount >= kThreadMaxExceptions) return;
  ThreadExceptionEntry *entry = &t->exceptions[t->exceptionCount];
  entry->catalog = catalog;
  entry->set = set;
  entry->number = number;
  entry->defaultText = text;
  KeepArgument(t, argument, entry);
  ++t->exceptionCount;
}

// Where a rendering goes.  `write` outputs one formatted piece and says
// whether it succeeded; the first failure ends the rendering, so a text
// cut short is still a prefix of the whole.
struct Output {
  bool (*write)(void *target, const char *format, va_list args);
  void *target;
  bool ok;
};

__attribute__((format(printf, 2, 3))) void Emit(Output *out, const char *format,
                                                ...) {
  if (!out->ok) return;
  va_list args;
  va_start(args, format);
  out->ok = out->write(out->target, format, args);
  va_end(args);
}

bool WriteStream(void *target, const char *format, va_list args) {
  return vfprintf(static_cast<FILE *>(target), format, args) >= 0;
}

bool WriteBuffer(void *target, const char *format, va_list args) {
  return vb_vsprintf(static_cast<vb_buffer *>(target), format, args) == 0;
}

void EmitArgument(Output *out, VDataType type, const VValue &v) {
  switch (type) {
    case VDT_SHORT:
      Emit(out, ": %d", static_cast<int>(v.shortValue));
      break;
    case VDT_INTEGER:
      Emit(out, ": %d", v.integerValue);
      break;
    case VDT_UNSIGNED:
      Emit(out, ": %u", v.unsignedValue);
      break;
    case VDT_BOOLEAN:
      Emit(out, ": %s", v.booleanValue != 0 ? "TRUE" : "FALSE");
      break;
    case VDT_REAL:
      Emit(out, ": %f", v.realValue);
      break;
    case VDT_UTC: {
      time_t seconds = v.utcValue;
      char text[kTimeTextSize];
      Emit(out, ": %s", v_ctimex(&seconds, text));
      break;
    }
    case VDT_STRING:
      Emit(out, ": %s", v.stringValue.text);
      break;
    case VDT_INTEGER64:
      Emit(out, ": %" PRId64, v.integer64Value);
      break;
    case VDT_UNSIGNED64:
      Emit(out, ": %" PRIu64, v.unsigned64Value);
      break;
    default:
      break;  // binary data, no argument, unknown types
  }
}

// The heading, filled with the chain's name, then one tab-indented line
// per entry with its looked-up message and its argument.
void Render(const VThreadData *t, Output *out) {
  char message[kMessageSize];
  VI18nMessageGet(LibraryCatalog(), kExceptionSet, kHeadingNumber, kHeadingText,
                  message, sizeof message);
  const char *name = t->exceptionName != nullptr ? t->exceptionName : "(null)";
  Emit(out, message, name);
  for (int32_t i = 0; i < t->exceptionCount && out->ok; ++i) {
    const ThreadExceptionEntry &entry = t->exceptions[i];
    VI18nMessageGet(entry.catalog, entry.set, entry.number, entry.defaultText,
                    message, sizeof message);
    Emit(out, "\t%s", message);
    EmitArgument(out, entry.argType, entry.argValue);
    Emit(out, "\n");
  }
}

bool Raised(const VThreadData *t) {
  return t != nullptr && t->exceptionCount > 0;
}

void Print(const VThreadData *t, FILE *stream) {
  if (!Raised(t)) return;
  Output out{WriteStream, stream, true};
  Render(t, &out);
}

// The rendering in a new string from the funnel, or null for an empty
// chain.  When a piece cannot be appended the text ends before it; null
// when not even the first area could be allocated.
char *ToBuffer(const VThreadData *t) {
  if (!Raised(t)) return nullptr;
  vb_buffer buffer;
  vb_init_with(&buffer, Malloc, Free);
  Output out{WriteBuffer, &buffer, true};
  Render(t, &out);
  // Every successful append leaves the content terminated, so the area can
  // be handed over as it is, without a further growth that might fail.
  return buffer.data;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

char *VThreadGetErrorBuffer(VThread thread) {
  return thread != nullptr ? thread->errorBuffer : nullptr;
}

void VThreadExceptionRaise(VThread thread, const char *name,
                           VI18nCatalog catalog, int32_t set, int32_t number,
                           const char *text, const VTypedValue *argument,
                           const VTypedValue *, const VTypedValue *,
                           const VTypedValue *) {
  if (thread == nullptr) return;
  vi::Clear(thread);
  thread->exceptionName = name;
  vi::Add(thread, catalog, set, number, text, argument);
}

void VThreadExceptionAdd(VThread thread, VI18nCatalog catalog, int32_t set,
                         int32_t number, const char *text,
                         const VTypedValue *argument, const VTypedValue *,
                         const VTypedValue *, const VTypedValue *) {
  if (thread == nullptr) return;
  vi::Add(thread, catalog, set, number, text, argument);
}

void VThreadExceptionClear(VThread thread) {
  if (thread != nullptr) vi::Clear(thread);
}

int VThreadExceptionRaised(VThread thread) {
  return vi::Raised(thread) ? 1 : 0;
}

void VThreadExceptionPrint(VThread thread, FILE *stream) {
  if (stream != nullptr) vi::Print(thread, stream);
}

void VThreadExceptionToBuffer(VThread thread, char **out) {
  if (out != nullptr) *out = vi::ToBuffer(thread);
}
