// Whole-file reads and key files ("BITS:" and the raw key bytes).
#include <errno.h>
#include <string.h>

#include "core/retcode.h"
#include "crypt/crypt_internal.h"
#include "internal/alloc.h"
#include "platform/file.h"
#include "platform/system.h"
#include "vantrel/vdatacrypt.h"
#include "vantrel/vlog.h"

namespace vantrel::internal {
namespace {

namespace pf = vantrel::platform;

// The longest file a read hands out: its length and terminator must fit
// the 32-bit length.
constexpr uint64_t kMaxFileLength = UINT32_MAX - 1;

VRC OpenFailed(const char *path, int error) {
  char buffer[128];
  CryptLogError("Could not open file %s for reading, Error: %s", path,
                pf::ErrorText(error, buffer, sizeof buffer));
  return VRC_CRYPT_FILE_OPEN;
}

VRC OpenForReading(const char *path, int *descriptor) {
  int error = pf::FileOpen(path, pf::kFileRead, 0, descriptor);
  return error == 0 ? 0 : OpenFailed(path, error);
}

// Counts the file's bytes by reading it to its end.
VRC CountBytes(const char *path, uint64_t *count) {
  int descriptor = pf::kNoFile;
  VRC rc = OpenForReading(path, &descriptor);
  if (rc != 0) return rc;
  char chunk[4096];
  uint64_t total = 0;
  size_t got = 0;
  int error = 0;
  do {
    error = pf::FileRead(descriptor, chunk, sizeof chunk, &got);
    total += got;
  } while (error == 0 && got != 0 && total <= kMaxFileLength);
  pf::FileClose(descriptor);
  if (error != 0) return OpenFailed(path, error);
  *count = total;
  return 0;
}

// The number of bytes to read: the file's size from its status or, when
// the status cannot be had, counted.
VRC ExpectedLength(const char *path, uint64_t *expected) {
  pf::FileInfo info{};
  if (pf::FileStat(path, &info) == 0) {
    // Opening a directory for reading works; reading it does not.
    if (info.isDirectory) return OpenFailed(path, EISDIR);
    *expected = static_cast<uint64_t>(info.size);
    return 0;
  }
  VLog(VLOG_WARN, 0, LibraryCatalog(), VLOG_SET_WARN, 0,
       "Failed to get file statistics on file %s, trying to read as ascii.",
       path);
  return CountBytes(path, expected);
}

// Reads exactly `expected` bytes.  A file that ends sooner has changed
// since its length was found, whichever way that was.
VRC ReadExactly(const char *path, int descriptor, char *block,
                size_t expected) {
  size_t done = 0;
  while (done < expected) {
    size_t got = 0;
    int error = pf::FileRead(descriptor, block + done, expected - done, &got);
    if (error != 0) return OpenFailed(path, error);
    if (got == 0) {
      CryptLogError("File length found does not match expected file length: %s",
                    path);
      return VRC_CRYPT_FILE_SHORT;
    }
    done += got;
  }
  return 0;
}

// atoi's reading of a decimal number: blanks, a sign, digits; saturated
// instead of overflowing, which only matters to the length check after it.
int64_t LeadingNumber(const char *text) {
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  constexpr int64_t kCap = INT64_MAX / 10 - 10;
  int64_t number = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (number < kCap) number = number * 10 + (*p - '0');
  }
  return negative ? -number : number;
}

VRC LengthMismatch(const char *path) {
  CryptLogError("Key file formatted incorrectly, length mismatch %s", path);
  return VRC_CRYPT_KEY_LENGTH;
}

}  // namespace

VRC CryptReadFile(const char *path, char **data, uint32_t *length) {
  *length = 0;
  uint64_t expected = 0;
  VRC rc = ExpectedLength(path, &expected);
  if (rc != 0) return rc;
  if (expected == 0) {
    CryptLogError("Attempt made to read data from empty file: %s", path);
    return VRC_CRYPT_FILE_EMPTY;
  }
  if (expected > kMaxFileLength) return OpenFailed(path, EFBIG);
  auto *block = static_cast<char *>(Calloc(expected + 1, 1));
  if (block == nullptr) return ENOMEM;
  int descriptor = pf::kNoFile;
  rc = OpenForReading(path, &descriptor);
  if (rc == 0) {
    rc = ReadExactly(path, descriptor, block, expected);
    pf::FileClose(descriptor);
  }
  if (rc != 0) {
    // What was read may be part of a key.
    WipeAndFree(block, expected);
    return rc;
  }
  *data = block;
  *length = static_cast<uint32_t>(expected);
  return 0;
}

VRC ParseKeyFile(const char *path, const char *data, uint32_t length,
                 const unsigned char **key, uint32_t *keyLength) {
  int64_t bytes = LeadingNumber(data) / 8;
  if (bytes == 0) return LengthMismatch(path);
  const char *colon = static_cast<const char *>(memchr(data, ':', length));
  if (colon == nullptr) {
    CryptLogError("Key file formatted incorrectly, no separator found %s",
                  path);
    return VRC_CRYPT_KEY_NO_SEPARATOR;
  }
  for (const char *p = data; p < colon; ++p) {
    if (*p < '0' || *p > '9') {
      CryptLogError(
          "Key file formatted incorrectly, non numeric characters in length: "
          "%s",
          path);
      return VRC_CRYPT_KEY_NOT_NUMERIC;
    }
  }
  // Digits only: the number is positive here.
  uint64_t after = length - static_cast<uint64_t>(colon + 1 - data);
  if (static_cast<uint64_t>(bytes) > after) return LengthMismatch(path);
  *key = reinterpret_cast<const unsigned char *>(colon + 1);
  *keyLength = static_cast<uint32_t>(bytes);
  return 0;
}

// The key is used where it lies in the file's block, which is wiped
// afterwards: no copy of it is made on the way to the context.
VRC CryptSetupWithFile(const char *algorithm, const char *path,
                       VDataCryptContext *out) {
  char *data = nullptr;
  uint32_t length = 0;
  VRC rc = CryptReadFile(path, &data, &length);
  if (rc != 0) return rc;
  const unsigned char *key = nullptr;
  uint32_t keyLength = 0;
  rc = ParseKeyFile(path, data, length, &key, &keyLength);
  if (rc == 0) rc = CryptSetupWithKey(algorithm, key, keyLength, out);
  WipeAndFree(data, length);
  return rc;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VDataCryptReadFile(const char *path, char **outData, uint32_t *outLength) {
  if (path == nullptr || outData == nullptr || outLength == nullptr) {
    return EINVAL;
  }
  return vi::CryptReadFile(path, outData, outLength);
}

void VDataCryptFreeFileData(char *data) { vi::FreePlain(data); }

VRC VDataCryptSetupContextWithFile(const char *algorithm, const char *path,
                                   VDataCryptContext *out) {
  if (algorithm == nullptr || path == nullptr || out == nullptr) return EINVAL;
  return vi::CryptSetupWithFile(algorithm, path, out);
}
