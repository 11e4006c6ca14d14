#include <gtest/gtest.h>
#include <string.h>

#include <set>
#include <thread>

#include "internal.h"
#include "support.h"

namespace {

using vtest::Bytes;
using vtest::FromHex;
using vtest::kKeyLengths;
using vtest::kModes;

const Bytes kIv = FromHex("000102030405060708090a0b0c0d0e0f");

Bytes Concat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Published vectors (NIST SP 800-38A, F.2 and F.3.1): the library, given the
// same vector, must produce the same cipher text after it.
struct Vector {
  const char *mode;
  const char *key;
  const char *plain;
  const char *cipher;
};
constexpr const char *kNistPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
constexpr const char *kKey128 = "2b7e151628aed2a6abf7158809cf4f3c";
constexpr const char *kKey192 =
    "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
constexpr const char *kKey256 =
    "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const Vector kVectors[] = {
    {"CFB1", kKey128, "6bc1", "68b3"},
    {"CFB1", kKey192, "6bc1", "9359"},
    {"CFB1", kKey256, "6bc1", "9029"},
    {"CBC", kKey128, kNistPlain,
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"CBC", kKey192, kNistPlain,
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    {"CBC", kKey256, kNistPlain,
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
};

TEST(VcryptAesTest, PublishedVectorsFollowTheVector) {
  vtest::Suite suite;
  for (const Vector &v : kVectors) {
    SCOPED_TRACE(testing::Message() << v.mode << " " << v.key);
    const vtest::Mode &mode = kModes[strcmp(v.mode, "CBC") == 0];
    Bytes key = FromHex(v.key), plain = FromHex(v.plain);
    Bytes expected = FromHex(v.cipher), out, back;
    vtest::FixedVectors vectors(kIv);
    ASSERT_EQ(vtest::Run(mode.encrypt, plain, key, suite.get(), &out),
              VTKCRYPT_SUCCESS);
    Bytes front = Concat(kIv, expected);
    ASSERT_GE(out.size(), front.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + front.size()), front);
    // CBC adds one block of padding to whole blocks: 16 bytes of 0x10.
    if (mode.cbc) {
      EXPECT_EQ(out.size(), front.size() + 16);
    }
    ASSERT_EQ(vtest::Run(mode.decrypt, out, key, suite.get(), &back),
              VTKCRYPT_SUCCESS);
    EXPECT_EQ(back, plain);
  }
}

// Round trips for every mode, key length and data length, checked against
// OpenSSL called directly in both directions.
TEST(VcryptAesTest, AgreesWithOpenSSLBothWays) {
  vtest::Suite suite;
  std::vector<size_t> lengths;
  for (size_t n = 1; n <= 70; ++n) lengths.push_back(n);
  lengths.push_back(4096);
  for (const vtest::Mode &mode : kModes) {
    for (uint32_t key_length : kKeyLengths) {
      for (size_t n : lengths) {
        SCOPED_TRACE(testing::Message()
                     << mode.name << " key " << key_length << " length " << n);
        auto seed = static_cast<uint32_t>(n * 131 + key_length);
        Bytes key = vtest::RandomBytes(key_length, seed);
        Bytes data = vtest::RandomBytes(n, seed + 1), out, back;
        ASSERT_EQ(vtest::Run(mode.encrypt, data, key, suite.get(), &out),
                  VTKCRYPT_SUCCESS);
        size_t body = mode.cbc ? (n / 16 + 1) * 16 : n;
        ASSERT_EQ(out.size(), 16 + body);
        Bytes cipher(out.begin() + 16, out.end());
        EXPECT_EQ(vtest::EvpRun(mode, key, out.data(), cipher, false), data);

        Bytes iv = vtest::RandomBytes(16, seed + 2);
        Bytes theirs =
            Concat(iv, vtest::EvpRun(mode, key, iv.data(), data, true));
        ASSERT_EQ(vtest::Run(mode.decrypt, theirs, key, suite.get(), &back),
                  VTKCRYPT_SUCCESS);
        EXPECT_EQ(back, data);
      }
    }
  }
}

TEST(VcryptAesTest, EveryEncryptionDrawsAFreshVector) {
  vtest::Suite suite;
  Bytes key = vtest::RandomBytes(32, 2), data(20, 'a');
  for (const vtest::Mode &mode : kModes) {
    std::set<Bytes> vectors, ciphers;
    for (int i = 0; i < 1000; ++i) {
      Bytes out;
      ASSERT_EQ(vtest::Run(mode.encrypt, data, key, suite.get(), &out),
                VTKCRYPT_SUCCESS);
      vectors.insert(Bytes(out.begin(), out.begin() + 16));
      ciphers.insert(out);
    }
    EXPECT_EQ(vectors.size(), 1000u) << mode.name;
    EXPECT_EQ(ciphers.size(), 1000u) << mode.name;
  }
}

int FailingSource(unsigned char *, int) { return 0; }

TEST(VcryptAesTest, RandomFailureGivesNoOutput) {
  vtest::Suite suite;
  vcrypt::internal::SetRandomSource(FailingSource);
  Bytes key(16, 1), out;
  key[0] = 2;
  for (const vtest::Mode &mode : kModes) {
    EXPECT_EQ(vtest::Run(mode.encrypt, Bytes(3, 'a'), key, suite.get(), &out),
              VTKCRYPT_E_RANDOM);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(VTKCryptGetExtendedError(), 0) << "no OpenSSL error to give";
  }
  vcrypt::internal::SetRandomSource(nullptr);
}

// CBC's padding check catches most wrong keys; CFB1 cannot tell.  Vectors
// are fixed so that the outcome does not vary from run to run.
TEST(VcryptAesTest, WrongKeyFailsOrGivesOtherBytes) {
  vtest::Suite suite;
  vtest::FixedVectors vectors(kIv);
  for (const vtest::Mode &mode : kModes) {
    int refused = 0;
    for (uint32_t seed = 0; seed < 64; ++seed) {
      Bytes key = vtest::RandomBytes(24, seed), other = key;
      other[seed % 24] ^= 1;
      Bytes data = vtest::RandomBytes(1 + seed, seed), cipher, back;
      ASSERT_EQ(vtest::Run(mode.encrypt, data, key, suite.get(), &cipher),
                VTKCRYPT_SUCCESS);
      long rc = vtest::Run(mode.decrypt, cipher, other, suite.get(), &back);
      if (rc == VTKCRYPT_E_DECRYPT_FAILED) {
        ++refused;
        EXPECT_TRUE(back.empty());
      } else {
        ASSERT_EQ(rc, VTKCRYPT_SUCCESS);
        EXPECT_NE(back, data);
      }
    }
    EXPECT_GE(refused, mode.cbc ? 56 : 0) << "padding check too weak";
    EXPECT_LE(refused, mode.cbc ? 64 : 0);
  }
}

TEST(VcryptAesTest, TamperingShowsWhereExpected) {
  vtest::Suite suite;
  Bytes key = vtest::RandomBytes(16, 7), data(40, 'p'), cipher, back;
  const vtest::Mode &cbc = kModes[1];
  ASSERT_EQ(vtest::Run(cbc.encrypt, data, key, suite.get(), &cipher),
            VTKCRYPT_SUCCESS);
  // A changed vector changes the same bit of the first block: proof that
  // the vector is taken from the front of the input.
  Bytes changed = cipher;
  changed[3] ^= 0x04;
  ASSERT_EQ(vtest::Run(cbc.decrypt, changed, key, suite.get(), &back),
            VTKCRYPT_SUCCESS);
  Bytes expected = data;
  expected[3] ^= 0x04;
  EXPECT_EQ(back, expected);
  // Setting the top bit of the last padding byte makes the padding invalid.
  changed = cipher;
  changed[changed.size() - 17] ^= 0x80;
  EXPECT_EQ(vtest::Run(cbc.decrypt, changed, key, suite.get(), &back),
            VTKCRYPT_E_DECRYPT_FAILED);
  EXPECT_TRUE(back.empty());
}

TEST(VcryptAesTest, TruncatedInput) {
  vtest::Suite suite;
  Bytes key = vtest::RandomBytes(32, 9), data = vtest::RandomBytes(40, 9);
  for (const vtest::Mode &mode : kModes) {
    Bytes cipher, back;
    ASSERT_EQ(vtest::Run(mode.encrypt, data, key, suite.get(), &cipher),
              VTKCRYPT_SUCCESS);
    for (size_t n = 1; n < cipher.size(); ++n) {
      SCOPED_TRACE(testing::Message() << mode.name << " " << n << " bytes");
      long rc =
          vtest::Run(mode.decrypt, Bytes(cipher.begin(), cipher.begin() + n),
                     key, suite.get(), &back);
      if (n <= 16 || (mode.cbc && (n % 16 != 0 || n < 32))) {
        EXPECT_EQ(rc, VTKCRYPT_E_NOT_CIPHER_TEXT);
      } else if (!mode.cbc) {
        // CFB1 is a stream: a cut cipher text gives the start of the data.
        ASSERT_EQ(rc, VTKCRYPT_SUCCESS);
        EXPECT_EQ(back, Bytes(data.begin(), data.begin() + (n - 16)));
      }
    }
  }
}

TEST(VcryptAesTest, ArgumentChecksLeaveOutputsEmpty) {
  vtest::Suite suite;
  const VTKCryptDCSuitesCTX *ctx = suite.get();
  unsigned char key[32] = {1, 2, 3}, data[48] = {0};
  unsigned char *out;
  uint32_t length;
  struct Case {
    const void *data;
    uint32_t length;
    const void *key;
    uint32_t key_length;
    bool with_out;
    const VTKCryptDCSuitesCTX *ctx;
    long rc;
    bool decrypt_too;
  };
  const long kNull = VTKCRYPT_E_NULL_ARGUMENT, kKey = VTKCRYPT_E_KEY_LENGTH;
  const uint32_t kMax = VTKCRYPT_MAX_DATA_LENGTH;
  const Case cases[] = {
      {data, 48, key, 16, false, ctx, kNull, true},
      {data, 48, key, 16, true, nullptr, VTKCRYPT_E_NO_CONTEXT, true},
      {data, 48, nullptr, 16, true, ctx, kNull, true},
      {data, 48, key, 0, true, ctx, kKey, true},
      {data, 48, key, 15, true, ctx, kKey, true},
      {data, 48, key, 17, true, ctx, kKey, true},
      {data, 48, key, 33, true, ctx, kKey, true},
      {data, 0, key, 16, true, ctx, VTKCRYPT_E_NO_DATA, true},
      {nullptr, 0, key, 16, true, ctx, VTKCRYPT_E_NO_DATA, true},
      {nullptr, 48, key, 16, true, ctx, kNull, true},
      // Lengths are refused before the data is touched.
      {data, kMax + 1, key, 16, true, ctx, VTKCRYPT_E_TOO_LONG, false},
      {data, kMax + 33, key, 16, true, ctx, VTKCRYPT_E_TOO_LONG, true},
  };
  for (const vtest::Mode &mode : kModes) {
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
      const Case &c = cases[i];
      SCOPED_TRACE(testing::Message() << mode.name << " case " << i);
      for (bool encrypt : {true, false}) {
        if (!encrypt && !c.decrypt_too) continue;
        out = key;
        length = 7;
        long rc = (encrypt ? mode.encrypt : mode.decrypt)(
            c.data, c.length, c.key, c.key_length, c.with_out ? &out : nullptr,
            &length, c.ctx);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(length, 0u);
        if (c.with_out) {
          EXPECT_EQ(out, nullptr);
        }
      }
    }
  }
}

