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

int16_t TextToShort(const char *text) {
  // atoi as it behaves where int and long are 32 bits, then the low 16
  // bits, as a cast keeps them.
  return static_cast<int16_t>(StrtolClamped32(text, 10));
}

// Unlike the unsigned conversion, this one does not pass on strtol's
// error number: an out-of-range text gives the clamped value and 0.
VRC TextToInteger(const char *text, int32_t *value) {
  *value = StrtolClamped32(text, 0);
  return 0;
}

VRC TextToUnsigned(const char *text, uint32_t *value) {
  errno = 0;
  unsigned long v = strtoul(text, nullptr, 10);
  if (errno == ERANGE) {
    *value = UINT32_MAX;
    return ERANGE;
  }
  // strtoul negates a leading "-" in unsigned arithmetic; redo that in 32
  // bits, where a magnitude above 32 bits is out of range.
  const char *p = SkipSpace(text);
  unsigned long magnitude = *p == '-' ? 0UL - v : v;
  if (magnitude > UINT32_MAX) {
    *value = UINT32_MAX;
    return ERANGE;
  }
  *value = static_cast<uint32_t>(v);
  return errno;
}

VRC TextToUnsigned64(const char *text, uint64_t *value) {
  const char *p = SkipSpace(text);
  bool out_of_range = *p == '-';
  if (out_of_range) ++p;
  uint64_t v = 0;
  for (; IsDigit(*p); ++p) {
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

int32_t TextToBoolean(const char *text) {
  char first = static_cast<char>(toupper(static_cast<unsigned char>(text[0])));
  if (first == '1' || first == 'T' || first == 'Y') return 1;
  return first == 'O' && toupper(static_cast<unsigned char>(text[1])) == 'N';
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

VRC TextToBinary(const char *text, VBinary *value) {
  value->length = 0;
  value->data = nullptr;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  size_t digits = 0;
  while (HexValue(text[digits]) >= 0) ++digits;
  if (digits == 0) return 0;
  size_t length = (digits + 1) / 2;
  auto *bytes = static_cast<unsigned char *>(Malloc(length));
  if (bytes == nullptr) return ENOMEM;
  for (size_t i = 0; i < digits / 2; ++i) {
    bytes[i] = static_cast<unsigned char>(HexValue(text[2 * i]) << 4 |
                                          HexValue(text[2 * i + 1]));
  }
  if (digits % 2 != 0) {
    bytes[length - 1] = static_cast<unsigned char>(HexValue(text[digits - 1]));
  }
  value->length = static_cast<uint32_t>(length);
  value->data = bytes;
  return 0;
}

uint32_t IpTextToUnsigned(const char *text) {
  uint32_t address = 0;
  const char *p = text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    uint32_t part = 0;
    for (; IsDigit(*p); ++p) part = part * 10 + static_cast<uint32_t>(*p - '0');
    address |= part << shift;
    if (*p != '.') break;
    ++p;
  }
  return address;
}

int IsValidNameText(const char *text) {
  if (!isalpha(static_cast<unsigned char>(text[0]))) return 0;
  size_t i = 1;
  for (; text[i] != '\0'; ++i) {
    if (i >= 40) return 0;
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!isalnum(c) && c != '_') return 0;
  }
  return 1;
}

int IsValidIntegerText(const char *text) {
  char *end;
  strtol(text, &end, 10);
  return *end == '\0';
}

int IsValidRealText(const char *text) {
  char *end;
  strtod(text, &end);
  return *end == '\0';
}

int IsValidBooleanText(const char *text) {
  static constexpr const char *kWords[] = {"TRUE", "FALSE", "YES",
                                           "NO",   "1",     "0"};
  for (const char *word : kWords) {
    if (strcasecmp(text, word) == 0) return 1;
  }
  return 0;
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

extern "C" VANTREL_API VRC VStringToShort(const char *text, int16_t *value) {
  *value = vi::TextToShort(text);
  return 0;
}

extern "C" VANTREL_API VRC VStringToInteger(const char *text, int32_t *value) {
  return vi::TextToInteger(text, value);
}

extern "C" VANTREL_API VRC VStringToInteger64(const char *text,
                                              int64_t *value) {
  // strtoll has the same grammar and saturates on overflow.
  *value = strtoll(text, nullptr, 10);
  return 0;
}

extern "C" VANTREL_API VRC VStringToUnsigned(const char *text,
                                             uint32_t *value) {
  return vi::TextToUnsigned(text, value);
}

extern "C" VANTREL_API VRC VStringToUnsigned64(const char *text,
                                               uint64_t *value) {
  return vi::TextToUnsigned64(text, value);
}

extern "C" VANTREL_API VRC VStringToBoolean(const char *text, int32_t *value) {
  *value = vi::TextToBoolean(text);
  return 0;
}

extern "C" VANTREL_API VRC VStringToReal(const char *text, double *value) {
  errno = 0;
  *value = strtod(text, nullptr);
  return errno;
}

extern "C" VANTREL_API VRC VStringToUTC(const char *text, time_t *value) {
  *value = vi::TextToUtc(text);
  return 0;
}

extern "C" VANTREL_API VRC VStringToBinary(const char *text, VBinary *value) {
  return vi::TextToBinary(text, value);
}

extern "C" VANTREL_API VRC VIpAddrToUnsigned(const char *text,
                                             uint32_t *address) {
  *address = vi::IpTextToUnsigned(text);
  return 0;
}

extern "C" VANTREL_API int VStringIsValidName(const char *text) {
  return vi::IsValidNameText(text);
}

extern "C" VANTREL_API int VStringIsValidInteger(const char *text) {
  return vi::IsValidIntegerText(text);
}

extern "C" VANTREL_API int VStringIsValidReal(const char *text) {
  return vi::IsValidRealText(text);
}

extern "C" VANTREL_API int VStringIsValidBoolean(const char *text) {
  return vi::IsValidBooleanText(text);
}
