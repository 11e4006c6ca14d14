// Key files: arbitrary bytes parsed as a key file, against a model built
// on strtoll, first in memory and then written to a file and read back
// through the library's file reading and context setup.  Input: the
// file's bytes.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "crypt/crypt_internal.h"
#include "fuzz_support.h"
#include "vantrel/vdatacrypt.h"
#include "vantrel/vlog.h"

namespace {

// What the parser must make of the bytes: the code, and the key.
VRC Model(const std::string &file, std::string *key) {
  // atoi reads the C text up to the first NUL; strtoll saturates where the
  // parser caps, and both only feed the checks below.
  long long bits = strtoll(file.c_str(), nullptr, 10);
  long long bytes = bits / 8;
  if (bytes == 0) return VRC_CRYPT_KEY_LENGTH;
  size_t colon = file.find(':');
  if (colon == std::string::npos) return VRC_CRYPT_KEY_NO_SEPARATOR;
  for (size_t i = 0; i < colon; ++i) {
    if (file[i] < '0' || file[i] > '9') return VRC_CRYPT_KEY_NOT_NUMERIC;
  }
  if (static_cast<unsigned long long>(bytes) > file.size() - colon - 1) {
    return VRC_CRYPT_KEY_LENGTH;
  }
  *key = file.substr(colon + 1, static_cast<size_t>(bytes));
  return 0;
}

// A file of this process's own in memory, rewritten for every input (a
// file on disk that is emptied and rewritten is flushed by some file
// systems at every close), named by its /proc path.
int g_scratch = -1;
char g_path[64];

const char *ScratchPath() {
  if (g_scratch < 0) {
    VLogMgrSetLevel(VLOG_FATAL);  // failures are expected here
    g_scratch = memfd_create("crypt_keyfile_fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(g_scratch >= 0);
    snprintf(g_path, sizeof g_path, "/proc/self/fd/%d", g_scratch);
  }
  return g_path;
}

void WriteScratch(const std::string &bytes) {
  ScratchPath();
  FUZZ_CHECK(ftruncate(g_scratch, 0) == 0);
  FUZZ_CHECK(pwrite(g_scratch, bytes.data(), bytes.size(), 0) ==
             static_cast<ssize_t>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ScratchPath();
  std::string file(reinterpret_cast<const char *>(data), size);
  std::string expectedKey;
  VRC expected = Model(file, &expectedKey);

  // In memory: the block as a read hands it out, with a terminator.
  std::string block = file + '\0';
  const unsigned char *key = nullptr;
  uint32_t keyLength = 0;
  VRC rc = vantrel::internal::ParseKeyFile("fuzz", block.data(),
                                           static_cast<uint32_t>(file.size()),
                                           &key, &keyLength);
  FUZZ_CHECK(rc == expected);
  if (rc == 0) {
    FUZZ_CHECK(std::string(reinterpret_cast<const char *>(key), keyLength) ==
               expectedKey);
  }

  // Through a file: the read gives the bytes back, and a context is made
  // exactly when the key suits AES.
  WriteScratch(file);
  char *read = nullptr;
  uint32_t readLength = 0;
  rc = VDataCryptReadFile(ScratchPath(), &read, &readLength);
  if (file.empty()) {
    FUZZ_CHECK(rc == VRC_CRYPT_FILE_EMPTY);
    expected = VRC_CRYPT_FILE_EMPTY;
  } else {
    FUZZ_CHECK(rc == 0 && std::string(read, readLength) == file &&
               read[readLength] == 0);
  }
  VDataCryptFreeFileData(read);
  VDataCryptContext context = nullptr;
  rc = VDataCryptSetupContextWithFile("AES_CBC", ScratchPath(), &context);
  size_t n = expectedKey.size();
  if (expected == 0 && n != 16 && n != 24 && n != 32) expected = -5003;
  FUZZ_CHECK(rc == expected);
  FUZZ_CHECK((context != nullptr) == (rc == 0));
  if (context != nullptr) {
    char *text = nullptr;
    FUZZ_CHECK(VDataCryptEncrypt(context, "value", 5, &text) == 0);
    char *back = nullptr;
    uint32_t length = 0;
    VDataCryptContext same = nullptr;
    FUZZ_CHECK(VDataCryptSetupContextWithKey("AES_CBC", expectedKey.data(),
                                             static_cast<uint32_t>(n),
                                             &same) == 0);
    FUZZ_CHECK(VDataCryptDecrypt(same, text, &back, &length) == 0 &&
               std::string(back, length) == "value");
    VDataCryptFreeDecryptedData(same, back);
    VDataCryptFreeEncryptedData(context, text);
    VDataCryptCipherContextDestroy(same);
    VDataCryptCipherContextDestroy(context);
  }
  return 0;
}
