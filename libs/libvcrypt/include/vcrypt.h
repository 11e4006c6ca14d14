/* libvcrypt: the crypto layer of the vantrel product family.  AES in CFB1 and
 * CBC modes, key checks, Base64 and the FIPS-mode query, over OpenSSL's
 * libcrypto.
 *
 * Conventions of every function below:
 *
 *  1. Cipher operations return a result code of type long.  Every code lies
 *     in VTKCRYPT_RC_MIN .. VTKCRYPT_RC_MAX; VTKCRYPT_SUCCESS (-5010) is
 *     success and VTKCRYPT_W_WEAK_KEY (-5011) is success with a warning.
 *     VTKCryptGetErrorText() gives the text of any code.
 *  2. Buffers this library hands out are released with the free function
 *     named on the call that made them, never with free().  Every release
 *     overwrites the whole buffer with zero bytes before giving it back, so
 *     plain text does not linger on the heap.
 *  3. On failure, out pointers are set to NULL and out lengths to 0 (when
 *     the caller passed them); nothing is left allocated.
 *  4. Every function may be called from any thread.  A suite context is
 *     read-only after setup and may be shared by threads.  The extended
 *     error is kept per thread.
 *  5. Cipher output is the 16-byte initialisation vector, fresh from
 *     OpenSSL's random generator for every encryption, followed by the
 *     cipher text: as long as the data in CFB1 mode, padded to whole
 *     16-byte blocks (PKCS#7, always at least one byte of padding) in CBC
 *     mode.  Neither mode authenticates: CBC detects most damage through
 *     its padding, CFB1 none.
 *  6. Lengths of cipher data and keys are uint32_t; lengths of Base64 input
 *     are size_t.  A key is 16, 24 or 32 bytes (AES-128, -192, -256).
 */
#ifndef VCRYPT_H
#define VCRYPT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(VCRYPT_BUILDING)
#define VTKCRYPT_API __declspec(dllexport)
#else
#define VTKCRYPT_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#define VTKCRYPT_API __attribute__((visibility("default")))
#else
#define VTKCRYPT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define VTKCRYPT_RC_MIN (-5199L)
#define VTKCRYPT_RC_MAX (-5000L)
/* A pointer argument that must not be NULL was NULL. */
#define VTKCRYPT_E_NULL_ARGUMENT (-5001L)
/* This library could not allocate memory. */
#define VTKCRYPT_E_NO_MEMORY (-5002L)
/* The key is not 16, 24 or 32 bytes long. */
#define VTKCRYPT_E_KEY_LENGTH (-5003L)
/* The suite context argument was NULL. */
#define VTKCRYPT_E_NO_CONTEXT (-5004L)
/* Never returned by this library: for callers that must report a result
 * they cannot place. */
#define VTKCRYPT_E_INTERNAL (-5005L)
/* The data is longer than VTKCRYPT_MAX_DATA_LENGTH (or, for decryption,
 * than the cipher output of that much data). */
#define VTKCRYPT_E_TOO_LONG (-5006L)
/* CBC padding was wrong after decryption: the key is wrong or the cipher
 * text was damaged. */
#define VTKCRYPT_E_DECRYPT_FAILED (-5008L)
/* The input cannot be cipher output of the mode: too short to hold the
 * initialisation vector and data, or not whole blocks in CBC mode. */
#define VTKCRYPT_E_NOT_CIPHER_TEXT (-5009L)
#define VTKCRYPT_SUCCESS (-5010L)
/* Success, with a warning: the key's bytes are all equal (such as all
 * zero), which usually means it was not made from a random source. */
#define VTKCRYPT_W_WEAK_KEY (-5011L)
/* An OpenSSL call failed; VTKCryptGetExtendedError() holds its error code
 * (0 when OpenSSL recorded none, as when it ran out of memory). */
#define VTKCRYPT_E_OPENSSL (-5012L)
/* The random generator gave no initialisation vector;
 * VTKCryptGetExtendedError() holds OpenSSL's error code. */
#define VTKCRYPT_E_RANDOM (-5013L)
/* The data length is 0. */
#define VTKCRYPT_E_NO_DATA (-5014L)

/* The longest data one encryption accepts, in bytes (a little under
 * 2 GiB, so that the cipher output still fits OpenSSL's int lengths). */
