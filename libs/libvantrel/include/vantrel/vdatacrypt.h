/* Data encryption: short values (typically configuration passwords)
 * encrypted with a symmetric key and kept as printable text.
 *
 * The cipher work is done by libvcrypt (AES over OpenSSL's libcrypto).  This
 * family chooses the algorithm by name, keeps the key, frames the cipher
 * output as text, reads key files and turns the crypto library's results
 * into return codes and log lines.
 *
 * Algorithms, by exact (case-sensitive) name:
 *   "AES", "AES_CFB1"      AES in CFB1 mode.  When the system runs in FIPS
 *                          mode each encryption and decryption logs the
 *                          error "FIPS mode set and non FIPS cipher mode
 *                          detected: AES_CFB1" and still goes ahead.
 *   "AES_CBC", "AES_FIPS"  AES in CBC mode with PKCS#7 padding.
 * The key is 16, 24 or 32 bytes (AES-128, -192, -256).  Every encryption
 * uses a fresh random initialisation vector, so one value never encrypts
 * to the same text twice.  Neither mode authenticates: a wrong key or a
 * damaged text decrypts to other bytes in CFB1 mode, and usually fails the
 * padding check (a crypto library code) in CBC mode.
 *
 * Key files: the key length in bits as decimal digits only, a colon, then
 * the key as raw bytes, at least bits / 8 of them; bytes beyond those (a
 * trailing line end) are ignored.  "256:" followed by 32 bytes is an
 * AES-256 key.
 *
 * Encrypted text: "@", the length N of the Base64 text in decimal, ":",
 * the N characters of standard Base64 (padded) of the cipher output, "@".
 * The cipher output is the 16-byte initialisation vector followed by the
 * cipher text.
 *
 * Return codes: 0; ENOMEM (12) when memory runs out in this library;
 * EINVAL (22) for a null required argument (see vbase.h); the codes of
 * this family:
 *   VRC_CRYPT_NO_KEY (-121)           no key given and no global key
 *   VRC_CRYPT_FILE_OPEN (-122)        a file cannot be opened or read
 *   VRC_CRYPT_FILE_SHORT (-123)       a file ended before its counted length
 *   VRC_CRYPT_KEY_LENGTH (-124)       key file: length 0, or fewer key
 *                                     bytes than the length says
 *   VRC_CRYPT_KEY_NO_SEPARATOR (-125) key file without a colon
 *   VRC_CRYPT_FILE_EMPTY (-126)       an empty file
 *   VRC_CRYPT_NOT_ENCRYPTED (-127)    the text is not in the encrypted form
 *   VRC_CRYPT_NO_ALGORITHM (-128)     no algorithm of that name
 *   VRC_CRYPT_KEY_NOT_NUMERIC (-129)  key file: non-digits before the colon
 * and the crypto library's codes -5199 to -5000, passed on after they are
 * logged (-5003 a key that is not 16, 24 or 32 bytes, -5002 the crypto
 * library out of memory, -5008 a CBC padding error, -5014 no data, ...).
 * Each failure is logged at error level (message set 102, number 0) with
 * the text given below; none raises an exception record.
 *
 * Memory: texts and data handed out are released with the free call named
 * on the call that made them.  Key copies are overwritten with zero bytes
 * before their memory is released.
 *
 * Threads: a context is read-only after setup and may be used by several
 * threads at once.  The global key is one process-wide pointer without a
 * lock: do not replace it while other threads encrypt or decrypt with it. */
#ifndef VANTREL_VDATACRYPT_H
#define VANTREL_VDATACRYPT_H

#include "vantrel/vbase.h"
#include "vantrel/vrc.h"

VANTREL_BEGIN_DECLS

/* A key with its algorithm, ready for any number of encryptions. */
typedef struct VDataCryptContextData *VDataCryptContext;

/* ---- Files. */

