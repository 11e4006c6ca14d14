/* Data encryption: a key file, a context made from it, and a secret kept
 * as printable text ("@N:BASE64@") that only the key turns back.  The
 * vtcrypt tool makes key files and encrypted values the same way
 * (vtcrypt genkey FILE; vtcrypt encrypt --key FILE). */
#include <stdio.h>
#include <string.h>
#include <vantrel.h>

/* A key file: the length in bits, a colon, the key bytes.  Real keys come
 * from a random source (vtcrypt genkey); this one is for the example. */
static int WriteKeyFile(const char *path) {
  unsigned char key[32];
  size_t i;
  FILE *file = fopen(path, "wb");
  if (file == NULL) return 0;
  for (i = 0; i < sizeof key; ++i) key[i] = (unsigned char)(i * 37 + 11);
  fputs("256:", file);
  fwrite(key, 1, sizeof key, file);
  return fclose(file) == 0;
}

int main(void) {
  const char secret[] = "db-password-42";
  VDataCryptContext context = NULL;
  char *text = NULL, *plain = NULL;
  uint32_t length = 0;
  VRC rc;
  int ok;
  if (VInitialise("crypto", "stderr") != 0 || !WriteKeyFile("guide.key"))
    return 1;

  rc = VDataCryptSetupContextWithFile("AES_CBC", "guide.key", &context);
  if (rc == 0)
    rc = VDataCryptEncrypt(context, secret, (uint32_t)strlen(secret), &text);
  if (rc != 0) {
    printf("encryption failed: %d\n", rc);
    return 1;
  }
  printf("encrypted: %s\n", text);

  /* A plain value is told apart from an encrypted one. */
  printf("plain text in the encrypted form? %d\n",
         VDataCryptTestData(secret, strlen(secret)));
  rc = VDataCryptDecrypt(context, text, &plain, &length);
  printf("decrypted: %s (%u bytes)\n", rc == 0 ? plain : "-", length);

  ok = rc == 0 && length == strlen(secret) &&
       memcmp(plain, secret, length) == 0 &&
       VDataCryptTestData(text, strlen(text)) &&
       VDataCryptDecrypt(context, secret, &plain, &length) ==
           VRC_CRYPT_NOT_ENCRYPTED;
  VDataCryptFreeDecryptedData(context, plain); /* overwritten before release */
  VDataCryptFreeEncryptedData(context, text);
  VDataCryptCipherContextDestroy(context);
  remove("guide.key");
  return ok ? 0 : 1;
}