#define VTKCRYPT_MAX_DATA_LENGTH 0x7FFFFF00u
/* Length of the initialisation vector in front of every cipher output. */
#define VTKCRYPT_IV_LENGTH 16u

/* Opaque suite context: the ciphers fetched from OpenSSL once, so that
 * each operation does not look them up again. */
typedef struct VTKCryptDCSuitesCTX VTKCryptDCSuitesCTX;

/* Sets up a suite context and stores it in *ctx.  Returns VTKCRYPT_SUCCESS;
 * VTKCRYPT_E_NULL_ARGUMENT when ctx is NULL; VTKCRYPT_E_NO_MEMORY; or
 * VTKCRYPT_E_OPENSSL when OpenSSL cannot provide the AES ciphers.  On
 * failure *ctx is NULL. */
VTKCRYPT_API long VTKCryptDCSuitesCTXSetup(VTKCryptDCSuitesCTX **ctx);

/* Releases a suite context made by VTKCryptDCSuitesCTXSetup().  NULL is
 * allowed and does nothing.  Buffers made with the context stay valid. */
VTKCRYPT_API void VTKCryptDCSuitesCTXDestroy(VTKCryptDCSuitesCTX *ctx);

/* Checks that key suits AES: VTKCRYPT_SUCCESS for 16, 24 or 32 bytes;
 * VTKCRYPT_W_WEAK_KEY when, besides, all its bytes are equal;
 * VTKCRYPT_E_KEY_LENGTH for any other length; VTKCRYPT_E_NULL_ARGUMENT when
 * key is NULL; VTKCRYPT_E_NO_CONTEXT when ctx is NULL. */
VTKCRYPT_API long VTKCryptDCSuitesAESCheckKey(const void *key,
                                              uint32_t keyLength,
                                              const VTKCryptDCSuitesCTX *ctx);

/* Encrypts length bytes of data with AES in CFB1 mode under key and stores
 * a new buffer of VTKCRYPT_IV_LENGTH + length bytes in *out and that
 * number in *outLength; release it with VTKCryptDCSuitesGenericFree().
 * Returns VTKCRYPT_SUCCESS; VTKCRYPT_E_NO_DATA when length is 0;
 * VTKCRYPT_E_TOO_LONG above VTKCRYPT_MAX_DATA_LENGTH; VTKCRYPT_E_KEY_LENGTH,
 * VTKCRYPT_E_NULL_ARGUMENT, VTKCRYPT_E_NO_CONTEXT for bad arguments;
 * VTKCRYPT_E_NO_MEMORY, VTKCRYPT_E_RANDOM or VTKCRYPT_E_OPENSSL. */
VTKCRYPT_API long VTKCryptDCSuitesAESCFB1Encrypt(
    const void *data, uint32_t length, const void *key, uint32_t keyLength,
    unsigned char **out, uint32_t *outLength, const VTKCryptDCSuitesCTX *ctx);

/* Decrypts length bytes made by VTKCryptDCSuitesAESCFB1Encrypt() under key
 * and stores the plain bytes, followed by a zero byte that *outLength does
 * not count, in a new buffer in *out; release it with
 * VTKCryptDCSuitesGenericFree().  Returns VTKCRYPT_SUCCESS;
 * VTKCRYPT_E_NO_DATA when length is 0; VTKCRYPT_E_NOT_CIPHER_TEXT when
 * length is VTKCRYPT_IV_LENGTH or less; VTKCRYPT_E_TOO_LONG above
 * VTKCRYPT_MAX_DATA_LENGTH + 32; the argument, memory and OpenSSL codes of
 * encryption.  A wrong key or damaged input is not detected: the result is
 * other bytes. */
VTKCRYPT_API long VTKCryptDCSuitesAESCFB1Decrypt(
    const void *data, uint32_t length, const void *key, uint32_t keyLength,
    unsigned char **out, uint32_t *outLength, const VTKCryptDCSuitesCTX *ctx);

/* Encrypts like VTKCryptDCSuitesAESCFB1Encrypt() but in CBC mode with
 * PKCS#7 padding: the output is VTKCRYPT_IV_LENGTH + (length / 16 + 1) * 16
 * bytes. */
