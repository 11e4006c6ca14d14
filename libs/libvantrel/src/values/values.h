// Layout of the value records and helpers shared by the value units.
#ifndef VANTREL_VALUES_VALUES_H
#define VANTREL_VALUES_VALUES_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "vantrel/vtypes.h"
#include "vantrel/vvalue.h"

namespace vantrel::internal {

// The cell keeps the documented field order: a text pointer then its
// length, a binary length then its pointer; 8 bytes where pointers are 4.
static_assert(sizeof(void *) == 8 ? sizeof(VValue) == 16 : sizeof(VValue) == 8);
static_assert(alignof(VValue) == 8);
static_assert(std::is_standard_layout_v<VValue>);
static_assert(offsetof(VValue, stringValue.text) == 0);
static_assert(offsetof(VValue, stringValue.length) == sizeof(void *));
static_assert(offsetof(VValue, binaryValue.length) == 0);
static_assert(offsetof(VValue, binaryValue.data) == sizeof(void *));

static_assert(sizeof(VDataType) == 4 && sizeof(VColumnType) == 4 &&
              sizeof(VStorageType) == 4);

static_assert(std::is_standard_layout_v<VTypedValue>);
static_assert(offsetof(VTypedValue, type) == 0);
static_assert(offsetof(VTypedValue, value) == 8);
static_assert(sizeof(VTypedValue) == 8 + sizeof(VValue));

static_assert(std::is_standard_layout_v<VNamedValue>);
static_assert(offsetof(VNamedValue, name) == 0);
static_assert(offsetof(VNamedValue, type) == sizeof(void *));
static_assert(offsetof(VNamedValue, ownerWord) == sizeof(void *) + 4);
static_assert(offsetof(VNamedValue, value) == 16);
static_assert(sizeof(VNamedValue) == 16 + sizeof(VValue));

static_assert(sizeof(VColumnTypeInfo) == 8);
static_assert(std::is_standard_layout_v<VColumnDef>);
static_assert(offsetof(VColumnDef, columnType) == 44);
static_assert(offsetof(VColumnDef, dataType) == 48);
static_assert(offsetof(VColumnDef, typeParam) == 52);
static_assert(offsetof(VColumnDef, attributes) == 56);
static_assert(offsetof(VColumnDef, extra) == 60);
static_assert(offsetof(VColumnDef, defaultValue) == 64);
static_assert(offsetof(VColumnDef, owner) == 64 + sizeof(VValue));
static_assert(sizeof(VColumnDef) == 72 + sizeof(VValue));

inline bool IsKnownDataType(VDataType type) {
  return type >= VDT_SHORT && type <= VDT_UNSIGNED64;
}

// Bytes a scalar type occupies at the start of a cell; 0 for text, binary
// and unknown types.
size_t ScalarWidth(VDataType type);

// Copies the scalar's width from src to dst; bytes beyond it are left.
void CopyScalar(VValue *dst, const VValue &src, VDataType type);

// Copies a text (null stays null; the length word is copied as it is) or
// binary data (a new block; no block for length 0) into *dst through the
// funnel.  Returns 0 or ENOMEM with *dst unchanged.  Other types: 0, no-op.
int32_t CloneOwnedData(VValue *dst, const VValue &src, VDataType type);

// Frees what a cell of the type owns (text, or binary data of length > 0).
void FreeOwnedData(const VValue &value, VDataType type);

}  // namespace vantrel::internal

#endif  // VANTREL_VALUES_VALUES_H
