// Result code texts and the per-thread extended error.
#include <openssl/err.h>

#include "internal.h"
#include "vcrypt.h"

namespace vcrypt::internal {
namespace {

// The last OpenSSL error code that went with an OPENSSL or RANDOM result on
// this thread, as errno keeps the last C library error.
constinit thread_local long t_extended = 0;

struct CodeText {
  long code;
  const char *text;
};

constexpr CodeText kTexts[] = {
    {VTKCRYPT_E_NULL_ARGUMENT, "A required argument is null"},
    {VTKCRYPT_E_NO_MEMORY, "Out of memory"},
    {VTKCRYPT_E_KEY_LENGTH, "Key length is not 16, 24 or 32 bytes"},
    {VTKCRYPT_E_NO_CONTEXT, "No suite context given"},
    {VTKCRYPT_E_INTERNAL, "Internal error in the crypto library"},
    {VTKCRYPT_E_TOO_LONG, "Data too long for one operation"},
    {VTKCRYPT_E_DECRYPT_FAILED,
     "Decryption failed: wrong key or damaged cipher text"},
    {VTKCRYPT_E_NOT_CIPHER_TEXT,
     "Input is not cipher text: too short or not whole blocks"},
    {VTKCRYPT_SUCCESS, "Success"},
    {VTKCRYPT_W_WEAK_KEY, "Key accepted, but all its bytes are equal"},
    {VTKCRYPT_E_OPENSSL, "OpenSSL cipher operation failed"},
    {VTKCRYPT_E_RANDOM, "Random generator gave no initialisation vector"},
    {VTKCRYPT_E_NO_DATA, "No data: the length is zero"},
};

}  // namespace

long WithExtendedError(long code, unsigned long extended) {
  t_extended = static_cast<long>(extended);
  return code;
}

long WithOpenSSLError(long code) {
  return WithExtendedError(code, ERR_peek_last_error());
}

}  // namespace vcrypt::internal

extern "C" VTKCRYPT_API const char *VTKCryptGetErrorText(long code) {
  for (const auto &entry : vcrypt::internal::kTexts) {
    if (entry.code == code) return entry.text;
  }
  return "Unknown crypto library result code";
}

extern "C" VTKCRYPT_API long VTKCryptGetExtendedError(void) {
  return vcrypt::internal::t_extended;
}

extern "C" VTKCRYPT_API char *VTKCryptGetExtendedErrorText(long extendedError,
                                                           char *buffer,
                                                           size_t size) {
  if (buffer == nullptr || size == 0) return nullptr;
  ERR_error_string_n(static_cast<unsigned long>(extendedError), buffer, size);
  return buffer;
}
