// Ordering and equality of typed values across types.
//
// Each pair of numeric, boolean and UTC types meets in one of a few
// representations.  The tables below name the representation per pair
// (rows: a's type, columns: b's type); the readers bring each side to it:
//   word:  the 32-bit word (a SHORT sign-extended, a 64-bit value's low
//          word, a REAL truncated to 64 bits and cut to its low word);
//   wide:  64 bits (signed sources sign-extended, UNSIGNED zero-extended,
//          a REAL truncated toward zero, INT64_MIN when out of range or NaN);
//   real:  a double (64-bit integers rounded).
// That covers every cell: "truncate a, low word, signed 32" is the word of
// a REAL compared signed; "low word" against UTC is the word of a 64-bit
// value; "zero-extended 64", "signed 64" and "truncate, 64 bits" are the
// wide values compared bit for bit.  The asymmetric cells (UNSIGNED
// against UTC, UTC against a 64-bit type) are deliberate.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "operators/operators.h"

namespace vantrel::internal {
namespace {

enum Rep : uint8_t { kS32, kU32, kS64, kU64, kDbl };

// Rows and columns in the order SHORT, INTEGER, UNSIGNED, BOOLEAN, REAL,
// UTC, INTEGER64, UNSIGNED64.
constexpr int kNumeric = 8;

// clang-format off
constexpr Rep kOrder[kNumeric][kNumeric] = {
  /* SHORT */      {kS32, kS32, kU32, kS32, kDbl, kS32, kS64, kU64},
  /* INTEGER */    {kS32, kS32, kU32, kS32, kDbl, kS32, kS64, kU64},
  /* UNSIGNED */   {kU32, kU32, kU32, kU32, kDbl, kS32, kS64, kU64},
  /* BOOLEAN */    {kS32, kS32, kU32, kS32, kDbl, kS32, kS64, kU64},
  /* REAL */       {kDbl, kDbl, kDbl, kDbl, kDbl, kS32, kDbl, kU64},
  /* UTC */        {kS32, kS32, kU32, kS32, kDbl, kS32, kS64, kU64},
  /* INTEGER64 */  {kS64, kS64, kS64, kS64, kDbl, kS32, kS64, kU64},
  /* UNSIGNED64 */ {kU64, kU64, kU64, kU64, kU64, kS32, kU64, kU64},
};

// Equality only asks whether the bits agree, so signedness does not
// matter: kS32 stands for "32 bits", kS64 for "64 bits".
constexpr Rep kEqual[kNumeric][kNumeric] = {
  /* SHORT */      {kS32, kS32, kS32, kS32, kDbl, kS32, kS64, kS64},
  /* INTEGER */    {kS32, kS32, kS32, kS32, kDbl, kS32, kS64, kS64},
  /* UNSIGNED */   {kS32, kS32, kS32, kS32, kDbl, kS32, kS64, kS64},
  /* BOOLEAN */    {kS32, kS32, kS32, kS32, kDbl, kS32, kS64, kS64},
  /* REAL */       {kDbl, kDbl, kDbl, kDbl, kDbl, kS32, kDbl, kS64},
  /* UTC */        {kS32, kS32, kS32, kS32, kDbl, kS32, kS64, kS64},
  /* INTEGER64 */  {kS64, kS64, kS64, kS64, kDbl, kS32, kS64, kS64},
  /* UNSIGNED64 */ {kS64, kS64, kS64, kS64, kS64, kS32, kS64, kS64},
};
// clang-format on

// The row or column of a type, or -1 when it is not numeric.
constexpr int8_t kIndexOfType[] = {-1, 0, 1, 2, 3, 4, 5, -1, -1, 6, 7};

int NumericIndex(VDataType type) {
  return static_cast<uint32_t>(type) < sizeof kIndexOfType ? kIndexOfType[type]
                                                           : -1;
}

// Toward zero; INT64_MIN when the value has no 64-bit integer.
int64_t Truncate(double v) {
  if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) {
    return INT64_MIN;
  }
  return static_cast<int64_t>(v);
}

uint64_t Wide(const VTypedValue &v) {
  const VValue &c = v.value;
  switch (v.type) {
    case VDT_SHORT:
      return static_cast<uint64_t>(int64_t{c.shortValue});
    case VDT_UNSIGNED:
      return c.unsignedValue;
    case VDT_REAL:
      return static_cast<uint64_t>(Truncate(c.realValue));
    case VDT_INTEGER64:
    case VDT_UNSIGNED64:
      return c.unsigned64Value;
    default:  // INTEGER, BOOLEAN, UTC
      return static_cast<uint64_t>(int64_t{c.integerValue});
  }
}

uint32_t Word(const VTypedValue &v) { return static_cast<uint32_t>(Wide(v)); }

double Real(const VTypedValue &v) {
  const VValue &c = v.value;
  switch (v.type) {
    case VDT_SHORT:
      return c.shortValue;
    case VDT_UNSIGNED:
      return c.unsignedValue;
    case VDT_REAL:
      return c.realValue;
    case VDT_INTEGER64:
      return static_cast<double>(c.integer64Value);
    case VDT_UNSIGNED64:
      return static_cast<double>(c.unsigned64Value);
    default:
      return c.integerValue;
  }
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

int OrderAs(Rep rep, const VTypedValue &a, const VTypedValue &b) {
  switch (rep) {
    case kS32:
      return Order(static_cast<int32_t>(Word(a)),
                   static_cast<int32_t>(Word(b)));
    case kU32:
      return Order(Word(a), Word(b));
    case kS64:
      return Order(static_cast<int64_t>(Wide(a)),
                   static_cast<int64_t>(Wide(b)));
    case kU64:
      return Order(Wide(a), Wide(b));
    case kDbl: {
      double x = Real(a), y = Real(b);
      return x < y ? -1 : x == y ? 0 : 1;  // a NaN gives 1
    }
  }
  return -1;
}

int EqualAs(Rep rep, const VTypedValue &a, const VTypedValue &b) {
  switch (rep) {
    case kS32:
    case kU32:
      return Word(a) == Word(b);
    case kS64:
    case kU64:
      return Wide(a) == Wide(b);
    case kDbl: {
      double x = Real(a), y = Real(b);
      return isnan(x) || isnan(y) || x == y;
    }
  }
  return -1;
}

// strcmp, with a null text before every text.
int CompareTexts(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return Order(a != nullptr, b != nullptr);
  return strcmp(a, b);
}

}  // namespace

int TypedValueOrder(const VTypedValue &a, const VTypedValue &b) {
  if (a.type == VDT_STRING && b.type == VDT_STRING) {
    return CompareTexts(a.value.stringValue.text, b.value.stringValue.text);
  }
  int row = NumericIndex(a.type), column = NumericIndex(b.type);
  if (row < 0 || column < 0) return -1;
  return OrderAs(kOrder[row][column], a, b);
}

int TypedValueEqual(const VTypedValue &a, const VTypedValue &b) {
  if (a.type == VDT_STRING && b.type == VDT_STRING) {
    return a.value.stringValue.length == b.value.stringValue.length &&
           CompareTexts(a.value.stringValue.text, b.value.stringValue.text) ==
               0;
  }
  int row = NumericIndex(a.type), column = NumericIndex(b.type);
  if (row < 0 || column < 0) return -1;
  return EqualAs(kEqual[row][column], a, b);
}

}  // namespace vantrel::internal

int VTypedValueOrderEQ(const VTypedValue *a, const VTypedValue *b) {
  if (a == nullptr || b == nullptr) return -1;
  return vantrel::internal::TypedValueOrder(*a, *b);
}
