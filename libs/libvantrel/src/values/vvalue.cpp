// Value cells: comparison, hashing, copying, conversion, defaults and text.
#include "vantrel/vvalue.h"

#include <errno.h>
#include <inttypes.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <utility>

#include "internal/alloc.h"
#include "values/values.h"
#include "vantrel/vhash.h"
#include "vantrel/vrc.h"
#include "vantrel/vstring.h"

namespace vantrel::internal {
namespace {

// The shared empty text of VValueSetDefault without allocation.  Cells hold
// a non-const pointer, so this cannot be a string literal; it is never
// freed or written.
char g_empty_text[1] = {'\0'};

VValue ZeroCell() {
  VValue cell;
  memset(&cell, 0, sizeof cell);
  return cell;
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareBooleans(int32_t a, int32_t b) {
  if (a == 0 && b == 1) return -1;
  return a == b ? 0 : 1;
}

// Unordered pairs (a NaN on either side) sort first, in both orders.
int CompareReals(double a, double b) {
  if (a == b) return 0;
  return a > b ? 1 : -1;
}

int CompareTexts(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return Order(a != nullptr, b != nullptr);
  return strcmp(a, b);
}

// A common prefix is all that counts: "ab" equals "abc".
int CompareBinary(const VValue &a, const VValue &b) {
  const void *da = a.binaryValue.data;
  const void *db = b.binaryValue.data;
  if (da == nullptr || db == nullptr)
    return Order(da != nullptr, db != nullptr);
  uint32_t common = a.binaryValue.length < b.binaryValue.length
                        ? a.binaryValue.length
                        : b.binaryValue.length;
  return memcmp(da, db, common);
}

uint32_t HashReal(double value) {
  signed char bytes[sizeof value];
  memcpy(bytes, &value, sizeof value);
  uint32_t sum = 0;
  for (signed char byte : bytes) sum += static_cast<uint32_t>(byte);
  return sum;
}

uint32_t HashBinary(const VValue &value) {
  const auto *bytes =
      static_cast<const unsigned char *>(value.binaryValue.data);
  if (bytes == nullptr) return 0;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < value.binaryValue.length; ++i) sum += bytes[i];
  return sum;
}

// ---- Numbers between types ----

// Truncation toward zero into 64 bits, checked first so that nothing out
// of range reaches the cast; NaN fails both comparisons.
int64_t TruncateReal(double value) {
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (!(value >= -kTwoTo63 && value < kTwoTo63)) return INT64_MIN;
  return static_cast<int64_t>(value);
}

// A numeric source as 64 integer bits: shorts and signed 32-bit words
// sign-extended, unsigned words zero-extended, reals truncated.
uint64_t IntegerBits(const VValue &value, VDataType type) {
  switch (type) {
    case VDT_SHORT:
      return static_cast<uint64_t>(static_cast<int64_t>(value.shortValue));
    case VDT_INTEGER:
    case VDT_BOOLEAN:
    case VDT_UTC:
      return static_cast<uint64_t>(static_cast<int64_t>(value.integerValue));
    case VDT_UNSIGNED:
      return value.unsignedValue;
    case VDT_REAL:
      return static_cast<uint64_t>(TruncateReal(value.realValue));
    default:
      return value.unsigned64Value;
  }
}

bool IsTrue(const VValue &value, VDataType type) {
  if (type == VDT_REAL) {
    return !(value.realValue == 0.0) && !isnan(value.realValue);
  }
  return IntegerBits(value, type) != 0;
}

// 64-bit sources are read as signed, so 2^63 and above become negative.
double ToReal(const VValue &value, VDataType type) {
  if (type == VDT_REAL) return value.realValue;
  return static_cast<double>(static_cast<int64_t>(IntegerBits(value, type)));
}

// Converts between two numeric types (neither text nor binary).
VValue ConvertNumber(const VValue &src, VDataType from, VDataType to) {
  VValue out = ZeroCell();
  if (to == VDT_REAL && from == VDT_REAL) {
    out.unsigned64Value = src.unsigned64Value;  // every bit, NaNs included
    return out;
  }
  uint64_t bits = IntegerBits(src, from);
  switch (to) {
    case VDT_SHORT:
      out.shortValue = static_cast<int16_t>(static_cast<uint16_t>(bits));
      break;
    case VDT_INTEGER:
    case VDT_UNSIGNED:
    case VDT_UTC:
      out.unsignedValue = static_cast<uint32_t>(bits);
      break;
    case VDT_BOOLEAN:
      out.booleanValue = IsTrue(src, from) ? 1 : 0;
      break;
    case VDT_REAL:
      out.realValue = ToReal(src, from);
      break;
    default:
      out.unsigned64Value = bits;
      break;
  }
  return out;
}

// ---- Text to numbers ----

int32_t ParseUtc(const char *text, int32_t *value) {
  time_t seconds = 0;
  int32_t rc = VStringToUTC(text, &seconds);
  if (rc != 0) return rc;
  if (seconds < INT32_MIN || seconds > INT32_MAX) return ERANGE;
  *value = static_cast<int32_t>(seconds);
  return 0;
}

// Reads text with the parser of the target type into *out, which is
// written only when the parser succeeds.
int32_t ParseText(const char *text, VDataType to, VValue *out) {
  VValue cell = ZeroCell();
  int32_t rc = 0;
  switch (to) {
    case VDT_SHORT:
      rc = VStringToShort(text, &cell.shortValue);
      break;
    case VDT_INTEGER:
      rc = VStringToInteger(text, &cell.integerValue);
      break;
    case VDT_UNSIGNED:
      rc = VStringToUnsigned(text, &cell.unsignedValue);
      break;
    case VDT_BOOLEAN:
      rc = VStringToBoolean(text, &cell.booleanValue);
      break;
    case VDT_REAL:
      rc = VStringToReal(text, &cell.realValue);
      break;
    case VDT_UTC:
      rc = ParseUtc(text, &cell.utcValue);
      break;
    case VDT_INTEGER64:
      rc = VStringToInteger64(text, &cell.integer64Value);
      break;
    default:
      rc = VStringToUnsigned64(text, &cell.unsigned64Value);
      break;
  }
  if (rc == 0) *out = cell;
  return rc;
}

// ---- Numbers to text ----

enum class BooleanText { kWords, kDigits };

int FormatNumber(char *buffer, size_t capacity, const VValue &value,
                 VDataType type, BooleanText style) {
  switch (type) {
    case VDT_SHORT:
      return snprintf(buffer, capacity, "%d", value.shortValue);
    case VDT_INTEGER:
    case VDT_UTC:
      return snprintf(buffer, capacity, "%d", value.integerValue);
    case VDT_UNSIGNED:
      return snprintf(buffer, capacity, "%u", value.unsignedValue);
    case VDT_BOOLEAN:
      if (style == BooleanText::kDigits) {
        return snprintf(buffer, capacity, "%d", value.booleanValue != 0);
      }
      return snprintf(buffer, capacity, "%s",
                      value.booleanValue != 0 ? "TRUE" : "FALSE");
    case VDT_REAL:
      return snprintf(buffer, capacity, "%f", value.realValue);
    case VDT_INTEGER64:
      return snprintf(buffer, capacity, "%" PRId64, value.integer64Value);
    default:
      return snprintf(buffer, capacity, "%" PRIu64, value.unsigned64Value);
  }
}

// The text of a number, formatted on the stack when it fits (every type
// but large reals) and otherwise into a heap block of the exact size, so
// that no text is ever cut.
class NumberText {
 public:
  NumberText(const VValue &value, VDataType type, BooleanText style) {
    int length = FormatNumber(stack_, sizeof stack_, value, type, style);
    if (length < 0) return;
    length_ = static_cast<size_t>(length);
    if (length_ < sizeof stack_) {
      text_ = stack_;
      return;
    }
    heap_ = static_cast<char *>(Malloc(length_ + 1));
    if (heap_ == nullptr) return;
    FormatNumber(heap_, length_ + 1, value, type, style);
    text_ = heap_;
  }
  NumberText(const NumberText &) = delete;
  NumberText &operator=(const NumberText &) = delete;
  ~NumberText() { Free(heap_); }