/* Reads the whole file at path into a new block of its length plus a zero
 * byte, stored in *outData, and the length in *outLength.  *outLength is
 * set to 0 first; *outData is set only on success.  Release the block with
 * VDataCryptFreeFileData.
 * When the file's status cannot be had, logs the warning "Failed to get
 * file statistics on file PATH, trying to read as ascii." (message set 103)
 * and counts the bytes by reading the file once more.
 * Returns 0; VRC_CRYPT_FILE_OPEN (-122) when the file cannot be opened or
 * read, or is a directory or longer than 4 GiB ("Could not open file PATH
 * for reading, Error: TEXT" with the system's text); VRC_CRYPT_FILE_EMPTY
 * (-126) for an empty file ("Attempt made to read data from empty file:
 * PATH"); VRC_CRYPT_FILE_SHORT (-123) when it ends before the length found
 * first ("File length found does not match expected file length: PATH");
 * ENOMEM (12). */
VANTREL_API VRC VDataCryptReadFile(const char *path, char **outData,
                                   uint32_t *outLength);

/* Releases a block from VDataCryptReadFile, after overwriting its bytes up
 * to the first zero byte (the whole of a text file).  Null does nothing. */
VANTREL_API void VDataCryptFreeFileData(char *data);

/* ---- The encrypted text form. */

/* 1 when the first `length` characters of text are in the encrypted form,
 * else 0: they begin and end with "@", hold a colon, the characters from
 * the first "@" to the first colon read (as strtol reads base 10) as a
 * non-zero number N ending exactly at the colon, exactly N characters lie
 * between the colon and the final "@", and those are valid Base64.  A null
 * text gives 0. */
VANTREL_API int VDataCryptTestData(const char *text, size_t length);

/* ---- Contexts. */

/* Sets up a context for the named algorithm with its own copy of the
 * `length` key bytes and stores it in *out.  Returns 0; VRC_CRYPT_NO_ALGORITHM
 * (-128) for an unknown name ("Encryption algorithm not found: NAME");
 * ENOMEM (12); the crypto library's code when it refuses the key (-5003
 * for a length other than 16, 24 or 32).  A key whose bytes are all equal
 * is accepted with an error line ("libvcrypt error: '...'"), since it was
 * hardly made from a random source.  On failure *out is not changed. */
VANTREL_API VRC VDataCryptSetupContextWithKey(const char *algorithm,
                                              const void *key, uint32_t length,
                                              VDataCryptContext *out);

/* Reads the key file at path (see the file comment) and sets up a context
 * for the named algorithm with its key.  Returns what
 * VDataCryptSetupContextWithKey returns, or the key file's failure:
 * the codes of VDataCryptReadFile; VRC_CRYPT_KEY_LENGTH (-124) when the
 * length in bits (read as atoi reads it) makes no whole byte, or fewer key
 * bytes than it says follow the colon ("Key file formatted incorrectly, length
 * mismatch PATH"); VRC_CRYPT_KEY_NO_SEPARATOR (-125) without a colon ("Key
 * file formatted incorrectly, no separator found PATH");
 * VRC_CRYPT_KEY_NOT_NUMERIC (-129) when something else than digits comes
 * before the colon ("Key file formatted incorrectly, non numeric characters
 * in length: PATH").  On failure *out is not changed. */
VANTREL_API VRC VDataCryptSetupContextWithFile(const char *algorithm,
                                               const char *path,
                                               VDataCryptContext *out);

/* Releases the context: its suite context, its key copy (overwritten with
 * zero bytes first) and the record.  Null does nothing. */
VANTREL_API void VDataCryptCipherContextDestroy(VDataCryptContext context);

/* Encrypts `length` bytes of data and stores the encrypted text, a new
 * NUL-terminated string, in *outText; release it with
 * VDataCryptFreeEncryptedData.  Returns 0; -5014 (no data) when length is
 * 0; -5006 when the text would be longer than the form allows (a Base64
 * length of more than 9 digits); ENOMEM (12), with *outText set to null
 * when the Base64 conversion failed; the crypto library's code.  Otherwise
 * *outText is not changed on failure. */
VANTREL_API VRC VDataCryptEncrypt(VDataCryptContext context, const void *data,
                                  uint32_t length, char **outText);

