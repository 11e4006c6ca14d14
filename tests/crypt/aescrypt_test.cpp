// The global key: set from bytes or a key file, replaced, lost on a failed
// set, overridden per call, shared by threads; the status word.
#include <errno.h>

#include "crypt_test_support.h"

namespace {

using vtest::Bytes;
using vtest::Error;
using vtest::LogLine;
using vtest::LogOf;

using VAesDataCryptTest = vtest::CryptTest;

constexpr uintptr_t kUntouched = 0x5a5a;

// Encrypts with the given key (null: the global key); the code, and the
// text in *text.
VRC EncryptWith(const Bytes &data, const Bytes *key, std::string *text,
                uintptr_t *status) {
  char *out = nullptr;
  VRC rc = VAesDataCryptEncryptData(
      data.data(), static_cast<uint32_t>(data.size()),
      key != nullptr ? key->data() : nullptr,
      key != nullptr ? static_cast<uint32_t>(key->size()) : 0, &out, status);
  if (out != nullptr) *text = out;
  VAesDataCryptFreeEncryptedData(out);
  return rc;
}

VRC DecryptWith(const std::string &text, const Bytes *key, Bytes *data,
                uintptr_t *status) {
  unsigned char *out = nullptr;
  uint32_t length = 0;
  VRC rc = VAesDataCryptDecryptData(
      text.c_str(), nullptr, key != nullptr ? key->data() : nullptr,
      key != nullptr ? static_cast<uint32_t>(key->size()) : 0, &out, &length,
      status);
  if (rc == 0) data->assign(reinterpret_cast<char *>(out), length);
  VAesDataCryptFreeDecryptedData(out);
  return rc;
}

Bytes GlobalKey() {
  uint32_t length = 99;
  const unsigned char *key = VAesDataCryptGetKey(&length);
  if (key == nullptr) {
    EXPECT_EQ(length, 0u);
    return {};
  }
  return Bytes(reinterpret_cast<const char *>(key), length);
}

TEST_F(VAesDataCryptTest, WithoutAnyKeyNothingIsDoneAndTheStatusKept) {
  EXPECT_EQ(GlobalKey(), "");
  uintptr_t status = kUntouched;
  std::string text = "untouched";
  Bytes data = "untouched";
  vtest::Lines log = LogOf([&] {
    EXPECT_EQ(EncryptWith("value", nullptr, &text, &status), VRC_CRYPT_NO_KEY);
    EXPECT_EQ(DecryptWith("@4:QUJD@", nullptr, &data, &status),
              VRC_CRYPT_NO_KEY);
  });
  EXPECT_EQ(status, kUntouched);
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(data, "untouched");
  const LogLine kLine = Error("No global key set and no key provided");
  EXPECT_EQ(log, (vtest::Lines{kLine, kLine}));
}

TEST_F(VAesDataCryptTest, GlobalKeyEncryptsAsAnAesContextWithThatKey) {
  Bytes key = vtest::RandomBytes(24, 1);
  ASSERT_EQ(VAesDataCryptSetKey(24, key.data()), 0);
  Bytes copy = GlobalKey();
  EXPECT_EQ(copy, key);
  uint32_t length = 0;
  EXPECT_NE(VAesDataCryptGetKey(&length),
            reinterpret_cast<const unsigned char *>(key.data()))
      << "the global key is the context's own copy";

  Bytes value = vtest::RandomBytes(100, 2);
  value[50] = '\0';
  uintptr_t status = kUntouched;
  std::string text;
  EXPECT_EQ(EncryptWith(value, nullptr, &text, &status), 0);
  EXPECT_EQ(status, 0u);
  // Readable by any "AES" context with the key, and back through the
  // global key, byte for byte.
  vtest::Context context = vtest::MakeContext("AES", key);
  Bytes back;
  EXPECT_EQ(vtest::Decrypt(context.get(), text, &back), 0);
  EXPECT_EQ(back, value);
  status = kUntouched;
  back.clear();
  EXPECT_EQ(DecryptWith(vtest::Encrypt(context.get(), value), nullptr, &back,
                        &status),
            0);
  EXPECT_EQ(back, value);
  EXPECT_EQ(status, 0u);
  // The status word is optional.
  EXPECT_EQ(EncryptWith(value, nullptr, &text, nullptr), 0);
  EXPECT_EQ(DecryptWith(text, nullptr, &back, nullptr), 0);
}

TEST_F(VAesDataCryptTest, KeyGivenToACallWinsOverTheGlobalKey) {
  Bytes global = vtest::RandomBytes(16, 3), own = vtest::RandomBytes(32, 4);
  ASSERT_EQ(VAesDataCryptSetKey(16, global.data()), 0);
  std::string text;
  uintptr_t status = kUntouched;
  EXPECT_EQ(EncryptWith("value", &own, &text, &status), 0);
  EXPECT_EQ(status, 0u);
  bool ok = false;
  EXPECT_EQ(vtest::ReferenceDecrypt("AES", own, vtest::CipherOf(text), &ok),
            "value");
  Bytes back;
  EXPECT_EQ(DecryptWith(text, &own, &back, nullptr), 0);
  EXPECT_EQ(back, "value");
  EXPECT_EQ(GlobalKey(), global) << "the global key is left as it was";

  // A refused key for one call leaves everything alone.
  Bytes shortKey(5, 's');
  status = kUntouched;
  vtest::Lines log = LogOf([&] {
    EXPECT_EQ(EncryptWith("value", &shortKey, &text, &status),
              VTKCRYPT_E_KEY_LENGTH);
  });
  EXPECT_EQ(status, kUntouched);
  EXPECT_EQ(log, vtest::Lines{Error("libvcrypt error: 'Unknown error -5003'")});
}

TEST_F(VAesDataCryptTest, EachSetReplacesTheGlobalKeyAndAFailedOneLosesIt) {
  Bytes fileKey = vtest::RandomBytes(32, 6);
  std::string path = KeyFile("key", fileKey);
  ASSERT_EQ(VAesDataCryptSetKeyFile(path.c_str()), 0);
  EXPECT_EQ(GlobalKey(), fileKey);
  // Replaced by the next set, from bytes.
  Bytes next = vtest::RandomBytes(16, 7);
  ASSERT_EQ(VAesDataCryptSetKey(16, next.data()), 0);
  EXPECT_EQ(GlobalKey(), next);
  Bytes key = vtest::RandomBytes(16, 5);
  std::string bad = WriteFile("bad", "128" + key);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ASSERT_EQ(VAesDataCryptSetKey(16, key.data()), 0);
    LogOf([&] {
      if (attempt == 0) {
        EXPECT_EQ(VAesDataCryptSetKey(7, key.data()), VTKCRYPT_E_KEY_LENGTH);
      } else {
        EXPECT_EQ(VAesDataCryptSetKeyFile(bad.c_str()),
                  VRC_CRYPT_KEY_NO_SEPARATOR);
      }
    });
    EXPECT_EQ(GlobalKey(), "");
    std::string text;
    LogOf([&] {
      EXPECT_EQ(EncryptWith("x", nullptr, &text, nullptr), VRC_CRYPT_NO_KEY);
    });
  }
}

TEST_F(VAesDataCryptTest, ThreadsShareTheGlobalKey) {
  Bytes key = vtest::RandomBytes(32, 9);
  ASSERT_EQ(VAesDataCryptSetKey(32, key.data()), 0);
  EXPECT_EQ(vtest::FailedRoundTripsInThreads([](const Bytes &value) {
              std::string text;
              Bytes back;
              return EncryptWith(value, nullptr, &text, nullptr) == 0 &&
                     DecryptWith(text, nullptr, &back, nullptr) == 0 &&
                     back == value;
            }),
            0);
}

}  // namespace
