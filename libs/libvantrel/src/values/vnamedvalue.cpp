// Named values: heap records holding a name, a data type and a value.
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "values/values.h"
#include "vantrel/vhash.h"
#include "vantrel/vvalue.h"

namespace vantrel::internal {
namespace {

// Copies a value into a record's zeroed or current cell: scalars by their
// width, texts and binary data into new blocks.  *dst is unchanged on
// failure.
int32_t StoreValue(VValue *dst, const VValue &src, VDataType type) {
  if (type == VDT_STRING || type == VDT_BINARY) {
    return CloneOwnedData(dst, src, type);
  }
  CopyScalar(dst, src, type);
  return 0;
}

VNamedValue *NewRecord(const char *name, VDataType type, const VValue *value,
                       uint32_t ownerWord, VAllocFunc alloc,
                       VReleaseFunc release) {
  auto *record = static_cast<VNamedValue *>(alloc(sizeof(VNamedValue)));
  if (record == nullptr) return nullptr;
  memset(record, 0, sizeof *record);
  ScopeExit undo([&] {
    Free(record->name);
    release(record);
  });
  record->name = Strdup(name);
  if (record->name == nullptr) return nullptr;
  record->type = type;
  record->ownerWord = ownerWord;
  if (value != nullptr && StoreValue(&record->value, *value, type) != 0) {
    return nullptr;
  }
  undo.Dismiss();
  return record;
}

// The new text or data is made before the old one goes, so a failure
// leaves the record as it was.
int32_t SetValue(VNamedValue *record, const VValue &value) {
  VDataType type = record->type;
  if (type != VDT_STRING && type != VDT_BINARY) {
    CopyScalar(&record->value, value, type);
    return 0;
  }
  VValue fresh = record->value;
  int32_t rc = CloneOwnedData(&fresh, value, type);
  if (rc != 0) return rc;
  if (type == VDT_STRING) Free(record->value.stringValue.text);
  if (type == VDT_BINARY) Free(record->value.binaryValue.data);
  record->value = fresh;
  return 0;
}

void Destroy(VNamedValue *record, VReleaseFunc release) {
  Free(record->name);
  FreeOwnedData(record->value, record->type);
  release(record);
}

// The hash and compare functions read only the first field: the name.
const char *NameOf(const void *record) {
  return *static_cast<const char *const *>(record);
}

void PrintValue(const VValue &value, VDataType type) {
  switch (type) {
    case VDT_SHORT:
      printf("%d", value.shortValue);
      break;
    case VDT_INTEGER:
      printf("%d", value.integerValue);
      break;
    case VDT_UNSIGNED:
      printf("%u", value.unsignedValue);
      break;
    case VDT_BOOLEAN:
      printf("%s", value.booleanValue != 0 ? "TRUE" : "FALSE");
      break;
    case VDT_REAL:
      printf("%f", value.realValue);
      break;
    case VDT_UTC:
      printf("%ld", static_cast<long>(value.utcValue));
      break;
    case VDT_STRING:
      // The length word is the field width, so the text stands right-aligned
      // in a field of its own length.
      printf("\"%*s\"", static_cast<int>(value.stringValue.length),
             value.stringValue.text);
      break;
    case VDT_BINARY:
      printf("%d bytes binary data",
             static_cast<int>(value.binaryValue.length));
      break;
    case VDT_INTEGER64:
      printf("%" PRId64, value.integer64Value);
      break;
    case VDT_UNSIGNED64:
      printf("%" PRIu64, value.unsigned64Value);
      break;
    default:
      break;
  }
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

extern "C" {

VANTREL_API VNamedValue *VNamedValueCreateFromValue(const char *name,
                                                    VDataType type,
                                                    const VValue *value,
                                                    VAllocFunc alloc,
                                                    VReleaseFunc release) {
  return vi::NewRecord(name, type, value, 0, alloc, release);
}

VANTREL_API VNamedValue *VNamedValueCreateFromTypedValue(
    const char *name, const VTypedValue *typedValue, VAllocFunc alloc,
    VReleaseFunc release) {
  return vi::NewRecord(name, typedValue->type, &typedValue->value, 0, alloc,
                       release);
}

VANTREL_API VRC VNamedValueSetValue(VNamedValue *namedValue,
                                    const VValue *value) {
  return vi::SetValue(namedValue, *value);
}

VANTREL_API VRC VNamedValueSetTypedValue(VNamedValue *namedValue,
                                         const VTypedValue *typedValue) {
  return vi::SetValue(namedValue, typedValue->value);
}

VANTREL_API VRC VNamedValueSetDefault(VNamedValue *namedValue,
                                      int32_t allocate) {
  return VValueSetDefault(&namedValue->value, namedValue->type, allocate);
}

VANTREL_API VRC VNamedValueToString(const VNamedValue *namedValue, char **out) {
  return VValueToStringWith(namedValue->value, namedValue->type, out,
                            vi::Strdup);
}

VANTREL_API VNamedValue *VNamedValueCopy(const VNamedValue *source,
                                         VAllocFunc alloc,
                                         VReleaseFunc release) {
  return vi::NewRecord(source->name, source->type, &source->value,
                       source->ownerWord, alloc, release);
}

VANTREL_API void VNamedValueDestroy(VNamedValue *namedValue,
                                    VReleaseFunc release) {
  if (namedValue != nullptr) vi::Destroy(namedValue, release);
}

VANTREL_API uint32_t VNamedValueHash(const void *namedValue, void *) {
  return VHashString2(vi::NameOf(namedValue), nullptr);
}

VANTREL_API uint32_t VNamedValueCIHash(const void *namedValue, void *) {
  return VHashStringIC(vi::NameOf(namedValue), nullptr);
}

VANTREL_API int VNamedValueComp(const void *a, const void *b, void *) {
  return strcmp(vi::NameOf(a), vi::NameOf(b));
}

VANTREL_API int VNamedValueCIComp(const void *a, const void *b, void *) {
  return strcasecmp(vi::NameOf(a), vi::NameOf(b));
}

VANTREL_API void VNamedValuePrint(const VNamedValue *namedValue) {
  printf("%s = ", namedValue->name);
  vi::PrintValue(namedValue->value, namedValue->type);
  printf("\n");
}

}  // extern "C"
