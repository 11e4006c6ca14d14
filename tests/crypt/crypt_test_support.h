// Shared by the data-encryption tests: keys, contexts, the framed text's
// cipher bytes, and OpenSSL as the reference cipher.
#ifndef VANTREL_TESTS_CRYPT_CRYPT_TEST_SUPPORT_H
#define VANTREL_TESTS_CRYPT_CRYPT_TEST_SUPPORT_H

#include <openssl/evp.h>
#include <vcrypt.h>

#include <atomic>
#include <random>
#include <thread>

#include "config/config_test_support.h"
#include "internal.h"  // libvcrypt's test hooks
#include "vantrel/vdatacrypt.h"

namespace vtest {

using Bytes = std::string;  // raw bytes, NUL included

inline constexpr const char *kAlgorithms[] = {"AES", "AES_CFB1", "AES_CBC",
                                              "AES_FIPS"};
inline constexpr uint32_t kKeyLengths[] = {16, 24, 32};

inline bool IsCbc(const std::string &algorithm) {
  return algorithm == "AES_CBC" || algorithm == "AES_FIPS";
}

// Pseudo-random bytes from a fixed seed.
inline Bytes RandomBytes(size_t length, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes out(length, '\0');
  for (char &c : out) c = static_cast<char>(gen());
  return out;
}

// Runs roundTrip on four threads at once, 50 values each: how many failed.
inline int FailedRoundTripsInThreads(
    const std::function<bool(const Bytes &)> &roundTrip) {
  std::atomic<int> failures{0};
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 50; ++i) {
          Bytes value = RandomBytes(1 + (t * 50 + i) % 97, t * 1000 + i);
          if (!roundTrip(value)) ++failures;
        }
      });
    }
  }
  return failures;
}

// The error and warning lines of this library's message sets.
inline LogLine Error(const std::string &text) { return {'E', text, 102, 0}; }
inline LogLine Warning(const std::string &text) { return {'W', text, 103, 0}; }
using CryptTest = ConfigTest;

// A context owned for the length of a test.
struct ContextFree {
  void operator()(VDataCryptContextData *c) const {
    VDataCryptCipherContextDestroy(c);
  }
};
using Context = std::unique_ptr<VDataCryptContextData, ContextFree>;

inline Context MakeContext(const std::string &algorithm, const Bytes &key) {
  VDataCryptContext made = nullptr;
  EXPECT_EQ(
      VDataCryptSetupContextWithKey(algorithm.c_str(), key.data(),
                                    static_cast<uint32_t>(key.size()), &made),
      0)
      << algorithm;
  return Context(made);
}

// Encrypts through the context; the text, or "" on failure.
inline std::string Encrypt(VDataCryptContext context, const Bytes &data) {
  char *text = nullptr;
  VRC rc = VDataCryptEncrypt(context, data.data(),
                             static_cast<uint32_t>(data.size()), &text);
  EXPECT_EQ(rc, 0);
  std::string out = text != nullptr ? text : "";
  VDataCryptFreeEncryptedData(context, text);
  return out;
}

// Decrypts through the context: the code, and the bytes in *out.
inline VRC Decrypt(VDataCryptContext context, const std::string &text,
                   Bytes *out) {
  char *data = nullptr;
  uint32_t length = 0;
  VRC rc = VDataCryptDecrypt(context, text.c_str(), &data, &length);
  if (rc == 0) {
    EXPECT_EQ(data[length], '\0') << "no terminator after the data";
    out->assign(data, length);
  }
  VDataCryptFreeDecryptedData(context, data);
  return rc;
}

// While alive, every initialisation vector libvcrypt makes is 16 bytes of
// `fill`, so that an encryption's output is known in advance.
class FixedVector {
 public:
  explicit FixedVector(unsigned char fill) {
    fill_ = fill;
    vcrypt::internal::SetRandomSource(Fill);
  }
  ~FixedVector() { vcrypt::internal::SetRandomSource(nullptr); }

 private:
  static int Fill(unsigned char *buffer, int length) {
    memset(buffer, fill_, static_cast<size_t>(length));
    return 1;
  }
  static inline unsigned char fill_ = 0;
};

// The cipher bytes inside a framed text (empty when it is not one).
inline Bytes CipherOf(const std::string &text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || text.size() < colon + 2) return {};
  std::string base64 = text.substr(colon + 1, text.size() - colon - 2);
  size_t length = 0;
  unsigned char *bytes = VTKCryptDesBinasciiA2Bbase64(base64.c_str(), &length);
  Bytes out = bytes != nullptr ? Bytes(reinterpret_cast<char *>(bytes), length)
                               : Bytes();
  VTKCryptDesFree(bytes);
  return out;
}

// OpenSSL's decryption of cipher output (vector first) in the algorithm's
// mode; nullopt-like empty marker `ok` false on a padding error.
inline Bytes ReferenceDecrypt(const std::string &algorithm, const Bytes &key,
                              const Bytes &cipher, bool *ok) {
  std::string name = "aes-" + std::to_string(key.size() * 8) +
                     (IsCbc(algorithm) ? "-cbc" : "-cfb1");
  const EVP_CIPHER *evp = EVP_get_cipherbyname(name.c_str());
  *ok = false;
  if (cipher.size() <= 16) return {};
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(
      EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  auto *in = reinterpret_cast<const unsigned char *>(cipher.data());
  Bytes out(cipher.size(), '\0');
  auto *o = reinterpret_cast<unsigned char *>(out.data());
  int head = 0, tail = 0;
  if (!EVP_DecryptInit_ex(ctx.get(), evp, nullptr,
                          reinterpret_cast<const unsigned char *>(key.data()),
                          in) ||
      !EVP_DecryptUpdate(ctx.get(), o, &head, in + 16,
                         static_cast<int>(cipher.size() - 16)) ||
      !EVP_DecryptFinal_ex(ctx.get(), o + head, &tail)) {
    return {};
  }
  *ok = true;
  out.resize(static_cast<size_t>(head + tail));
  return out;
}

}  // namespace vtest

#endif  // VANTREL_TESTS_CRYPT_CRYPT_TEST_SUPPORT_H
