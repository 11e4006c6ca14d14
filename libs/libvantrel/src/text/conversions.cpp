// Conversions from text to the library's value types, and the validators.
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "internal/alloc.h"
#include "text/conversions_internal.h"
#include "vantrel/vstring.h"
#include "vantrel/vtime.h"

namespace vantrel::internal {
namespace {

inline bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char *SkipSpace(const char *p) {
  while (IsSpace(*p)) ++p;
  return p;
}

// The value of a hexadecimal digit, or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// strtol clamped to 32 bits, which is what it returns where long is 32
// bits.
int32_t StrtolClamped32(const char *text, int base) {
  long v = strtol(text, nullptr, base);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

time_t TextToUtc(const char *text) {
  if (*text == '~') ++text;
  long seconds = atol(text);
  if (seconds != 0) return seconds;
  time_t now = VGetCurrentUTC(nullptr);
  struct tm broken = {};
  v_localtime(&now, &broken);
  // Whatever the text does not supply keeps the current time's value; a
  // partial match is used as far as it went.
  v_strptime(text, "%X %x", &broken);
  time_t result = v_mktime(&broken);
  return result == static_cast<time_t>(-1) ? 0 : result;
}

}  // namespace

int IsValidInteger64Text(const char *text) {
  const char *p = SkipSpace(text);
  if (*p == '-') ++p;
  while (IsDigit(*p)) ++p;
  return *p == '\0';
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VStringToShort(const char *text, int16_t *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  // atoi as it behaves where int and long are 32 bits, then the low 16
  // bits, as a cast keeps them.
  *value = static_cast<int16_t>(vi::StrtolClamped32(text, 10));
  return 0;
}

// Unlike the unsigned conversion, this one does not pass on strtol's
// error number: an out-of-range text gives the clamped value and 0.
VRC VStringToInteger(const char *text, int32_t *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  *value = vi::StrtolClamped32(text, 0);
  return 0;
}

VRC VStringToInteger64(const char *text, int64_t *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  // strtoll has the same grammar and saturates on overflow.
  *value = strtoll(text, nullptr, 10);
  return 0;
}

VRC VStringToUnsigned(const char *text, uint32_t *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  errno = 0;
  unsigned long v = strtoul(text, nullptr, 10);
  if (errno == ERANGE) {
    *value = UINT32_MAX;
    return ERANGE;
  }
  // strtoul negates a leading "-" in unsigned arithmetic; redo that in 32
  // bits, where a magnitude above 32 bits is out of range.
  const char *p = vi::SkipSpace(text);
  unsigned long magnitude = *p == '-' ? 0UL - v : v;
  if (magnitude > UINT32_MAX) {
    *value = UINT32_MAX;
    return ERANGE;
  }
  *value = static_cast<uint32_t>(v);
  return errno;
}

VRC VStringToUnsigned64(const char *text, uint64_t *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  const char *p = vi::SkipSpace(text);
  bool out_of_range = *p == '-';
  if (out_of_range) ++p;
  uint64_t v = 0;
  for (; vi::IsDigit(*p); ++p) {
    unsigned digit = static_cast<unsigned>(*p - '0');
    if (v > (UINT64_MAX - digit) / 10) out_of_range = true;
    v = v * 10 + digit;
  }
  if (out_of_range) {
    *value = UINT64_MAX;
    return ERANGE;
  }
  *value = v;
  return 0;
}

VRC VStringToBoolean(const char *text, int32_t *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  char first = static_cast<char>(toupper(static_cast<unsigned char>(text[0])));
  *value =
      first == '1' || first == 'T' || first == 'Y' ||
      (first == 'O' && toupper(static_cast<unsigned char>(text[1])) == 'N');
  return 0;
}

VRC VStringToReal(const char *text, double *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  errno = 0;
  *value = strtod(text, nullptr);
  return errno;
}

VRC VStringToUTC(const char *text, time_t *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  *value = vi::TextToUtc(text);
  return 0;
}

VRC VStringToBinary(const char *text, VBinary *value) {
  if (text == nullptr || value == nullptr) return EINVAL;
  value->length = 0;
  value->data = nullptr;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  size_t digits = 0;
  while (vi::HexValue(text[digits]) >= 0) ++digits;
  if (digits == 0) return 0;
  size_t length = (digits + 1) / 2;
  auto *bytes = static_cast<unsigned char *>(vi::Malloc(length));
  if (bytes == nullptr) return ENOMEM;
  for (size_t i = 0; i < digits / 2; ++i) {
    bytes[i] = static_cast<unsigned char>(vi::HexValue(text[2 * i]) << 4 |
                                          vi::HexValue(text[2 * i + 1]));
  }
  if (digits % 2 != 0) {
    bytes[length - 1] =
        static_cast<unsigned char>(vi::HexValue(text[digits - 1]));
  }
  value->length = static_cast<uint32_t>(length);
  value->data = bytes;
  return 0;
}

VRC VIpAddrToUnsigned(const char *text, uint32_t *address) {
  if (text == nullptr || address == nullptr) return EINVAL;
  uint32_t result = 0;
  const char *p = text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    uint32_t part = 0;
    for (; vi::IsDigit(*p); ++p) {
      part = part * 10 + static_cast<uint32_t>(*p - '0');
    }
    result |= part << shift;
    if (*p != '.') break;
    ++p;
  }
  *address = result;
  return 0;
}

int VStringIsValidName(const char *text) {
  if (text == nullptr || !isalpha(static_cast<unsigned char>(text[0]))) {
    return 0;
  }
  for (size_t i = 1; text[i] != '\0'; ++i) {
    if (i >= 40) return 0;
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!isalnum(c) && c != '_') return 0;
  }
  return 1;
}

int VStringIsValidInteger(const char *text) {
  if (text == nullptr) return 0;
  char *end;
  strtol(text, &end, 10);
  return *end == '\0';
}

int VStringIsValidReal(const char *text) {
  if (text == nullptr) return 0;
  char *end;
  strtod(text, &end);
  return *end == '\0';
}

int VStringIsValidBoolean(const char *text) {
  if (text == nullptr) return 0;
  static constexpr const char *kWords[] = {"TRUE", "FALSE", "YES",
                                           "NO",   "1",     "0"};
  for (const char *word : kWords) {
    if (strcasecmp(text, word) == 0) return 1;
  }
  return 0;
}
