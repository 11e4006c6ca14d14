/* The header must compile as strict C99 and a C program must work through
 * the shared library alone: one round trip through each family. */
#include <stdio.h>
#include <string.h>
#include <vcrypt.h>

static int RoundTrip(VTKCryptDCSuitesCTX *ctx) {
  static const unsigned char key[16] = {1, 2,  3,  4,  5,  6,  7,  8,
                                        9, 10, 11, 12, 13, 14, 15, 16};
  unsigned char *cipher = NULL, *plain = NULL;
  uint32_t cipher_length = 0, plain_length = 0;
  char *text;
  int ok;
  if (VTKCryptDCSuitesAESCheckKey(key, sizeof key, ctx) != VTKCRYPT_SUCCESS ||
      VTKCryptDCSuitesAESCBCEncrypt("secret", 6, key, sizeof key, &cipher,
                                    &cipher_length, ctx) != VTKCRYPT_SUCCESS) {
    return 0;
  }
  text = VTKCryptDesBinasciiB2Abase64(cipher, cipher_length);
  ok = text != NULL && VTKCryptDesBinasciiCheckbase64(text, strlen(text)) &&
       VTKCryptDCSuitesAESCBCDecrypt(cipher, cipher_length, key, sizeof key,
                                     &plain, &plain_length,
                                     ctx) == VTKCRYPT_SUCCESS &&
       plain_length == 6 && strcmp((const char *)plain, "secret") == 0;
  VTKCryptDesFree(text);
  VTKCryptDCSuitesGenericFree(cipher, ctx);
  VTKCryptDCSuitesGenericFree(plain, ctx);
  return ok;
}

int main(void) {
  VTKCryptDCSuitesCTX *ctx = NULL;
  int ok;
  if (VTKCryptDCSuitesCTXSetup(&ctx) != VTKCRYPT_SUCCESS) return 1;
  ok = RoundTrip(ctx);
  VTKCryptDCSuitesCTXDestroy(ctx);
  printf("%s, FIPS %d, extended %ld\n", VTKCryptGetErrorText(VTKCRYPT_SUCCESS),
         VTKUTILSIsSystemFips(), VTKCryptGetExtendedError());
  return ok ? 0 : 1;
}
