// Typed values: a data type beside its cell.
#include <errno.h>

#include "internal/alloc.h"
#include "values/values.h"
#include "vantrel/vvalue.h"

namespace vi = vantrel::internal;

int VTypedValueComp(VTypedValue a, VTypedValue b) {
  return VValueComp(a.value, b.value, a.type);
}

void VTypedValueFreeValue(VTypedValue *typedValue) {
  VTypedValueFreeValueWith(typedValue, vi::Free);
}

void VTypedValueFreeValueWith(VTypedValue *typedValue, VReleaseFunc release) {
  if (typedValue == nullptr || release == nullptr) return;
  if (typedValue->type == VDT_STRING &&
      typedValue->value.stringValue.text != nullptr) {
    release(typedValue->value.stringValue.text);
  } else if (typedValue->type == VDT_BINARY &&
             typedValue->value.binaryValue.data != nullptr) {
    release(typedValue->value.binaryValue.data);
  }
}

VRC VTypedValueConvert(VTypedValue *typedValue, VDataType newType) {
  if (typedValue == nullptr) return EINVAL;
  VRC rc = VValueConvert(&typedValue->value, typedValue->type, newType);
  if (rc == 0) typedValue->type = newType;
  return rc;
}

VRC VTypedValueSetDefault(VTypedValue *typedValue, int32_t allocate) {
  if (typedValue == nullptr) return EINVAL;
  return VValueSetDefault(&typedValue->value, typedValue->type, allocate);
}

VRC VTypedValueToString(const VTypedValue *typedValue, char **out) {
  if (typedValue == nullptr) return EINVAL;
  return VValueToStringWith(typedValue->value, typedValue->type, out,
                            vi::Strdup);
}
