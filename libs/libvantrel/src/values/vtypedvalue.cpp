// Typed values: a data type beside its cell.
#include "internal/alloc.h"
#include "values/values.h"
#include "vantrel/vvalue.h"

namespace vantrel::internal {
namespace {

void FreeValueWith(VTypedValue *typed, VReleaseFunc release) {
  if (typed->type == VDT_STRING && typed->value.stringValue.text != nullptr) {
    release(typed->value.stringValue.text);
  } else if (typed->type == VDT_BINARY &&
             typed->value.binaryValue.data != nullptr) {
    release(typed->value.binaryValue.data);
  }
}

int32_t TypedConvert(VTypedValue *typed, VDataType newType) {
  int32_t rc = VValueConvert(&typed->value, typed->type, newType);
  if (rc == 0) typed->type = newType;
  return rc;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

extern "C" {

VANTREL_API int VTypedValueComp(VTypedValue a, VTypedValue b) {
  return VValueComp(a.value, b.value, a.type);
}

VANTREL_API void VTypedValueFreeValue(VTypedValue *typedValue) {
  vi::FreeValueWith(typedValue, vi::Free);
}

VANTREL_API void VTypedValueFreeValueWith(VTypedValue *typedValue,
                                          VReleaseFunc release) {
  vi::FreeValueWith(typedValue, release);
}

VANTREL_API VRC VTypedValueConvert(VTypedValue *typedValue, VDataType newType) {
  return vi::TypedConvert(typedValue, newType);
}

VANTREL_API VRC VTypedValueSetDefault(VTypedValue *typedValue,
                                      int32_t allocate) {
  return VValueSetDefault(&typedValue->value, typedValue->type, allocate);
}

VANTREL_API VRC VTypedValueToString(const VTypedValue *typedValue, char **out) {
  return VValueToStringWith(typedValue->value, typedValue->type, out,
                            vi::Strdup);
}

}  // extern "C"
