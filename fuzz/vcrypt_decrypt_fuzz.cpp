// Decryption of arbitrary input, checked against OpenSSL called directly.
// Input: one selector byte (bit 0 chooses CBC over CFB1; the rest, modulo
// 3, a 16-, 24- or 32-byte key), the key, then the cipher input (vector
// first).  Whatever decrypts must also encrypt and decrypt back.
#include <openssl/evp.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "vcrypt.h"

namespace {

using Fn = long (*)(const void *, uint32_t, const void *, uint32_t,
                    unsigned char **, uint32_t *, const VTKCryptDCSuitesCTX *);

void Require(bool condition) {
  if (!condition) abort();
}

const VTKCryptDCSuitesCTX *Suite() {
  static VTKCryptDCSuitesCTX *ctx = [] {
    VTKCryptDCSuitesCTX *made = nullptr;
    Require(VTKCryptDCSuitesCTXSetup(&made) == VTKCRYPT_SUCCESS);
    return made;
  }();
  return ctx;
}

const EVP_CIPHER *Reference(bool cbc, size_t key_length) {
  if (key_length == 16) return cbc ? EVP_aes_128_cbc() : EVP_aes_128_cfb1();
  if (key_length == 24) return cbc ? EVP_aes_192_cbc() : EVP_aes_192_cfb1();
  return cbc ? EVP_aes_256_cbc() : EVP_aes_256_cfb1();
}

// OpenSSL's decryption of the input; false when the padding is wrong.
bool ReferenceDecrypt(bool cbc, const uint8_t *key, size_t key_length,
                      const uint8_t *in, size_t n, std::vector<uint8_t> *out) {
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Require(ctx != nullptr);
  out->resize(n + 16);
  int head = 0, tail = 0;
  Require(EVP_DecryptInit_ex(ctx, Reference(cbc, key_length), nullptr, key,
                             in) == 1);
  Require(EVP_DecryptUpdate(ctx, out->data(), &head, in + 16,
                            static_cast<int>(n - 16)) == 1);
  bool ok = EVP_DecryptFinal_ex(ctx, out->data() + head, &tail) == 1;
  EVP_CIPHER_CTX_free(ctx);
  out->resize(ok ? static_cast<size_t>(head + tail) : 0);
  return ok;
}

void RoundTrip(Fn encrypt, Fn decrypt, const uint8_t *key, uint32_t key_length,
               const unsigned char *plain, uint32_t length) {
  unsigned char *cipher = nullptr, *back = nullptr;
  uint32_t cipher_length = 0, back_length = 0;
  Require(encrypt(plain, length, key, key_length, &cipher, &cipher_length,
                  Suite()) == VTKCRYPT_SUCCESS);
  Require(decrypt(cipher, cipher_length, key, key_length, &back, &back_length,
                  Suite()) == VTKCRYPT_SUCCESS);
  Require(back_length == length && memcmp(back, plain, length) == 0);
  VTKCryptDCSuitesGenericFree(cipher, nullptr);
  VTKCryptDCSuitesGenericFree(back, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  bool cbc = (data[0] & 1) != 0;
  uint32_t key_length = 16 + 8 * ((data[0] >> 1) % 3);
  if (size < 1 + key_length) return 0;
  const uint8_t *key = data + 1;
  const uint8_t *in = key + key_length;
  auto n = static_cast<uint32_t>(size - 1 - key_length);
  Fn encrypt =
      cbc ? VTKCryptDCSuitesAESCBCEncrypt : VTKCryptDCSuitesAESCFB1Encrypt;
  Fn decrypt =
      cbc ? VTKCryptDCSuitesAESCBCDecrypt : VTKCryptDCSuitesAESCFB1Decrypt;

  unsigned char *plain = reinterpret_cast<unsigned char *>(1);
  uint32_t length = 1;
  long rc = decrypt(in, n, key, key_length, &plain, &length, Suite());
  if (rc != VTKCRYPT_SUCCESS) Require(plain == nullptr && length == 0);
  if (n == 0) {
    Require(rc == VTKCRYPT_E_NO_DATA);
  } else if (n <= 16 || (cbc && (n % 16 != 0 || n < 32))) {
    Require(rc == VTKCRYPT_E_NOT_CIPHER_TEXT);
  } else {
    std::vector<uint8_t> expected;
    if (!ReferenceDecrypt(cbc, key, key_length, in, n, &expected)) {
      Require(rc == VTKCRYPT_E_DECRYPT_FAILED);
    } else {
      Require(rc == VTKCRYPT_SUCCESS && length == expected.size() &&
              plain[length] == 0 &&
              memcmp(plain, expected.data(), length) == 0);
      if (length > 0)
        RoundTrip(encrypt, decrypt, key, key_length, plain, length);
    }
  }
  VTKCryptDCSuitesGenericFree(plain, nullptr);
  return 0;
}