  // Null when the text could not be made.
  const char *text() const { return text_; }
  size_t length() const { return length_; }
  // The text in a heap block of its own; null when that fails.
  char *Take() {
    if (text_ == nullptr) return nullptr;
    if (heap_ != nullptr) return std::exchange(heap_, nullptr);
    return Strndup(stack_, length_);
  }

 private:
  char stack_[64];
  char *heap_ = nullptr;
  const char *text_ = nullptr;
  size_t length_ = 0;
};

int32_t NewText(const VValue &src, VDataType from, BooleanText style,
                VValue *out) {
  NumberText number(src, from, style);
  size_t length = number.length();
  char *text = number.Take();
  if (text == nullptr) return ENOMEM;
  *out = ZeroCell();
  out->stringValue.text = text;
  out->stringValue.length = static_cast<uint32_t>(length);
  return 0;
}

int32_t DuplicateText(const char *text, VValue *out) {
  char *copy = nullptr;
  if (text != nullptr && (copy = Strdup(text)) == nullptr) return ENOMEM;
  *out = ZeroCell();
  out->stringValue.text = copy;
  out->stringValue.length =
      copy != nullptr ? static_cast<uint32_t>(strlen(copy)) : 0;
  return 0;
}

// The matrix shared by both conversions, for known types other than
// binary.  *out is written only on success.
int32_t ConvertInto(VValue *out, VDataType to, const VValue &src,
                    VDataType from, BooleanText style) {
  if (from == VDT_STRING) {
    const char *text = src.stringValue.text;
    if (to == VDT_STRING) return DuplicateText(text, out);
    return ParseText(text != nullptr ? text : "", to, out);
  }
  if (to == VDT_STRING) return NewText(src, from, style, out);
  *out = ConvertNumber(src, from, to);
  return 0;
}

// Binary data as "0x" and two lower-case hexadecimal digits per byte, the
// form the text-to-binary conversion reads back; no data gives "".
int32_t BinaryToString(const VValue &value, char **out, VStringDupFunc dup) {
  uint32_t length = value.binaryValue.length;
  const auto *bytes =
      static_cast<const unsigned char *>(value.binaryValue.data);
  if (length == 0 || bytes == nullptr) {
    char *text = dup("");
    if (text == nullptr) return ENOMEM;
    *out = text;
    return 0;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  auto *hex = static_cast<char *>(Malloc(2 * size_t{length} + 3));
  if (hex == nullptr) return ENOMEM;
  char *write = hex;
  *write++ = '0';
  *write++ = 'x';
  for (uint32_t i = 0; i < length; ++i) {
    *write++ = kDigits[bytes[i] >> 4];
    *write++ = kDigits[bytes[i] & 0xf];
  }
  *write = '\0';
  char *text = dup(hex);
  Free(hex);
  if (text == nullptr) return ENOMEM;
  *out = text;
  return 0;
}

}  // namespace

size_t ScalarWidth(VDataType type) {
  switch (type) {
    case VDT_SHORT:
      return sizeof(int16_t);
    case VDT_INTEGER:
    case VDT_UNSIGNED:
    case VDT_BOOLEAN:
    case VDT_UTC:
      return sizeof(int32_t);
    case VDT_REAL:
    case VDT_INTEGER64:
    case VDT_UNSIGNED64:
      return sizeof(int64_t);
    default:
      return 0;
  }
}

void CopyScalar(VValue *dst, const VValue &src, VDataType type) {
  memcpy(dst, &src, ScalarWidth(type));
}

int32_t CloneOwnedData(VValue *dst, const VValue &src, VDataType type) {
  if (type == VDT_STRING) {
    const char *text = src.stringValue.text;
    char *copy = nullptr;
    if (text != nullptr && (copy = Strdup(text)) == nullptr) return ENOMEM;
    dst->stringValue.text = copy;
    dst->stringValue.length = src.stringValue.length;
  } else if (type == VDT_BINARY) {
    uint32_t length = src.binaryValue.length;
    void *copy = nullptr;
    if (length > 0) {
      if ((copy = Malloc(length)) == nullptr) return ENOMEM;
      memcpy(copy, src.binaryValue.data, length);
    }
    dst->binaryValue.length = length;
    dst->binaryValue.data = copy;
  }
  return 0;
}

void FreeOwnedData(const VValue &value, VDataType type) {
  if (type == VDT_STRING) Free(value.stringValue.text);
  if (type == VDT_BINARY && value.binaryValue.length > 0) {
    Free(value.binaryValue.data);
  }
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

int VValueComp(VValue a, VValue b, VDataType type) {
  switch (type) {
    case VDT_SHORT:
      return vi::Order(a.shortValue, b.shortValue);
    case VDT_INTEGER:
    case VDT_UTC:
      return vi::Order(a.integerValue, b.integerValue);
    case VDT_UNSIGNED:
      return vi::Order(a.unsignedValue, b.unsignedValue);
    case VDT_BOOLEAN:
      return vi::CompareBooleans(a.booleanValue, b.booleanValue);
    case VDT_REAL:
      return vi::CompareReals(a.realValue, b.realValue);
    case VDT_STRING:
      return vi::CompareTexts(a.stringValue.text, b.stringValue.text);
    case VDT_BINARY:
      return vi::CompareBinary(a, b);
    case VDT_INTEGER64:
      return vi::Order(a.integer64Value, b.integer64Value);
    case VDT_UNSIGNED64:
      return vi::Order(a.unsigned64Value, b.unsigned64Value);
    default:
      return -1;
  }
}

uint32_t VValueHash(VValue value, VDataType type) {
  switch (type) {
    case VDT_SHORT:
      return static_cast<uint32_t>(static_cast<int32_t>(value.shortValue));
    case VDT_INTEGER:
    case VDT_UNSIGNED:
    case VDT_BOOLEAN:
    case VDT_UTC:
      return value.unsignedValue;
    case VDT_INTEGER64:
    case VDT_UNSIGNED64:
      return static_cast<uint32_t>(value.unsigned64Value);
    case VDT_REAL:
      return vi::HashReal(value.realValue);
    case VDT_STRING:
      if (value.stringValue.text == nullptr) return 0;
      return VHashString2(value.stringValue.text, nullptr);
    case VDT_BINARY:
      return vi::HashBinary(value);
    default:
      return 0;
  }
}

VRC VValueCopyWith(VValue *dst, VValue src, VDataType type, VAllocFunc alloc) {
  if (dst == nullptr || alloc == nullptr) return EINVAL;
  const char *text = src.stringValue.text;
  if (type != VDT_STRING || text == nullptr) {
    *dst = src;
    return 0;
  }
  uint32_t length = src.stringValue.length;
  auto *copy = static_cast<char *>(alloc(size_t{length} + 1));
  if (copy == nullptr) return ENOMEM;
  strncpy(copy, text, size_t{length} + 1);
  copy[length] = '\0';  // terminated even if the length word is too small
  *dst = src;
  dst->stringValue.text = copy;
  return 0;
}

VRC VValueConvert(VValue *value, VDataType fromType, VDataType toType) {
  if (value == nullptr) return EINVAL;
  if (fromType == toType) return 0;
  if (!vi::IsKnownDataType(fromType) || !vi::IsKnownDataType(toType)) {
    return VRC_INVALID_DATATYPE;
  }
  if (fromType == VDT_BINARY || toType == VDT_BINARY) return VRC_TYPE_MISMATCH;
  VValue out;
  int32_t rc =
      vi::ConvertInto(&out, toType, *value, fromType, vi::BooleanText::kWords);
  if (rc != 0) return rc;
  if (fromType == VDT_STRING) vi::Free(value->stringValue.text);
  *value = out;
  return 0;
}

VRC VValueCopyAndConvert(VValue *dst, VDataType dstType, const VValue *src,
                         VDataType srcType) {
  if (dst == nullptr || src == nullptr) return EINVAL;
  if (!vi::IsKnownDataType(srcType) || !vi::IsKnownDataType(dstType)) return 0;
  if (srcType == VDT_BINARY || dstType == VDT_BINARY) return VRC_TYPE_MISMATCH;
  VValue out;
  int32_t rc =
      vi::ConvertInto(&out, dstType, *src, srcType, vi::BooleanText::kDigits);
  if (rc == 0) *dst = out;
  return rc;
}

VRC VValueSetDefault(VValue *value, VDataType type, int32_t allocate) {
  if (value == nullptr) return EINVAL;
  if (type == VDT_STRING) {
    char *text = allocate != 0 ? vi::Strdup("") : vi::g_empty_text;
    if (text == nullptr) return ENOMEM;
    value->stringValue.text = text;
    value->stringValue.length = 0;
  } else if (type == VDT_BINARY) {
    value->binaryValue.length = 0;
    value->binaryValue.data = nullptr;
  } else {
    VValue zero = vi::ZeroCell();
    vi::CopyScalar(value, zero, type);
  }
  return 0;
}

VRC VValueToStringWith(VValue value, VDataType type, char **out,
                       VStringDupFunc dup) {
  if (out == nullptr || dup == nullptr) return EINVAL;
  if (!vi::IsKnownDataType(type)) return VRC_INVALID_DATATYPE;
  if (type == VDT_BINARY) return vi::BinaryToString(value, out, dup);
  char *text = nullptr;
  if (type == VDT_STRING) {
    text = dup(value.stringValue.text != nullptr ? value.stringValue.text : "");
  } else {
    vi::NumberText number(value, type, vi::BooleanText::kWords);
    if (number.text() != nullptr) text = dup(number.text());
  }
  if (text == nullptr) return ENOMEM;
  *out = text;
  return 0;
}
