// Data encryption internals shared by the family's units: the context work
// both exported families use, the crypto library's result mapping, key
// files, and the wiping of key copies.
#ifndef VANTREL_CRYPT_CRYPT_INTERNAL_H
#define VANTREL_CRYPT_CRYPT_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "vantrel/vdatacrypt.h"

namespace vantrel::internal {

// Logs an error line of this family: level 4, message set 102, number 0.
void CryptLogError(const char *format, ...)
    __attribute__((format(printf, 1, 2)));

// Turns a crypto library result into a return code, logging what the
// mapping logs: -5009 gives VRC_CRYPT_NOT_ENCRYPTED and -5010 (success) 0,
// silently; -3 gives 0 silently; a value outside -5199..-5000 is logged and
// gives -5005; any other value in range is logged with its text (with the
// extended error for -5012 and -5013), then -5011 (a weak key) gives 0 and
// the rest is returned as it is.
VRC CryptResult(long result);

// Overwrites `size` bytes at `block` with zero bytes; the compiler may not
// drop the stores even though the block is released right after.
void Wipe(void *block, size_t size);
// Wipes `size` bytes of a funnel block and releases it; null does nothing.
void WipeAndFree(void *block, size_t size);
// Test hook: when set, called with every block WipeAndFree released, right
// after the wipe and before the release.  Null removes it.
void SetCryptReleaseObserver(void (*observer)(const void *block, size_t size));

// VDataCryptReadFile's work: arguments are not null.
VRC CryptReadFile(const char *path, char **data, uint32_t *length);

// Checks key-file contents (`length` bytes at `data`, followed by a zero
// byte) read from `path` (named in the log lines).  On success *key points
// at the key inside data and *keyLength holds its length in bytes; on
// failure both are left alone and the line is logged.
VRC ParseKeyFile(const char *path, const char *data, uint32_t length,
                 const unsigned char **key, uint32_t *keyLength);

// The context operations behind both families; arguments are not null
// unless stated.
VRC CryptSetupWithKey(const char *algorithm, const void *key, uint32_t length,
                      VDataCryptContext *out);
VRC CryptSetupWithFile(const char *algorithm, const char *path,
                       VDataCryptContext *out);
// Null does nothing.
void CryptDestroy(VDataCryptContext context);
VRC CryptEncrypt(VDataCryptContext context, const void *data, uint32_t length,
                 char **outText);
VRC CryptDecrypt(VDataCryptContext context, const char *text, char **outData,
                 uint32_t *outLength);
// VDataCryptTestData over exactly `length` characters (null gives false).
bool IsEncryptedText(const char *text, size_t length);
// Releases a block from CryptDecrypt (or CryptReadFile), wiping it up to
// its first zero byte; null does nothing.
void FreePlain(char *data);
// The context's key bytes and their number.
const unsigned char *CryptKey(VDataCryptContext context, uint32_t *length);

}  // namespace vantrel::internal

#endif  // VANTREL_CRYPT_CRYPT_INTERNAL_H
