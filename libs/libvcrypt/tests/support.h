// Shared pieces of libvcrypt's tests: the allocation-failure sweep over
// this library's and OpenSSL's allocations, a scoped suite context, the
// modes as a table, and OpenSSL called directly as the reference.
#ifndef VCRYPT_TESTS_SUPPORT_H
#define VCRYPT_TESTS_SUPPORT_H

#include <openssl/evp.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "vcrypt.h"

namespace vtest {

using Bytes = std::vector<unsigned char>;

// Handed to a sweep body: Arm() right before the operation under test,
// Disarm() right after it.  OpenSSL absorbs some failures of its own
// allocations (a cache entry not made), so an operation may still succeed
// when only OpenSSL's failed; a failure of this library's must fail it.
class Fault {
 public:
  Fault(uint64_t nth, bool repeat) : nth_(nth), repeat_(repeat) {}
  void Arm();
  void Disarm();
  // Some allocation failed, this library's or OpenSSL's.
  bool fired() const { return fired_ > 0; }
  // An allocation of this library's funnel failed.
  bool ours() const { return fired_ > openssl_fired_; }
  // Checks a result code against the failures: success only when none of
  // ours failed, failure only with an allocation-failure code.
  void ExpectOutcome(long rc) const;

 private:
  uint64_t nth_;
  bool repeat_;
  bool armed_ = false;
  uint64_t fired_ = 0;
  uint64_t openssl_fired_ = 0;
};

// Runs body once unarmed (so that OpenSSL's lazy set-up is done), then with
// allocation n = 1, 2, ... failing, once failing only that one and once
// every one from it on, until a run completes without a failure.  Every
// run must release what it made: blocks alive before and after each run
// (this library's and OpenSSL's) are compared.  Returns the number of
// allocations of a successful run.
uint64_t Sweep(const std::function<void(Fault &)> &body);

// Blocks allocated by this library and by OpenSSL and not yet released.
int64_t LiveBlocks();

// A suite context for the length of a test.
class Suite {
 public:
  Suite();
  ~Suite() { VTKCryptDCSuitesCTXDestroy(ctx_); }
  Suite(const Suite &) = delete;
  Suite &operator=(const Suite &) = delete;
  const VTKCryptDCSuitesCTX *get() const { return ctx_; }

 private:
  VTKCryptDCSuitesCTX *ctx_ = nullptr;
};

using CipherFn = long (*)(const void *, uint32_t, const void *, uint32_t,
                          unsigned char **, uint32_t *,
                          const VTKCryptDCSuitesCTX *);
struct Mode {
  const char *name;
  CipherFn encrypt;
  CipherFn decrypt;
  bool cbc;
};
extern const Mode kModes[2];
constexpr uint32_t kKeyLengths[] = {16, 24, 32};

// The OpenSSL cipher of a mode for a key length.
const EVP_CIPHER *EvpCipher(const Mode &mode, size_t key_length);
// One whole pass of OpenSSL's cipher; an empty result on failure.
Bytes EvpRun(const Mode &mode, const Bytes &key, const unsigned char *iv,
             const Bytes &in, bool encrypt);

// Calls a mode's function and returns the result code; the output goes
// into *out (cleared on failure).
long Run(CipherFn fn, const Bytes &in, const Bytes &key,
         const VTKCryptDCSuitesCTX *ctx, Bytes *out);

// Pseudo-random bytes from a fixed seed.
Bytes RandomBytes(size_t length, uint32_t seed);
Bytes FromHex(const std::string &hex);

// Makes the library's vectors come from a fixed sequence (each vector is
// `first`, then counts up in its last byte) while alive.
class FixedVectors {
 public:
  explicit FixedVectors(const Bytes &first);
  ~FixedVectors();
};

}  // namespace vtest

#endif  // VCRYPT_TESTS_SUPPORT_H
