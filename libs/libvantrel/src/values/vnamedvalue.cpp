// Named values: heap records holding a name, a data type and a value.
#include <errno.h>
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

// The hash and compare functions read only the first field: the name.  A
// missing record counts as a missing name.
const char *NameOf(const void *record) {
  if (record == nullptr) return nullptr;
  return *static_cast<const char *const *>(record);
}

// A missing name sorts before every name; two missing names are equal.
int CompareNames(const char *a, const char *b,
                 int (*compare)(const char *, const char *)) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  return compare(a, b);
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

VNamedValue *VNamedValueCreateFromValue(const char *name, VDataType type,
                                        const VValue *value, VAllocFunc alloc,
                                        VReleaseFunc release) {
  if (name == nullptr || alloc == nullptr || release == nullptr) return nullptr;
  return vi::NewRecord(name, type, value, 0, alloc, release);
}

VNamedValue *VNamedValueCreateFromTypedValue(const char *name,
                                             const VTypedValue *typedValue,
                                             VAllocFunc alloc,
                                             VReleaseFunc release) {
  if (typedValue == nullptr) return nullptr;
  return VNamedValueCreateFromValue(name, typedValue->type, &typedValue->value,
                                    alloc, release);
}

VRC VNamedValueSetValue(VNamedValue *namedValue, const VValue *value) {
  if (namedValue == nullptr || value == nullptr) return EINVAL;
  return vi::SetValue(namedValue, *value);
}

VRC VNamedValueSetTypedValue(VNamedValue *namedValue,
                             const VTypedValue *typedValue) {
  if (typedValue == nullptr) return EINVAL;
  return VNamedValueSetValue(namedValue, &typedValue->value);
}

VRC VNamedValueSetDefault(VNamedValue *namedValue, int32_t allocate) {
  if (namedValue == nullptr) return EINVAL;
  return VValueSetDefault(&namedValue->value, namedValue->type, allocate);
}

VRC VNamedValueToString(const VNamedValue *namedValue, char **out) {
  if (namedValue == nullptr) return EINVAL;
  return VValueToStringWith(namedValue->value, namedValue->type, out,
                            vi::Strdup);
}

VNamedValue *VNamedValueCopy(const VNamedValue *source, VAllocFunc alloc,
                             VReleaseFunc release) {
  if (source == nullptr || source->name == nullptr || alloc == nullptr ||
      release == nullptr) {
    return nullptr;
  }
  return vi::NewRecord(source->name, source->type, &source->value,
                       source->ownerWord, alloc, release);
}

void VNamedValueDestroy(VNamedValue *namedValue, VReleaseFunc release) {
  if (namedValue == nullptr || release == nullptr) return;
  vi::Free(namedValue->name);
  vi::FreeOwnedData(namedValue->value, namedValue->type);
  release(namedValue);
}

uint32_t VNamedValueHash(const void *namedValue, void *) {
  return VHashString2(vi::NameOf(namedValue), nullptr);
}

uint32_t VNamedValueCIHash(const void *namedValue, void *) {
  return VHashStringIC(vi::NameOf(namedValue), nullptr);
}

int VNamedValueComp(const void *a, const void *b, void *) {
  return vi::CompareNames(vi::NameOf(a), vi::NameOf(b), strcmp);
}

int VNamedValueCIComp(const void *a, const void *b, void *) {
  return vi::CompareNames(vi::NameOf(a), vi::NameOf(b), strcasecmp);
}

void VNamedValuePrint(const VNamedValue *namedValue) {
  if (namedValue == nullptr) return;
  printf("%s = ", namedValue->name);
  vi::PrintValue(namedValue->value, namedValue->type);
  printf("\n");
}
