// The framed encrypted text "@N:BASE64@": the checker against a model
// built on strtol and OpenSSL's Base64, then decryption of whatever it
// accepts against OpenSSL's decryption, then a round trip of the plain
// bytes.  Input: one selector byte (the algorithm), then the text, NULs
// included.
#include <openssl/evp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "vantrel/vdatacrypt.h"
#include "vantrel/vlog.h"

namespace {

constexpr const char *kAlgorithms[] = {"AES", "AES_CFB1", "AES_CBC",
                                       "AES_FIPS"};
constexpr unsigned char kKey[24] = {
    0x13, 0x57, 0x9b, 0xdf, 0x24, 0x68, 0xac, 0xe0, 0x31, 0x75, 0xb9, 0xfd,
    0x42, 0x86, 0xca, 0x0e, 0x53, 0x97, 0xdb, 0x1f, 0x64, 0xa8, 0xec, 0x20};

bool IsCbc(int algorithm) { return algorithm >= 2; }

// One context per algorithm, made on first use and kept.
VDataCryptContext ContextFor(int algorithm) {
  static VDataCryptContext contexts[4] = {};
  if (contexts[algorithm] == nullptr) {
    VLogMgrSetLevel(VLOG_FATAL);  // failures are expected here
    FUZZ_CHECK(VDataCryptSetupContextWithKey(kAlgorithms[algorithm], kKey,
                                             sizeof kKey,
                                             &contexts[algorithm]) == 0);
  }
  return contexts[algorithm];
}

// Canonical standard Base64: OpenSSL decodes it and encodes it back the
// same.
bool IsCanonicalBase64(const std::string &text) {
  if (text.size() % 4 != 0) return false;
  if (text.empty()) return true;
  std::string bytes(text.size(), '\0');
  int decoded =
      EVP_DecodeBlock(reinterpret_cast<unsigned char *>(bytes.data()),
                      reinterpret_cast<const unsigned char *>(text.data()),
                      static_cast<int>(text.size()));
  if (decoded < 0) return false;
  size_t pad = text.back() != '=' ? 0 : text[text.size() - 2] == '=' ? 2 : 1;
  std::string again(text.size() + 1, '\0');
  int encoded =
      EVP_EncodeBlock(reinterpret_cast<unsigned char *>(again.data()),
                      reinterpret_cast<const unsigned char *>(bytes.data()),
                      static_cast<int>(static_cast<size_t>(decoded) - pad));
  again.resize(static_cast<size_t>(encoded));
  return again == text;
}

bool ModelIsFramed(const std::string &text) {
  if (text.size() < 2 || text.front() != '@' || text.back() != '@') {
    return false;
  }
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  std::string stated = text.substr(1, colon - 1);
  if (stated.find('\0') != std::string::npos) return false;
  char *end = nullptr;
  long n = strtol(stated.c_str(), &end, 10);
  if (end != stated.c_str() + stated.size() || n <= 0) return false;
  size_t present = text.size() - 1 - (colon + 1);
  if (static_cast<unsigned long>(n) != present) return false;
  return IsCanonicalBase64(text.substr(colon + 1, present));
}

// OpenSSL's decryption of the Base64 part of an accepted text; false when
// it fails (too short for the mode, or bad padding).
bool ReferenceDecrypt(int algorithm, const std::string &text,
                      std::string *plain) {
  size_t colon = text.find(':');
  std::string base64 = text.substr(colon + 1, text.size() - colon - 2);
  std::string cipher(base64.size(), '\0');
  int n =
      EVP_DecodeBlock(reinterpret_cast<unsigned char *>(cipher.data()),
                      reinterpret_cast<const unsigned char *>(base64.data()),
                      static_cast<int>(base64.size()));
  size_t pad = base64.back() != '='               ? 0
               : base64[base64.size() - 2] == '=' ? 2
                                                  : 1;
  cipher.resize(static_cast<size_t>(n) - pad);
  if (cipher.size() <= 16) return false;
  if (IsCbc(algorithm) && cipher.size() % 16 != 0) return false;
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  FUZZ_CHECK(ctx != nullptr);
  auto *in = reinterpret_cast<const unsigned char *>(cipher.data());
  plain->assign(cipher.size(), '\0');
  auto *out = reinterpret_cast<unsigned char *>(plain->data());
  int head = 0, tail = 0;
  bool ok = EVP_DecryptInit_ex(
                ctx, IsCbc(algorithm) ? EVP_aes_192_cbc() : EVP_aes_192_cfb1(),
                nullptr, kKey, in) == 1 &&
            EVP_DecryptUpdate(ctx, out, &head, in + 16,
                              static_cast<int>(cipher.size() - 16)) == 1 &&
            EVP_DecryptFinal_ex(ctx, out + head, &tail) == 1;
  EVP_CIPHER_CTX_free(ctx);
  plain->resize(ok ? static_cast<size_t>(head + tail) : 0);
  return ok;
}

// Encrypts bytes and decrypts them back through the library.
void RoundTrip(VDataCryptContext context, const std::string &bytes) {
  char *text = nullptr;
  FUZZ_CHECK(VDataCryptEncrypt(context, bytes.data(),
                               static_cast<uint32_t>(bytes.size()),
                               &text) == 0);
  FUZZ_CHECK(VDataCryptTestData(text, strlen(text)) == 1);
  char *back = nullptr;
  uint32_t length = 0;
  FUZZ_CHECK(VDataCryptDecrypt(context, text, &back, &length) == 0);
  FUZZ_CHECK(std::string(back, length) == bytes && back[length] == 0);
  VDataCryptFreeDecryptedData(context, back);
  VDataCryptFreeEncryptedData(context, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  int algorithm = data[0] & 3;
  VDataCryptContext context = ContextFor(algorithm);
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

  FUZZ_CHECK(VDataCryptTestData(text.data(), text.size()) ==
             (ModelIsFramed(text) ? 1 : 0));

  // Decryption sees the text up to its first NUL.
  std::string c(text.c_str());
  char sentinel = 0;
  char *plain = &sentinel;
  uint32_t length = 99;
  VRC rc = VDataCryptDecrypt(context, c.c_str(), &plain, &length);
  if (rc != 0) FUZZ_CHECK(plain == &sentinel && length == 99);
  if (!ModelIsFramed(c)) {
    FUZZ_CHECK(rc == VRC_CRYPT_NOT_ENCRYPTED);
  } else {
    std::string expected;
    bool ok = ReferenceDecrypt(algorithm, c, &expected);
    if (ok) {
      FUZZ_CHECK(rc == 0 && std::string(plain, length) == expected &&
                 plain[length] == 0);
    } else {
      // Too short for the mode, or a CBC padding error.
      FUZZ_CHECK(rc == VRC_CRYPT_NOT_ENCRYPTED || rc == -5008);
    }
  }
  if (rc == 0) {
    if (length > 0) RoundTrip(context, std::string(plain, length));
    VDataCryptFreeDecryptedData(context, plain);
  }
  // The input itself as a value, kept short: CFB1 works bit by bit.
  if (!text.empty()) RoundTrip(context, text.substr(0, 256));
  return 0;
}
