// Encryption contexts: the algorithm table, setup and destruction, and
// encryption to and decryption from the framed text "@N:BASE64@".
#include <errno.h>
#include <string.h>
#include <vcrypt.h>

#include "crypt/crypt_internal.h"
#include "internal/alloc.h"
#include "internal/scope.h"
#include "vantrel/vdatacrypt.h"

namespace vantrel::internal {
namespace {

using CipherFn = long (*)(const void *, uint32_t, const void *, uint32_t,
                          unsigned char **, uint32_t *,
                          const VTKCryptDCSuitesCTX *);
using ReleaseFn = void (*)(void *, const VTKCryptDCSuitesCTX *);

// One row of the algorithm table, its operations in the crypto library.
struct CryptAlgorithm {
  const char *name;
  long (*setup)(VTKCryptDCSuitesCTX **);
  void (*destroy)(VTKCryptDCSuitesCTX *);
  CipherFn encrypt;
  ReleaseFn releaseEncrypted;
  CipherFn decrypt;
  ReleaseFn releaseDecrypted;
  long (*checkKey)(const void *, uint32_t, const VTKCryptDCSuitesCTX *);
};

// CFB1 is no FIPS-approved mode: say so on every use on a FIPS system,
// but keep working, so values encrypted earlier can still be read.
void FipsNotice() {
  if (VTKUTILSIsSystemFips() == 1) {
    CryptLogError("FIPS mode set and non FIPS cipher mode detected: %s",
                  "AES_CFB1");
  }
}

long Cfb1Encrypt(const void *data, uint32_t length, const void *key,
                 uint32_t keyLength, unsigned char **out, uint32_t *outLength,
                 const VTKCryptDCSuitesCTX *suite) {
  FipsNotice();
  return VTKCryptDCSuitesAESCFB1Encrypt(data, length, key, keyLength, out,
                                        outLength, suite);
}

long Cfb1Decrypt(const void *data, uint32_t length, const void *key,
                 uint32_t keyLength, unsigned char **out, uint32_t *outLength,
                 const VTKCryptDCSuitesCTX *suite) {
  FipsNotice();
  return VTKCryptDCSuitesAESCFB1Decrypt(data, length, key, keyLength, out,
                                        outLength, suite);
}

constexpr CryptAlgorithm Row(const char *name, CipherFn encrypt,
                             CipherFn decrypt) {
  return CryptAlgorithm{name,
                        VTKCryptDCSuitesCTXSetup,
                        VTKCryptDCSuitesCTXDestroy,
                        encrypt,
                        VTKCryptDCSuitesGenericFree,
                        decrypt,
                        VTKCryptDCSuitesGenericFree,
                        VTKCryptDCSuitesAESCheckKey};
}

// Searched in this order by exact name; the first match wins.
constexpr CryptAlgorithm kAlgorithms[] = {
    Row("AES", Cfb1Encrypt, Cfb1Decrypt),
    Row("AES_CFB1", Cfb1Encrypt, Cfb1Decrypt),
    Row("AES_CBC", VTKCryptDCSuitesAESCBCEncrypt,
        VTKCryptDCSuitesAESCBCDecrypt),
    Row("AES_FIPS", VTKCryptDCSuitesAESCBCEncrypt,
        VTKCryptDCSuitesAESCBCDecrypt),
};

const CryptAlgorithm *FindAlgorithm(const char *name) {
  for (const CryptAlgorithm &row : kAlgorithms) {
    if (strcmp(row.name, name) == 0) return &row;
  }
  return nullptr;
}

// The framed form: "@", at most this many digits, ":", Base64, "@".
constexpr size_t kMaxLengthDigits = 9;
constexpr size_t kMaxBase64Length = 999999999;
// Room for "@", the digits, ":", "@" and the terminating zero.
constexpr size_t kFrameExtra = 14;
static_assert(kFrameExtra >= 1 + kMaxLengthDigits + 1 + 1 + 1);
constexpr size_t kIvLength = VTKCRYPT_IV_LENGTH;

size_t Base64Length(size_t bytes) { return (bytes + 2) / 3 * 4; }

// The Base64 length of the cipher output of `length` bytes of data, for the
// longest output either mode makes (CBC adds up to one block of padding).
size_t FramedBase64Length(uint32_t length) {
  return Base64Length(kIvLength + (size_t{length} / 16 + 1) * 16);
}

// Writes "@N:BASE64@" and a terminating zero into out and returns out.
char *WriteFrame(char *out, const char *base64, size_t length) {
  char digits[kMaxLengthDigits + 1];
  size_t count = 0;
  for (size_t rest = length; count == 0 || rest != 0; rest /= 10) {
    digits[count++] = static_cast<char>('0' + rest % 10);
  }
  char *p = out;
  *p++ = '@';
  while (count != 0) *p++ = digits[--count];
  *p++ = ':';
  memcpy(p, base64, length);
  p += length;
  *p++ = '@';
  *p = '\0';
  return out;
}

// Frames the cipher output: 0, or ENOMEM (*outText set to null when the
// Base64 conversion failed, left alone when the frame's block could not
// be had).
VRC Frame(const unsigned char *cipher, uint32_t cipherLength, char **outText) {
  char *base64 = VTKCryptDesBinasciiB2Abase64(cipher, cipherLength);
  if (base64 == nullptr) {
    *outText = nullptr;
    return ENOMEM;
  }
  ScopeExit release([&] { VTKCryptDesFree(base64); });
  size_t length = strlen(base64);
  char *text = static_cast<char *>(Malloc(length + kFrameExtra));
  if (text == nullptr) return ENOMEM;
  *outText = WriteFrame(text, base64, length);
  return 0;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads the stated length from `p` to `end` as strtol reads base 10: blanks,
// a sign, digits.  True when digits were read, they end exactly at `end`
// and the number is positive; *value then holds it (capped, since a number
// beyond the text's length can only fail the comparison that follows).
bool ReadStatedLength(const char *p, const char *end, size_t *value) {
  while (p < end && IsSpace(*p)) ++p;
  bool negative = p < end && *p == '-';
  if (p < end && (*p == '+' || *p == '-')) ++p;
  if (p == end) return false;
  constexpr size_t kCap = SIZE_MAX / 10 - 10;
  size_t number = 0;
  for (; p < end; ++p) {
    if (*p < '0' || *p > '9') return false;
    if (number < kCap) number = number * 10 + static_cast<size_t>(*p - '0');
  }
  if (negative || number == 0) return false;
  *value = number;
  return true;
}

// Everything the encrypted form asks but valid Base64: "@", a stated
// length ending at the first colon, that many characters, "@".  On success
// *base64 and *base64Length give those characters.
bool IsFramed(const char *text, size_t length, const char **base64,
              size_t *base64Length) {
  if (text == nullptr || length < 2) return false;
  if (text[0] != '@' || text[length - 1] != '@') return false;
  const char *colon = static_cast<const char *>(memchr(text, ':', length));
  if (colon == nullptr) return false;
  size_t stated = 0;
  if (!ReadStatedLength(text + 1, colon, &stated)) return false;
  size_t present = static_cast<size_t>(text + length - 1 - (colon + 1));
  if (stated != present) return false;
  *base64 = colon + 1;
  *base64Length = present;
  return true;
}

// Decodes the Base64 part of a framed text: 0 with the cipher bytes (a
// block of the crypto library), or the failure's code.  The decoder accepts
// exactly the Base64 the checker does, so its refusal is the checker's and
// the text is no encrypted value; checking first would read it twice.
VRC Unframe(const char *base64, size_t base64Length, unsigned char **cipher,
            uint32_t *cipherLength) {
  char *copy = Strndup(base64, base64Length);
  if (copy == nullptr) return ENOMEM;
  size_t decoded = 0;
  unsigned char *bytes = VTKCryptDesBinasciiA2Bbase64(copy, &decoded);
  int error = errno;
  Free(copy);
  if (bytes == nullptr) {
    return error == ENOMEM ? ENOMEM : VRC_CRYPT_NOT_ENCRYPTED;
  }
  if (decoded > UINT32_MAX) {
    VTKCryptDesFree(bytes);
    return CryptResult(VTKCRYPT_E_TOO_LONG);
  }
  *cipher = bytes;
  *cipherLength = static_cast<uint32_t>(decoded);
  return 0;
}

}  // namespace

}  // namespace vantrel::internal

// The record behind a VDataCryptContext.  Read-only after setup.
struct VDataCryptContextData {
  const vantrel::internal::CryptAlgorithm *algorithm;
  unsigned char *key;
  uint32_t keyLength;
  VTKCryptDCSuitesCTX *suite;
};

namespace vantrel::internal {

VRC CryptSetupWithKey(const char *algorithm, const void *key, uint32_t length,
                      VDataCryptContext *out) {
  const CryptAlgorithm *row = FindAlgorithm(algorithm);
  if (row == nullptr) {
    CryptLogError("Encryption algorithm not found: %s", algorithm);
    return VRC_CRYPT_NO_ALGORITHM;
  }
  HeapPtr<VDataCryptContextData> context(static_cast<VDataCryptContextData *>(
      Calloc(1, sizeof(VDataCryptContextData))));
  if (!context) return ENOMEM;
  VRC rc = CryptResult(row->setup(&context->suite));
  if (rc != 0) return rc;
  ScopeExit destroySuite([&] { row->destroy(context->suite); });
  rc = CryptResult(row->checkKey(key, length, context->suite));
  if (rc != 0) return rc;
  context->key = static_cast<unsigned char *>(Malloc(length));
  if (context->key == nullptr) return ENOMEM;
  memcpy(context->key, key, length);
  context->keyLength = length;
  context->algorithm = row;
  destroySuite.Dismiss();
  *out = context.Release();
  return 0;
}

void CryptDestroy(VDataCryptContext context) {
  if (context == nullptr) return;
  context->algorithm->destroy(context->suite);
  WipeAndFree(context->key, context->keyLength);
  Free(context);
}

VRC CryptEncrypt(VDataCryptContext context, const void *data, uint32_t length,
                 char **outText) {
  if (length == 0) return CryptResult(VTKCRYPT_E_NO_DATA);
  // The length field of the form has at most 9 digits.
  if (FramedBase64Length(length) > kMaxBase64Length) {
    return CryptResult(VTKCRYPT_E_TOO_LONG);
  }
  const CryptAlgorithm *row = context->algorithm;
  unsigned char *cipher = nullptr;
  uint32_t cipherLength = 0;
  VRC rc =
      CryptResult(row->encrypt(data, length, context->key, context->keyLength,
                               &cipher, &cipherLength, context->suite));
  if (rc != 0) return rc;
  rc = Frame(cipher, cipherLength, outText);
  row->releaseEncrypted(cipher, context->suite);
  return rc;
}

VRC CryptDecrypt(VDataCryptContext context, const char *text, char **outData,
                 uint32_t *outLength) {
  const char *base64 = nullptr;
  size_t base64Length = 0;
  if (!IsFramed(text, strlen(text), &base64, &base64Length)) {
    return VRC_CRYPT_NOT_ENCRYPTED;
  }
  unsigned char *cipher = nullptr;
  uint32_t cipherLength = 0;
  VRC rc = Unframe(base64, base64Length, &cipher, &cipherLength);
  if (rc != 0) return rc;
  const CryptAlgorithm *row = context->algorithm;
  unsigned char *plain = nullptr;
  uint32_t plainLength = 0;
  long result =
      row->decrypt(cipher, cipherLength, context->key, context->keyLength,
                   &plain, &plainLength, context->suite);
  VTKCryptDesFree(cipher);
  rc = CryptResult(result);
  if (rc != 0) return rc;
  ScopeExit release([&] { row->releaseDecrypted(plain, context->suite); });
  auto *data = static_cast<char *>(Malloc(size_t{plainLength} + 1));
  if (data == nullptr) return ENOMEM;
  memcpy(data, plain, plainLength);
  data[plainLength] = '\0';
  *outData = data;
  *outLength = plainLength;
  return 0;
}

bool IsEncryptedText(const char *text, size_t length) {
  const char *base64 = nullptr;
  size_t base64Length = 0;
  return IsFramed(text, length, &base64, &base64Length) &&
         VTKCryptDesBinasciiCheckbase64(base64, base64Length) != 0;
}

const unsigned char *CryptKey(VDataCryptContext context, uint32_t *length) {
  *length = context->keyLength;
  return context->key;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

int VDataCryptTestData(const char *text, size_t length) {
  return vi::IsEncryptedText(text, length) ? 1 : 0;
}

VRC VDataCryptSetupContextWithKey(const char *algorithm, const void *key,
                                  uint32_t length, VDataCryptContext *out) {
  if (algorithm == nullptr || key == nullptr || out == nullptr) return EINVAL;
  return vi::CryptSetupWithKey(algorithm, key, length, out);
}

void VDataCryptCipherContextDestroy(VDataCryptContext context) {
  vi::CryptDestroy(context);
}

VRC VDataCryptEncrypt(VDataCryptContext context, const void *data,
                      uint32_t length, char **outText) {
  if (context == nullptr || data == nullptr || outText == nullptr) {
    return EINVAL;
  }
  return vi::CryptEncrypt(context, data, length, outText);
}

void VDataCryptFreeEncryptedData(VDataCryptContext, char *text) {
  vi::Free(text);
}

VRC VDataCryptDecrypt(VDataCryptContext context, const char *text,
                      char **outData, uint32_t *outLength) {
  if (context == nullptr || text == nullptr || outData == nullptr ||
      outLength == nullptr) {
    return EINVAL;
  }
  return vi::CryptDecrypt(context, text, outData, outLength);
}

void VDataCryptFreeDecryptedData(VDataCryptContext, char *data) {
  vi::FreePlain(data);
}