VTKCRYPT_API long VTKCryptDCSuitesAESCBCEncrypt(
    const void *data, uint32_t length, const void *key, uint32_t keyLength,
    unsigned char **out, uint32_t *outLength, const VTKCryptDCSuitesCTX *ctx);

/* Decrypts output of VTKCryptDCSuitesAESCBCEncrypt() like
 * VTKCryptDCSuitesAESCFB1Decrypt().  Returns VTKCRYPT_E_NOT_CIPHER_TEXT
 * unless length is at least two blocks (the vector and one block of data)
 * and a whole number of blocks, and VTKCRYPT_E_DECRYPT_FAILED when the
 * padding is wrong, as it is for most wrong keys and damaged inputs. */
VTKCRYPT_API long VTKCryptDCSuitesAESCBCDecrypt(
    const void *data, uint32_t length, const void *key, uint32_t keyLength,
    unsigned char **out, uint32_t *outLength, const VTKCryptDCSuitesCTX *ctx);

/* Wipes and releases a buffer made by one of the encrypt or decrypt
 * functions.  NULL is allowed.  ctx is not used and may be NULL or another
 * context than the one that made the buffer. */
VTKCRYPT_API void VTKCryptDCSuitesGenericFree(void *buffer,
                                              const VTKCryptDCSuitesCTX *ctx);

/* Returns 1 when the system runs in FIPS mode, else 0: when the kernel's
 * /proc/sys/crypto/fips_enabled holds 1 (read once per process, as it
 * changes only at boot), or when OpenSSL's default properties ask for FIPS
 * implementations. */
VTKCRYPT_API int VTKUTILSIsSystemFips(void);

/* Encodes length bytes as standard Base64 (RFC 4648 alphabet with "+" and
 * "/", "=" padding, no line breaks) in a new NUL-terminated text; release it
 * with VTKCryptDesFree().  Zero bytes give the empty text.  Returns NULL
 * with errno ENOMEM when out of memory, EINVAL when bytes is NULL and
 * length is not 0. */
VTKCRYPT_API char *VTKCryptDesBinasciiB2Abase64(const void *bytes,
                                                size_t length);

/* Decodes the NUL-terminated Base64 text into a new buffer, followed by a
 * zero byte that *length does not count, and stores the number of bytes in
 * *length (when length is not NULL); release it with VTKCryptDesFree().
 * Accepts exactly the texts that VTKCryptDesBinasciiCheckbase64() accepts.
 * Returns NULL with errno ENOMEM when out of memory, EINVAL when text is
 * NULL or not valid Base64. */
VTKCRYPT_API unsigned char *VTKCryptDesBinasciiA2Bbase64(const char *text,
                                                         size_t *length);

/* Returns 1 when the first length characters of text are canonical
 * standard Base64, else 0: a multiple of 4 characters (0 included) from the
 * alphabet, with "=" only as the last one or two, and the unused low bits
 * before the padding zero.  Whitespace, line breaks, NUL characters and
 * the URL-safe alphabet are refused.  A NULL text gives 0. */
VTKCRYPT_API int VTKCryptDesBinasciiCheckbase64(const char *text,
                                                size_t length);

/* Wipes and releases a result of VTKCryptDesBinasciiB2Abase64() or
 * VTKCryptDesBinasciiA2Bbase64().  NULL is allowed. */
VTKCRYPT_API void VTKCryptDesFree(void *p);

/* Returns the OpenSSL error code recorded with the calling thread's last
 * VTKCRYPT_E_OPENSSL or VTKCRYPT_E_RANDOM result, 0 when there was none or
 * OpenSSL recorded none. */
VTKCRYPT_API long VTKCryptGetExtendedError(void);

/* Writes OpenSSL's text for an extended error code into buffer (at most
 * size bytes with the terminating NUL, truncated to fit) and returns
 * buffer; returns NULL when buffer is NULL or size is 0. */
VTKCRYPT_API char *VTKCryptGetExtendedErrorText(long extendedError,
                                                char *buffer, size_t size);

/* Returns the constant English text of a result code of this library, or
 * "Unknown crypto library result code" for any other number.  Never NULL;
 * the caller does not free it. */
VTKCRYPT_API const char *VTKCryptGetErrorText(long code);

#ifdef __cplusplus
}
#endif

#endif /* VCRYPT_H */
