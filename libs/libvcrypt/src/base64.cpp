// Standard Base64 with padding.  The decoder accepts only canonical text,
// exactly what the checker accepts, so decoding then encoding gives the
// text back.
#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <array>

#include "alloc.h"
#include "vcrypt.h"

namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kInvalid = 0xFF;

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> table{};
  for (auto &entry : table) entry = kInvalid;
  for (uint8_t i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = i;
  }
  return table;
}
constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

uint8_t Sextet(char c) { return kDecode[static_cast<unsigned char>(c)]; }

// Number of "=" at the end of a text whose length is a non-zero multiple
// of 4 (only the last two characters can be padding).
size_t PaddingOf(const char *text, size_t length) {
  if (text[length - 1] != '=') return 0;
  return text[length - 2] == '=' ? 2 : 1;
}

bool IsCanonical(const char *text, size_t length) {
  if (length % 4 != 0) return false;
  if (length == 0) return true;
  size_t pad = PaddingOf(text, length);
  for (size_t i = 0; i < length - pad; ++i) {
    if (Sextet(text[i]) == kInvalid) return false;
  }
  // The bits of the last character that pass the end of the data must be
  // zero, or two texts would decode to the same bytes.
  if (pad == 2) return (Sextet(text[length - 3]) & 0x0F) == 0;
  if (pad == 1) return (Sextet(text[length - 2]) & 0x03) == 0;
  return true;
}

void EncodeGroup(const unsigned char *in, size_t count, char *out) {
  uint32_t bits = static_cast<uint32_t>(in[0]) << 16;
  if (count > 1) bits |= static_cast<uint32_t>(in[1]) << 8;
  if (count > 2) bits |= in[2];
  out[0] = kAlphabet[(bits >> 18) & 0x3F];
  out[1] = kAlphabet[(bits >> 12) & 0x3F];
  out[2] = count > 1 ? kAlphabet[(bits >> 6) & 0x3F] : '=';
  out[3] = count > 2 ? kAlphabet[bits & 0x3F] : '=';
}

// Decodes a checked canonical text of `length` characters into `out`.
void DecodeChecked(const char *text, size_t length, unsigned char *out) {
  for (size_t i = 0; i < length; i += 4) {
    uint32_t bits = 0;
    for (size_t j = 0; j < 4; ++j) {
      uint8_t sextet = text[i + j] == '=' ? 0 : Sextet(text[i + j]);
      bits = (bits << 6) | sextet;
    }
    *out++ = static_cast<unsigned char>(bits >> 16);
    if (text[i + 2] != '=') *out++ = static_cast<unsigned char>(bits >> 8);
    if (text[i + 3] != '=') *out++ = static_cast<unsigned char>(bits);
  }
}

}  // namespace

namespace vi = vcrypt::internal;

extern "C" VTKCRYPT_API char *VTKCryptDesBinasciiB2Abase64(const void *bytes,
                                                           size_t length) {
  if (bytes == nullptr && length != 0) {
    errno = EINVAL;
    return nullptr;
  }
  size_t groups = length / 3 + (length % 3 != 0);
  if (groups > (SIZE_MAX - 1) / 4) {
    errno = ENOMEM;
    return nullptr;
  }
  auto *text = reinterpret_cast<char *>(vi::AllocBlock(groups * 4 + 1));
  if (text == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  const auto *in = static_cast<const unsigned char *>(bytes);
  for (size_t i = 0; i < groups; ++i) {
    size_t left = length - 3 * i;
    EncodeGroup(in + 3 * i, left < 3 ? left : 3, text + 4 * i);
  }
  text[groups * 4] = '\0';
  return text;
}

extern "C" VTKCRYPT_API unsigned char *VTKCryptDesBinasciiA2Bbase64(
    const char *text, size_t *length) {
  if (length != nullptr) *length = 0;
  size_t size = text == nullptr ? 0 : strlen(text);
  if (text == nullptr || !IsCanonical(text, size)) {
    errno = EINVAL;
    return nullptr;
  }
  size_t decoded = size / 4 * 3 - (size == 0 ? 0 : PaddingOf(text, size));
  unsigned char *bytes = vi::AllocBlock(decoded + 1);
  if (bytes == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  DecodeChecked(text, size, bytes);
  bytes[decoded] = 0;
  if (length != nullptr) *length = decoded;
  return bytes;
}

extern "C" VTKCRYPT_API int VTKCryptDesBinasciiCheckbase64(const char *text,
                                                           size_t length) {
  return text != nullptr && IsCanonical(text, length) ? 1 : 0;
}

extern "C" VTKCRYPT_API void VTKCryptDesFree(void *p) { vi::FreeBlock(p); }
