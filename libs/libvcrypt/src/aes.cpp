// AES in CFB1 and CBC modes.  Cipher output is a fresh random vector
// followed by the cipher text, so equal data never encrypts alike.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <atomic>
#include <memory>

#include "alloc.h"
#include "internal.h"
#include "vcrypt.h"

namespace vcrypt::internal {
namespace {

constinit std::atomic<RandomSource> g_random{nullptr};

enum class Mode { kCfb1, kCbc };
constexpr uint32_t kBlock = 16;
static_assert(VTKCRYPT_IV_LENGTH == kBlock);
// The largest cipher input: the output of the longest data in CBC mode.
constexpr uint32_t kMaxInput = VTKCRYPT_MAX_DATA_LENGTH + 2 * kBlock;
static_assert(kMaxInput <= INT32_MAX);

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
struct BlockFree {
  void operator()(unsigned char *block) const { FreeBlock(block); }
};
using Block = std::unique_ptr<unsigned char, BlockFree>;

// The arguments every operation shares.
struct Call {
  Mode mode;
  const unsigned char *in;
  uint32_t length;
  const unsigned char *key;
  uint32_t key_length;
  unsigned char **out;
  uint32_t *out_length;
  const VTKCryptDCSuitesCTX *ctx;
};

// Checks what encryption and decryption check alike; clears the outputs
// first so that every failure leaves them empty.
long CheckCall(const Call &call) {
  if (call.out != nullptr) *call.out = nullptr;
  if (call.out_length != nullptr) *call.out_length = 0;
  if (call.out == nullptr || call.out_length == nullptr) {
    return VTKCRYPT_E_NULL_ARGUMENT;
  }
  if (call.ctx == nullptr) return VTKCRYPT_E_NO_CONTEXT;
  if (call.key == nullptr) return VTKCRYPT_E_NULL_ARGUMENT;
  if (call.key_length != 16 && call.key_length != 24 && call.key_length != 32) {
    return VTKCRYPT_E_KEY_LENGTH;
  }
  if (call.length == 0) return VTKCRYPT_E_NO_DATA;
  if (call.in == nullptr) return VTKCRYPT_E_NULL_ARGUMENT;
  return VTKCRYPT_SUCCESS;
}

const EVP_CIPHER *CipherFor(const Call &call) {
  int size = (call.key_length - 16) / 8;
  return call.mode == Mode::kCfb1 ? call.ctx->cfb1[size] : call.ctx->cbc[size];
}

int RandomBytes(unsigned char *buffer, int length) {
  RandomSource source = g_random.load(std::memory_order_relaxed);
  return source != nullptr ? source(buffer, length)
                           : RAND_bytes(buffer, length);
}

// Runs one whole cipher pass of `length` bytes from `in` to `out` and
// stores the number of bytes written.  A failed final step of a decryption
// is a padding error.
long RunCipher(const Call &call, const unsigned char *iv,
               const unsigned char *in, uint32_t length, unsigned char *out,
               uint32_t *written, int encrypt) {
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return VTKCRYPT_E_NO_MEMORY;
  if (!EVP_CipherInit_ex2(ctx.get(), CipherFor(call), call.key, iv, encrypt,
                          nullptr)) {
    return WithOpenSSLError(VTKCRYPT_E_OPENSSL);
  }
  int head = 0;
  int tail = 0;
  if (!EVP_CipherUpdate(ctx.get(), out, &head, in, static_cast<int>(length))) {
    return WithOpenSSLError(VTKCRYPT_E_OPENSSL);
  }
  if (!EVP_CipherFinal_ex(ctx.get(), out + head, &tail)) {
    return encrypt ? WithOpenSSLError(VTKCRYPT_E_OPENSSL)
                   : VTKCRYPT_E_DECRYPT_FAILED;
  }
  *written = static_cast<uint32_t>(head + tail);
  return VTKCRYPT_SUCCESS;
}

long Encrypt(const Call &call) {
  long rc = CheckCall(call);
  if (rc != VTKCRYPT_SUCCESS) return rc;
  if (call.length > VTKCRYPT_MAX_DATA_LENGTH) return VTKCRYPT_E_TOO_LONG;
  uint32_t body = call.mode == Mode::kCbc ? (call.length / kBlock + 1) * kBlock
                                          : call.length;
  Block out(AllocBlock(kBlock + body));
  if (!out) return VTKCRYPT_E_NO_MEMORY;
  ErrorMark mark;
  if (RandomBytes(out.get(), kBlock) != 1) {
    return WithOpenSSLError(VTKCRYPT_E_RANDOM);
  }
  uint32_t written = 0;
  rc = RunCipher(call, out.get(), call.in, call.length, out.get() + kBlock,
                 &written, 1);
  if (rc != VTKCRYPT_SUCCESS) return rc;
  *call.out_length = kBlock + written;
  *call.out = out.release();
  return VTKCRYPT_SUCCESS;
}

long CheckCipherInput(const Call &call) {
  if (call.length > kMaxInput) return VTKCRYPT_E_TOO_LONG;
  if (call.length <= kBlock) return VTKCRYPT_E_NOT_CIPHER_TEXT;
  if (call.mode == Mode::kCbc && call.length % kBlock != 0) {
    return VTKCRYPT_E_NOT_CIPHER_TEXT;
  }
  return VTKCRYPT_SUCCESS;
}

long Decrypt(const Call &call) {
  long rc = CheckCall(call);
  if (rc == VTKCRYPT_SUCCESS) rc = CheckCipherInput(call);
  if (rc != VTKCRYPT_SUCCESS) return rc;
  uint32_t body = call.length - kBlock;
  // CBC may write a whole block more than it finally keeps; the plain text
  // gets a terminating zero either way.
  Block out(AllocBlock(body + (call.mode == Mode::kCbc ? kBlock : 1)));
  if (!out) return VTKCRYPT_E_NO_MEMORY;
  ErrorMark mark;
  uint32_t written = 0;
  rc = RunCipher(call, call.in, call.in + kBlock, body, out.get(), &written, 0);
  if (rc != VTKCRYPT_SUCCESS) return rc;
  out.get()[written] = 0;
  *call.out_length = written;
  *call.out = out.release();
  return VTKCRYPT_SUCCESS;
}

Call MakeCall(Mode mode, const void *data, uint32_t length, const void *key,
              uint32_t key_length, unsigned char **out, uint32_t *out_length,
              const VTKCryptDCSuitesCTX *ctx) {
  return Call{mode,       static_cast<const unsigned char *>(data),
              length,     static_cast<const unsigned char *>(key),
              key_length, out,
              out_length, ctx};
}

}  // namespace

void SetRandomSource(RandomSource source) {
  g_random.store(source, std::memory_order_relaxed);
}

}  // namespace vcrypt::internal

