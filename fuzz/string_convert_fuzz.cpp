// String conversions, validators and transformations: each against a model
// of its contract, quoting and hexadecimal text by round trip, and every
// allocating call with allocation failures at input-chosen points (12, and
// the output left alone or, for binary data, emptied).
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "fuzz_support.h"
#include "vantrel/vstring.h"

namespace {

bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)); }

size_t SkipSpace(const std::string &text, size_t i = 0) {
  while (i < text.size() && IsSpace(text[i])) ++i;
  return i;
}

void CheckNumbers(const std::string &text) {
  const char *t = text.c_str();
  long wide = strtol(t, nullptr, 0);
  int32_t i32 = 0;
  FUZZ_CHECK(VStringToInteger(t, &i32) == 0);
  FUZZ_CHECK(i32 == (wide > INT32_MAX   ? INT32_MAX
                     : wide < INT32_MIN ? INT32_MIN
                                        : wide));
  int16_t i16 = 0;
  FUZZ_CHECK(VStringToShort(t, &i16) == 0);
  long decimal = strtol(t, nullptr, 10);
  int32_t clamped = decimal > INT32_MAX   ? INT32_MAX
                    : decimal < INT32_MIN ? INT32_MIN
                                          : int32_t(decimal);
  FUZZ_CHECK(i16 == int16_t(clamped));
  int64_t i64 = 0;
  FUZZ_CHECK(VStringToInteger64(t, &i64) == 0);
  FUZZ_CHECK(i64 == strtoll(t, nullptr, 10));

  // Unsigned 64: white space, "-" out of range, digits to the first other.
  size_t p = SkipSpace(text);
  bool negative = p < text.size() && text[p] == '-';
  unsigned __int128 v = 0;
  bool overflow = negative;
  for (p += negative; p < text.size() && text[p] >= '0' && text[p] <= '9';
       ++p) {
    v = v * 10 + unsigned(text[p] - '0');
    if (v > UINT64_MAX) overflow = true, v = UINT64_MAX;
  }
  uint64_t u64 = 0;
  VRC rc = VStringToUnsigned64(t, &u64);
  FUZZ_CHECK(rc == (overflow ? ERANGE : 0));
  FUZZ_CHECK(u64 == (overflow ? UINT64_MAX : uint64_t(v)));

  // Unsigned 32, as strtoul where long has 32 bits.
  errno = 0;
  unsigned long ul = strtoul(t, nullptr, 10);
  bool range = errno == ERANGE;
  p = SkipSpace(text);
  unsigned long magnitude = p < text.size() && text[p] == '-' ? 0UL - ul : ul;
  range = range || magnitude > UINT32_MAX;
  uint32_t u32 = 0;
  rc = VStringToUnsigned(t, &u32);
  FUZZ_CHECK(rc == (range ? ERANGE : 0));
  FUZZ_CHECK(u32 == (range ? UINT32_MAX : uint32_t(ul)));

  errno = 0;
  double expected = strtod(t, nullptr);
  int expected_rc = errno;
  double real = 0;
  FUZZ_CHECK(VStringToReal(t, &real) == expected_rc);
  FUZZ_CHECK(memcmp(&real, &expected, sizeof real) == 0 ||
             (isnan(real) && isnan(expected)));

  int32_t truth = -1;
  FUZZ_CHECK(VStringToBoolean(t, &truth) == 0);
  char first = char(toupper(static_cast<unsigned char>(t[0])));
  bool on = first == 'O' && toupper(static_cast<unsigned char>(t[1])) == 'N';
  FUZZ_CHECK(truth == (first == '1' || first == 'T' || first == 'Y' || on));

  time_t utc = 0;
  FUZZ_CHECK(VStringToUTC(t, &utc) == 0);
  long seconds = atol(t[0] == '~' ? t + 1 : t);
  FUZZ_CHECK(seconds == 0 || utc == seconds);

  uint32_t address = 0;
  FUZZ_CHECK(VIpAddrToUnsigned(t, &address) == 0);
}

void CheckValidators(const std::string &text) {
  const char *t = text.c_str();
  char *end;
  strtol(t, &end, 10);
  FUZZ_CHECK(VStringIsValidInteger(t) == (*end == '\0'));
  strtod(t, &end);
  FUZZ_CHECK(VStringIsValidReal(t) == (*end == '\0'));
  bool word = false;
  for (const char *w : {"TRUE", "FALSE", "YES", "NO", "1", "0"}) {
    word = word || strcasecmp(t, w) == 0;
  }
  FUZZ_CHECK(VStringIsValidBoolean(t) == word);
  bool name = !text.empty() && text.size() <= 40 &&
              isalpha(static_cast<unsigned char>(text[0]));
  for (char c : text) {
    name = name && (isalnum(static_cast<unsigned char>(c)) || c == '_');
  }
  FUZZ_CHECK(VStringIsValidName(t) == name);
  bool upper = true, lower = true;
  for (char c : text) {
    upper = upper && isupper(static_cast<unsigned char>(c));
    lower = lower && islower(static_cast<unsigned char>(c));
  }
  FUZZ_CHECK(VStringIsUpper(t) == upper && VStringIsLower(t) == lower);
  std::string copy = text;
  VStringUpper(copy.data());
  for (size_t i = 0; i < copy.size(); ++i) {
    FUZZ_CHECK(copy[i] == char(toupper(static_cast<unsigned char>(text[i]))));
  }
  VStringLower(copy.data());
  for (size_t i = 0; i < copy.size(); ++i) {
    FUZZ_CHECK(copy[i] ==
               char(tolower(toupper(static_cast<unsigned char>(text[i])))));
  }
}

