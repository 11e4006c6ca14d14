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

// Ors the table entries together: an invalid character's entry has the top
// bits set, a sextet never does, so one test at the end covers them all
// and the loop has no branch per character.
bool AllSextets(const char *text, size_t length) {
  uint8_t seen = 0;
  for (size_t i = 0; i < length; ++i) seen |= Sextet(text[i]);
  return (seen & 0xC0) == 0;
}

bool IsCanonical(const char *text, size_t length) {
  if (length % 4 != 0) return false;
  if (length == 0) return true;
  size_t pad = PaddingOf(text, length);
  if (!AllSextets(text, length - pad)) return false;
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

// Decodes `length` characters (a non-zero multiple of 4 whose last `pad`
// are "=") into `out` in one pass, checking as it goes: false when a
// character is outside the alphabet or the unused bits of the last one are
// set (the checker's rules), in which case `out` holds garbage.
bool Decode(const char *text, size_t length, size_t pad, unsigned char *out) {
  uint8_t seen = 0;  // an invalid character's entry sets the top bits
  size_t plain = pad == 0 ? length : length - 4;
  for (size_t i = 0; i < plain; i += 4, out += 3) {
    uint8_t a = Sextet(text[i]), b = Sextet(text[i + 1]);
    uint8_t c = Sextet(text[i + 2]), d = Sextet(text[i + 3]);
    seen |= a | b | c | d;
    uint32_t bits =
        uint32_t{a} << 18 | uint32_t{b} << 12 | uint32_t{c} << 6 | d;
    out[0] = static_cast<unsigned char>(bits >> 16);
    out[1] = static_cast<unsigned char>(bits >> 8);
    out[2] = static_cast<unsigned char>(bits);
  }
  if (pad == 0) return (seen & 0xC0) == 0;
  uint8_t a = Sextet(text[plain]), b = Sextet(text[plain + 1]);
  uint8_t c = pad == 2 ? 0 : Sextet(text[plain + 2]);
  seen |= a | b | c;
  out[0] = static_cast<unsigned char>(a << 2 | b >> 4);
  if (pad == 1) out[1] = static_cast<unsigned char>(b << 4 | c >> 2);
  bool spare_bits_clear = pad == 2 ? (b & 0x0F) == 0 : (c & 0x03) == 0;
  return (seen & 0xC0) == 0 && spare_bits_clear;
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
  if (text == nullptr || size % 4 != 0) {
    errno = EINVAL;
    return nullptr;
  }
  size_t pad = size == 0 ? 0 : PaddingOf(text, size);
  size_t decoded = size / 4 * 3 - pad;
  // Checked while decoding, so the text is read once; a text found wrong
  // costs its block, which is wiped like every other.
  unsigned char *bytes = vi::AllocBlock(decoded + 1);
  if (bytes == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  if (size != 0 && !Decode(text, size, pad, bytes)) {
    vi::FreeBlock(bytes);
    errno = EINVAL;
    return nullptr;
  }
  bytes[decoded] = 0;
  if (length != nullptr) *length = decoded;
  return bytes;
}

extern "C" VTKCRYPT_API int VTKCryptDesBinasciiCheckbase64(const char *text,
                                                           size_t length) {
  return text != nullptr && IsCanonical(text, length) ? 1 : 0;
}

extern "C" VTKCRYPT_API void VTKCryptDesFree(void *p) { vi::FreeBlock(p); }