namespace vi = vcrypt::internal;

extern "C" VTKCRYPT_API long VTKCryptDCSuitesAESCFB1Encrypt(
    const void *data, uint32_t length, const void *key, uint32_t keyLength,
    unsigned char **out, uint32_t *outLength, const VTKCryptDCSuitesCTX *ctx) {
  return vi::Encrypt(vi::MakeCall(vi::Mode::kCfb1, data, length, key, keyLength,
                                  out, outLength, ctx));
}

extern "C" VTKCRYPT_API long VTKCryptDCSuitesAESCFB1Decrypt(
    const void *data, uint32_t length, const void *key, uint32_t keyLength,
    unsigned char **out, uint32_t *outLength, const VTKCryptDCSuitesCTX *ctx) {
  return vi::Decrypt(vi::MakeCall(vi::Mode::kCfb1, data, length, key, keyLength,
                                  out, outLength, ctx));
}

extern "C" VTKCRYPT_API long VTKCryptDCSuitesAESCBCEncrypt(
    const void *data, uint32_t length, const void *key, uint32_t keyLength,
    unsigned char **out, uint32_t *outLength, const VTKCryptDCSuitesCTX *ctx) {
  return vi::Encrypt(vi::MakeCall(vi::Mode::kCbc, data, length, key, keyLength,
                                  out, outLength, ctx));
}

extern "C" VTKCRYPT_API long VTKCryptDCSuitesAESCBCDecrypt(
    const void *data, uint32_t length, const void *key, uint32_t keyLength,
    unsigned char **out, uint32_t *outLength, const VTKCryptDCSuitesCTX *ctx) {
  return vi::Decrypt(vi::MakeCall(vi::Mode::kCbc, data, length, key, keyLength,
                                  out, outLength, ctx));
}