// The documented word wrap, on a copy.
int32_t ModelWrap(std::string &text, int32_t width) {
  size_t w = width < 0 ? 0 : size_t(width);
  size_t rest = 0;
  while (text.size() - rest > w) {
    size_t limit = rest + w;
    size_t newline = text.find('\n', rest);
    if (newline != std::string::npos && newline <= limit) {
      rest = newline + 1;
      continue;
    }
    size_t cut = std::string::npos;
    for (size_t i = limit; i > rest && cut == std::string::npos; --i) {
      if (IsSpace(text[i])) cut = i;
    }
    for (size_t i = limit; i < text.size() && cut == std::string::npos; ++i) {
      if (IsSpace(text[i])) cut = i;
    }
    if (cut == std::string::npos) return 0;
    text[cut] = '\n';
    rest = cut + 1;
  }
  return int32_t(text.size() - rest);
}

// An allocating call: 0 with a new text the caller frees, or 12 with the
// output untouched, and 12 exactly when a failure was injected.
template <typename Call>
std::string Allocating(vfuzz::AllocFault &fault, Call call, bool *ok) {
  char *sentinel = reinterpret_cast<char *>(&fault);
  char *out = sentinel;
  fault.Arm();
  VRC rc = call(&out);
  bool fired = fault.Disarm();
  FUZZ_CHECK(fired == (rc == ENOMEM));
  *ok = rc == 0;
  if (rc != 0) {
    FUZZ_CHECK(rc == ENOMEM && out == sentinel);
    return std::string();
  }
  FUZZ_CHECK(out != sentinel && out != nullptr);
  std::string text = out;
  free(out);
  return text;
}

void CheckTexts(const std::string &text, vfuzz::AllocFault &fault,
                int32_t width, int32_t mode) {
  const char *t = text.c_str();
  bool ok;
  std::string quoted = Allocating(
      fault, [&](char **out) { return VStringQuoted(t, out); }, &ok);
  if (ok) {
    FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == '\'' &&
               quoted.back() == '\'');
    const char *q = quoted.c_str();
    std::string back = Allocating(
        fault, [&](char **out) { return VStringUnquoted(q, out); }, &ok);
    FUZZ_CHECK(!ok || back == text);
  }
  std::string unquoted = Allocating(
      fault, [&](char **out) { return VStringUnquoted(t, out); }, &ok);
  FUZZ_CHECK(!ok || unquoted.size() + 2 <= (text.size() < 2 ? 2 : text.size()));

  std::string name = Allocating(
      fault, [&](char **out) { return VStringToNameCase(t, out, mode); }, &ok);
  if (ok) {
    std::string expected = text.substr(0, 40);
    if (mode == 1) VStringUpper(expected.data());
    FUZZ_CHECK(name == expected);
  }
  std::string left = Allocating(
      fault, [&](char **out) { return VStringLTrim(t, out); }, &ok);
  FUZZ_CHECK(!ok || left == text.substr(SkipSpace(text)));
  std::string right = Allocating(
      fault, [&](char **out) { return VStringRTrim(t, out); }, &ok);
  size_t keep = text.size();
  while (keep > 0 && IsSpace(text[keep - 1])) --keep;
  FUZZ_CHECK(!ok || right == text.substr(0, keep));

  std::string wrapped = text, model = text;
  FUZZ_CHECK(VStringWordWrap(wrapped.data(), width) == ModelWrap(model, width));
  FUZZ_CHECK(wrapped == model);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal text to bytes: the bytes that text gives by the documented
// rule, or, for `bytes` written out as hexadecimal, the bytes themselves.
void CheckBinary(const std::string &text, const std::string &bytes,
                 vfuzz::AllocFault &fault, uint8_t style) {
  std::string hex = (style & 1) ? "0x" : "";
  for (unsigned char b : bytes) {
    static const char kLower[] = "0123456789abcdef",
                      kUpper[] = "0123456789ABCDEF";
    const char *digits = (style & 2) ? kUpper : kLower;
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  std::string expected = bytes;
  if ((style & 4) != 0) {  // a final unpaired digit is a byte by itself
    hex += "7";
    expected += '\x07';
  }
  for (int pass = 0; pass < 2; ++pass) {
    const std::string &input = pass == 0 ? hex : text;
    if (pass == 1) {
      size_t at = input.size() >= 2 && input[0] == '0' &&
                          (input[1] == 'x' || input[1] == 'X')
                      ? 2
                      : 0;
      std::string digits;
      while (at < input.size() && HexValue(input[at]) >= 0)
        digits += input[at++];
      expected.clear();
      for (size_t i = 0; i < digits.size(); i += 2) {
        int high = HexValue(digits[i]);
        expected += char(
            i + 1 < digits.size() ? high << 4 | HexValue(digits[i + 1]) : high);
      }
    }
    VBinary value{99, &fault};
    fault.Arm();
    VRC rc = VStringToBinary(input.c_str(), &value);
    bool fired = fault.Disarm();
    FUZZ_CHECK(fired == (rc == ENOMEM));
    if (rc != 0) {
      FUZZ_CHECK(rc == ENOMEM && value.length == 0 && value.data == nullptr);
      continue;
    }
    FUZZ_CHECK(value.length == expected.size());
    FUZZ_CHECK(expected.empty()
                   ? value.data == nullptr
                   : memcmp(value.data, expected.data(), expected.size()) == 0);
    free(value.data);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  vfuzz::Input in(data, size);
  vfuzz::AllocFault fault(in.Byte());
  int32_t width = static_cast<int8_t>(in.Byte());
  int32_t mode = in.Below(3);
  uint8_t style = in.Byte();
  std::string bytes = in.Bytes(64);
  std::string text = in.Rest();
  CheckNumbers(text);
  CheckValidators(text);
  CheckTexts(text, fault, width, mode);
  CheckBinary(text, bytes, fault, style);
  return 0;
}