/* Releases a text from VDataCryptEncrypt.  The context is not used and may
 * be null; a null text does nothing. */
VANTREL_API void VDataCryptFreeEncryptedData(VDataCryptContext context,
                                             char *text);

/* Decrypts an encrypted text (NUL-terminated) and stores the plain bytes,
 * followed by a zero byte that the length does not count, in a new block in
 * *outData and their number in *outLength; release it with
 * VDataCryptFreeDecryptedData.  Returns 0; VRC_CRYPT_NOT_ENCRYPTED (-127),
 * without a log line, when the text is not in the encrypted form (so plain
 * values can be told from encrypted ones); ENOMEM (12); the crypto
 * library's code.  The outputs are changed only on success. */
VANTREL_API VRC VDataCryptDecrypt(VDataCryptContext context, const char *text,
                                  char **outData, uint32_t *outLength);

/* Releases data from VDataCryptDecrypt, after overwriting it up to its
 * first zero byte (the whole of a text value).  The context is not used and
 * may be null; null data does nothing. */
VANTREL_API void VDataCryptFreeDecryptedData(VDataCryptContext context,
                                             char *data);

/* ---- The global key: one process-wide context for "AES". */

/* Destroys the global key, if any, and sets up a new one for "AES" with
 * the `length` key bytes, as VDataCryptSetupContextWithKey does.  On
 * failure there is no global key afterwards and the code is returned. */
VANTREL_API VRC VAesDataCryptSetKey(uint32_t length, const void *key);

/* The same with the key read from the key file at path, as
 * VDataCryptSetupContextWithFile does. */
VANTREL_API VRC VAesDataCryptSetKeyFile(const char *path);

/* The global key's bytes (the context's own copy: neither freed nor kept
 * past the next VAesDataCryptSetKey... call) and their number in
 * *outLength; null and 0 when there is no global key. */
VANTREL_API const unsigned char *VAesDataCryptGetKey(uint32_t *outLength);

/* Encrypts `length` bytes of data as VDataCryptEncrypt does, with a
 * temporary "AES" context for the `keyLength` bytes of key, or the global
 * key when key is null, and stores the text in *outText; release it with
 * VAesDataCryptFreeEncryptedData.  On success *outStatus (may be null) is
 * set to 0; on failure it is left alone.  Returns 0, VRC_CRYPT_NO_KEY
 * (-121) when key is null and there is no global key ("No global key set
 * and no key provided"), or the codes of VDataCryptSetupContextWithKey and
 * VDataCryptEncrypt. */
VANTREL_API VRC VAesDataCryptEncryptData(const void *data, uint32_t length,
                                         const void *key, uint32_t keyLength,
                                         char **outText, uintptr_t *outStatus);

/* Releases a text from VAesDataCryptEncryptData; null does nothing. */
VANTREL_API void VAesDataCryptFreeEncryptedData(char *text);

/* Decrypts an encrypted text as VDataCryptDecrypt does, with the key
 * chosen as by VAesDataCryptEncryptData, and stores exactly *outLength
 * plain bytes (no terminator is promised) in a new block in *outData;
 * release it with VAesDataCryptFreeDecryptedData.  `ignored` is not used
 * and may be null.  *outStatus (may be null) is set to 0 on success and
 * left alone on failure.  Returns 0, VRC_CRYPT_NO_KEY (-121), or the codes
 * of VDataCryptSetupContextWithKey and VDataCryptDecrypt. */
VANTREL_API VRC VAesDataCryptDecryptData(const char *text, const void *ignored,
                                         const void *key, uint32_t keyLength,
                                         unsigned char **outData,
                                         uint32_t *outLength,
                                         uintptr_t *outStatus);

/* Releases data from VAesDataCryptDecryptData, after overwriting it up to
 * its first zero byte (the block holds one after the data); null does
 * nothing. */
VANTREL_API void VAesDataCryptFreeDecryptedData(unsigned char *data);

VANTREL_END_DECLS

#endif /* VANTREL_VDATACRYPT_H */
