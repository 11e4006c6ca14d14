// The global key: one process-wide "AES" context, and encryption with it or
// with a key given for one call.
#include <errno.h>

#include <atomic>

#include "crypt/crypt_internal.h"
#include "internal/alloc.h"
#include "vantrel/vdatacrypt.h"

namespace vantrel::internal {
namespace {

constexpr const char *kGlobalAlgorithm = "AES";

// Replaced only by the set calls, which callers keep apart from every use
// (no lock, by contract); atomic so that uses on other threads see a whole
// context once a set call has returned.
constinit std::atomic<VDataCryptContext> g_globalKey{nullptr};

void DestroyGlobalKey() {
  CryptDestroy(g_globalKey.exchange(nullptr, std::memory_order_acq_rel));
}

// The context of one call: a temporary one for the given key, or the
// global key.  Destroys a temporary context when it ends.
class CallContext {
 public:
  CallContext() = default;
  CallContext(const CallContext &) = delete;
  CallContext &operator=(const CallContext &) = delete;
  ~CallContext() { CryptDestroy(temporary_); }

  VRC Choose(const void *key, uint32_t keyLength) {
    if (key != nullptr) {
      VRC rc = CryptSetupWithKey(kGlobalAlgorithm, key, keyLength, &temporary_);
      context_ = temporary_;
      return rc;
    }
    context_ = g_globalKey.load(std::memory_order_acquire);
    if (context_ != nullptr) return 0;
    CryptLogError("No global key set and no key provided");
    return VRC_CRYPT_NO_KEY;
  }
  VDataCryptContext get() const { return context_; }

 private:
  VDataCryptContext temporary_ = nullptr;
  VDataCryptContext context_ = nullptr;
};

void ReportSuccess(uintptr_t *outStatus) {
  if (outStatus != nullptr) *outStatus = 0;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VAesDataCryptSetKey(uint32_t length, const void *key) {
  if (key == nullptr) return EINVAL;
  vi::DestroyGlobalKey();
  VDataCryptContext made = nullptr;
  VRC rc = vi::CryptSetupWithKey(vi::kGlobalAlgorithm, key, length, &made);
  vi::g_globalKey.store(made, std::memory_order_release);
  return rc;
}

VRC VAesDataCryptSetKeyFile(const char *path) {
  if (path == nullptr) return EINVAL;
  vi::DestroyGlobalKey();
  VDataCryptContext made = nullptr;
  VRC rc = vi::CryptSetupWithFile(vi::kGlobalAlgorithm, path, &made);
  vi::g_globalKey.store(made, std::memory_order_release);
  return rc;
}

const unsigned char *VAesDataCryptGetKey(uint32_t *outLength) {
  if (outLength == nullptr) return nullptr;
  VDataCryptContext context = vi::g_globalKey.load(std::memory_order_acquire);
  if (context == nullptr) {
    *outLength = 0;
    return nullptr;
  }
  return vi::CryptKey(context, outLength);
}

VRC VAesDataCryptEncryptData(const void *data, uint32_t length, const void *key,
                             uint32_t keyLength, char **outText,
                             uintptr_t *outStatus) {
  if (data == nullptr || outText == nullptr) return EINVAL;
  vi::CallContext context;
  VRC rc = context.Choose(key, keyLength);
  if (rc != 0) return rc;
  // The framed text is already a block of exactly its length and
  // terminator, released with free: it is handed over as it is.
  rc = vi::CryptEncrypt(context.get(), data, length, outText);
  if (rc == 0) vi::ReportSuccess(outStatus);
  return rc;
}

void VAesDataCryptFreeEncryptedData(char *text) { vi::Free(text); }

VRC VAesDataCryptDecryptData(const char *text, const void *, const void *key,
                             uint32_t keyLength, unsigned char **outData,
                             uint32_t *outLength, uintptr_t *outStatus) {
  if (text == nullptr || outData == nullptr || outLength == nullptr) {
    return EINVAL;
  }
  vi::CallContext context;
  VRC rc = context.Choose(key, keyLength);
  if (rc != 0) return rc;
  // The decrypted block holds exactly the data and a terminator after it,
  // which callers of this call may not rely on but the release does.
  char *data = nullptr;
  uint32_t length = 0;
  rc = vi::CryptDecrypt(context.get(), text, &data, &length);
  if (rc != 0) return rc;
  *outData = reinterpret_cast<unsigned char *>(data);
  *outLength = length;
  vi::ReportSuccess(outStatus);
  return 0;
}

void VAesDataCryptFreeDecryptedData(unsigned char *data) {
  vi::FreePlain(reinterpret_cast<char *>(data));
}
