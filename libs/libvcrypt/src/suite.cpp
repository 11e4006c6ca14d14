// Suite contexts, the AES key check and the release of cipher buffers.
#include <openssl/evp.h>

#include "alloc.h"
#include "internal.h"
#include "vcrypt.h"

namespace vi = vcrypt::internal;

namespace {

constexpr const char *kCfb1Names[3] = {"AES-128-CFB1", "AES-192-CFB1",
                                       "AES-256-CFB1"};
constexpr const char *kCbcNames[3] = {"AES-128-CBC", "AES-192-CBC",
                                      "AES-256-CBC"};

void FreeCiphers(VTKCryptDCSuitesCTX *ctx) {
  for (int i = 0; i < 3; ++i) {
    EVP_CIPHER_free(ctx->cfb1[i]);
    EVP_CIPHER_free(ctx->cbc[i]);
  }
}

// Fetching once here spares every operation OpenSSL's implicit lookup by
// name, which costs more than ciphering a short value.
bool FetchCiphers(VTKCryptDCSuitesCTX *ctx) {
  for (int i = 0; i < 3; ++i) {
    ctx->cfb1[i] = EVP_CIPHER_fetch(nullptr, kCfb1Names[i], nullptr);
    ctx->cbc[i] = EVP_CIPHER_fetch(nullptr, kCbcNames[i], nullptr);
    if (ctx->cfb1[i] == nullptr || ctx->cbc[i] == nullptr) return false;
  }
  return true;
}

bool AllBytesEqual(const unsigned char *key, uint32_t length) {
  for (uint32_t i = 1; i < length; ++i) {
    if (key[i] != key[0]) return false;
  }
  return true;
}

}  // namespace

extern "C" VTKCRYPT_API long VTKCryptDCSuitesCTXSetup(
    VTKCryptDCSuitesCTX **ctx) {
  if (ctx == nullptr) return VTKCRYPT_E_NULL_ARGUMENT;
  *ctx = nullptr;
  auto *made = static_cast<VTKCryptDCSuitesCTX *>(
      vi::Calloc(1, sizeof(VTKCryptDCSuitesCTX)));
  if (made == nullptr) return VTKCRYPT_E_NO_MEMORY;
  vi::ErrorMark mark;
  if (!FetchCiphers(made)) {
    long rc = vi::WithOpenSSLError(VTKCRYPT_E_OPENSSL);
    FreeCiphers(made);
    vi::Free(made);
    return rc;
  }
  *ctx = made;
  return VTKCRYPT_SUCCESS;
}

extern "C" VTKCRYPT_API void VTKCryptDCSuitesCTXDestroy(
    VTKCryptDCSuitesCTX *ctx) {
  if (ctx == nullptr) return;
  FreeCiphers(ctx);
  vi::Free(ctx);
}

extern "C" VTKCRYPT_API long VTKCryptDCSuitesAESCheckKey(
    const void *key, uint32_t keyLength, const VTKCryptDCSuitesCTX *ctx) {
  if (ctx == nullptr) return VTKCRYPT_E_NO_CONTEXT;
  if (key == nullptr) return VTKCRYPT_E_NULL_ARGUMENT;
  if (keyLength != 16 && keyLength != 24 && keyLength != 32) {
    return VTKCRYPT_E_KEY_LENGTH;
  }
  if (AllBytesEqual(static_cast<const unsigned char *>(key), keyLength)) {
    return VTKCRYPT_W_WEAK_KEY;
  }
  return VTKCRYPT_SUCCESS;
}

extern "C" VTKCRYPT_API void VTKCryptDCSuitesGenericFree(
    void *buffer, const VTKCryptDCSuitesCTX *) {
  vi::FreeBlock(buffer);
}