TEST(VcryptAesTest, KeyCheck) {
  vtest::Suite suite;
  Bytes key = vtest::RandomBytes(32, 3), same(32, 0);
  for (uint32_t n = 0; n <= 33; ++n) {
    bool fits = n == 16 || n == 24 || n == 32;
    EXPECT_EQ(VTKCryptDCSuitesAESCheckKey(key.data(), n, suite.get()),
              fits ? VTKCRYPT_SUCCESS : VTKCRYPT_E_KEY_LENGTH)
        << n;
    EXPECT_EQ(VTKCryptDCSuitesAESCheckKey(same.data(), n, suite.get()),
              fits ? VTKCRYPT_W_WEAK_KEY : VTKCRYPT_E_KEY_LENGTH)
        << n;
  }
  EXPECT_EQ(VTKCryptDCSuitesAESCheckKey(nullptr, 16, suite.get()),
            VTKCRYPT_E_NULL_ARGUMENT);
  EXPECT_EQ(VTKCryptDCSuitesAESCheckKey(key.data(), 16, nullptr),
            VTKCRYPT_E_NO_CONTEXT);
  // A weak key still works.
  Bytes out;
  EXPECT_EQ(vtest::Run(kModes[0].encrypt, key, Bytes(16, 0), suite.get(), &out),
            VTKCRYPT_SUCCESS);
}

