// Base64 checker and decoder on arbitrary text, and the encoder on
// arbitrary bytes.  The decoder must accept exactly what the checker
// accepts (it reads up to the first NUL), decoding then encoding must give
// the text back, and encoding then decoding must give the bytes back.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "vcrypt.h"

namespace {

void Require(bool condition) {
  if (!condition) abort();
}

void CheckDecoding(const char *text, size_t size) {
  std::string copy(text, size);
  size_t prefix = strlen(copy.c_str());
  int valid = VTKCryptDesBinasciiCheckbase64(text, prefix);
  size_t length = 1;
  unsigned char *bytes = VTKCryptDesBinasciiA2Bbase64(copy.c_str(), &length);
  Require((bytes != nullptr) == (valid == 1));
  if (bytes == nullptr) {
    Require(length == 0);
    return;
  }
  Require(length <= prefix / 4 * 3 && bytes[length] == 0);
  char *again = VTKCryptDesBinasciiB2Abase64(bytes, length);
  Require(again != nullptr && strcmp(again, copy.c_str()) == 0);
  VTKCryptDesFree(again);
  VTKCryptDesFree(bytes);
}

void CheckEncoding(const uint8_t *data, size_t size) {
  char *text = VTKCryptDesBinasciiB2Abase64(data, size);
  Require(text != nullptr);
  size_t length = strlen(text);
  Require(length == (size + 2) / 3 * 4);
  Require(VTKCryptDesBinasciiCheckbase64(text, length) == 1);
  size_t decoded = 0;
  unsigned char *bytes = VTKCryptDesBinasciiA2Bbase64(text, &decoded);
  Require(bytes != nullptr && decoded == size &&
          (size == 0 || memcmp(bytes, data, size) == 0));
  VTKCryptDesFree(bytes);
  VTKCryptDesFree(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  // A NUL is never Base64, wherever it is.
  if (memchr(data, 0, size) != nullptr) {
    Require(VTKCryptDesBinasciiCheckbase64(text, size) == 0);
  }
  CheckDecoding(text, size);
  CheckEncoding(data, size);
  return 0;
}
