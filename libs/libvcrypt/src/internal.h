// Internals shared by libvcrypt's units: the suite context record, result
// helpers and the test hooks for the random source and the FIPS flag file.
#ifndef VCRYPT_SRC_INTERNAL_H
#define VCRYPT_SRC_INTERNAL_H

#include <openssl/err.h>
#include <openssl/evp.h>
#include <stdint.h>

#include "vcrypt.h"

// The record behind the public opaque type.  Filled once at setup and only
// read afterwards, so threads may share it.
struct VTKCryptDCSuitesCTX {
  // Indexed by key size: 0 for 128 bits, 1 for 192, 2 for 256.
  EVP_CIPHER *cfb1[3];
  EVP_CIPHER *cbc[3];
};

namespace vcrypt::internal {

// Records `extended` as the calling thread's extended error and returns
// `code`.
long WithExtendedError(long code, unsigned long extended);
// Returns `code` with OpenSSL's most recent error of this thread as the
// extended error.
long WithOpenSSLError(long code);

// Keeps OpenSSL's error queue of this thread as the caller left it: errors
// that this library's calls add are dropped when the guard ends, after the
// extended error has taken what it needs.
class ErrorMark {
 public:
  ErrorMark() { ERR_set_mark(); }
  ErrorMark(const ErrorMark &) = delete;
  ErrorMark &operator=(const ErrorMark &) = delete;
  ~ErrorMark() { ERR_pop_to_mark(); }
};

// Fills `length` bytes with random bytes; 1 on success as RAND_bytes.
using RandomSource = int (*)(unsigned char *buffer, int length);
// Test hook: replaces OpenSSL's RAND_bytes as the source of vectors, so
// that tests can fix a vector or make the source fail.  Null restores it.
void SetRandomSource(RandomSource source);

// Test hook: reads the kernel's FIPS flag from `path` instead of
// /proc/sys/crypto/fips_enabled (null restores it) and forgets the flag
// read so far.  The path must stay valid while it is in use.
void SetFipsFlagPath(const char *path);

}  // namespace vcrypt::internal

#endif  // VCRYPT_SRC_INTERNAL_H