// The context is only read after setup, so threads may share it.
TEST(VcryptAesTest, ThreadsShareOneContext) {
  vtest::Suite suite;
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) {
    threads.emplace_back([&suite, t] {
      for (uint32_t i = 0; i < 100; ++i) {
        const vtest::Mode &mode = kModes[(t + i) % 2];
        Bytes key = vtest::RandomBytes(kKeyLengths[i % 3], t * 1000 + i);
        Bytes data = vtest::RandomBytes(1 + i, i), cipher, back;
        EXPECT_EQ(vtest::Run(mode.encrypt, data, key, suite.get(), &cipher),
                  VTKCRYPT_SUCCESS);
        EXPECT_EQ(vtest::Run(mode.decrypt, cipher, key, suite.get(), &back),
                  VTKCRYPT_SUCCESS);
        EXPECT_EQ(back, data);
      }
    });
  }
  for (auto &thread : threads) thread.join();
}

TEST(VcryptAesTest, SetupAndDestroyArguments) {
  EXPECT_EQ(VTKCryptDCSuitesCTXSetup(nullptr), VTKCRYPT_E_NULL_ARGUMENT);
  VTKCryptDCSuitesCTXDestroy(nullptr);
  VTKCryptDCSuitesGenericFree(nullptr, nullptr);
}

}  // namespace
