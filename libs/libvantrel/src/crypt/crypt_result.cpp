// The crypto library's results as return codes and log lines, the family's
// log line, and the wiping of blocks that held keys or plain text.
#include <stdarg.h>
#include <string.h>
#include <vcrypt.h>

#include <atomic>

#include "core/retcode.h"
#include "crypt/crypt_internal.h"
#include "internal/alloc.h"
#include "vantrel/vlog.h"

namespace vantrel::internal {
namespace {

// Codes the mapping treats apart.
constexpr long kNotCipherText = VTKCRYPT_E_NOT_CIPHER_TEXT;  // -5009
constexpr long kSuccess = VTKCRYPT_SUCCESS;                  // -5010
constexpr long kWeakKey = VTKCRYPT_W_WEAK_KEY;               // -5011
constexpr long kOpenSSL = VTKCRYPT_E_OPENSSL;                // -5012
constexpr long kRandom = VTKCRYPT_E_RANDOM;                  // -5013
constexpr long kOutOfRange = VTKCRYPT_E_INTERNAL;            // -5005
// Outside the crypto library's range, yet taken as success without a line.
constexpr long kQuietSuccess = -3;

constinit std::atomic<void (*)(const void *, size_t)> g_observer{nullptr};

}  // namespace

void CryptLogError(const char *format, ...) {
  va_list args;
  va_start(args, format);
  VLogAP(VLOG_ERROR, 0, LibraryCatalog(), VLOG_SET_ERROR, 0, format, args);
  va_end(args);
}

VRC CryptResult(long result) {
  if (result == kNotCipherText) return VRC_CRYPT_NOT_ENCRYPTED;
  if (result == kSuccess || result == kQuietSuccess) return 0;
  if (result < VTKCRYPT_RC_MIN || result > VTKCRYPT_RC_MAX) {
    CryptLogError("libvcrypt error code out of range: %ld", result);
    return static_cast<VRC>(kOutOfRange);
  }
  VRC code = static_cast<VRC>(result);
  if (result == kOpenSSL || result == kRandom) {
    CryptLogError("libvcrypt error: %s %ld", VRCToString(code),
                  VTKCryptGetExtendedError());
  } else {
    CryptLogError("libvcrypt error: '%s'", VRCToString(code));
  }
  return result == kWeakKey ? 0 : code;
}

void Wipe(void *block, size_t size) {
  if (block == nullptr || size == 0) return;
  memset(block, 0, size);
  // The block escapes into an opaque statement that may read all memory,
  // so the stores above cannot be dropped as dead.
  __asm__ __volatile__("" : : "r"(block) : "memory");
}

void WipeAndFree(void *block, size_t size) {
  if (block == nullptr) return;
  Wipe(block, size);
  auto *observer = g_observer.load(std::memory_order_relaxed);
  if (observer != nullptr) observer(block, size);
  Free(block);
}

void SetCryptReleaseObserver(void (*observer)(const void *, size_t)) {
  g_observer.store(observer, std::memory_order_relaxed);
}

void FreePlain(char *data) {
  if (data == nullptr) return;
  WipeAndFree(data, strlen(data));
}

}  // namespace vantrel::internal
