#include <errno.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>

#include "internal.h"
#include "support.h"

namespace {

constexpr const char *kUnknown = "Unknown crypto library result code";

TEST(VcryptResultTest, EveryCodeHasItsOwnText) {
  const std::pair<long, const char *> codes[] = {
      {VTKCRYPT_E_NULL_ARGUMENT, "A required argument is null"},
      {VTKCRYPT_E_NO_MEMORY, "Out of memory"},
      {VTKCRYPT_E_KEY_LENGTH, "Key length is not 16, 24 or 32 bytes"},
      {VTKCRYPT_E_NO_CONTEXT, "No suite context given"},
      {VTKCRYPT_E_INTERNAL, "Internal error in the crypto library"},
      {VTKCRYPT_E_TOO_LONG, "Data too long for one operation"},
      {VTKCRYPT_E_DECRYPT_FAILED,
       "Decryption failed: wrong key or damaged cipher text"},
      {VTKCRYPT_E_NOT_CIPHER_TEXT,
       "Input is not cipher text: too short or not whole blocks"},
      {VTKCRYPT_SUCCESS, "Success"},
      {VTKCRYPT_W_WEAK_KEY, "Key accepted, but all its bytes are equal"},
      {VTKCRYPT_E_OPENSSL, "OpenSSL cipher operation failed"},
      {VTKCRYPT_E_RANDOM, "Random generator gave no initialisation vector"},
      {VTKCRYPT_E_NO_DATA, "No data: the length is zero"},
  };
  std::set<std::string> seen;
  for (const auto &[code, text] : codes) {
    EXPECT_GE(code, VTKCRYPT_RC_MIN);
    EXPECT_LE(code, VTKCRYPT_RC_MAX);
    EXPECT_STREQ(VTKCryptGetErrorText(code), text);
    EXPECT_TRUE(seen.insert(text).second) << text;
  }
  for (long code : {0L, -1L, -5000L, -5007L, -5015L, -5199L, -4999L, 5010L}) {
    EXPECT_STREQ(VTKCryptGetErrorText(code), kUnknown) << code;
  }
}

// Asking OpenSSL for FIPS implementations without a FIPS provider makes
// every cipher fetch fail: a real OpenSSL failure, with an error code.
TEST(VcryptResultTest, OpenSSLFailureCarriesItsErrorAndLeavesTheQueue) {
  ERR_raise(ERR_LIB_USER, 42);
  unsigned long callers = ERR_peek_last_error();
  ASSERT_EQ(EVP_default_properties_enable_fips(nullptr, 1), 1);
  VTKCryptDCSuitesCTX *ctx = reinterpret_cast<VTKCryptDCSuitesCTX *>(1);
  EXPECT_EQ(VTKCryptDCSuitesCTXSetup(&ctx), VTKCRYPT_E_OPENSSL);
  EXPECT_EQ(ctx, nullptr);
  long extended = VTKCryptGetExtendedError();
  EXPECT_NE(extended, 0);
  EXPECT_EQ(ERR_peek_last_error(), callers) << "error queue disturbed";
  ASSERT_EQ(EVP_default_properties_enable_fips(nullptr, 0), 1);
  ERR_clear_error();

  char text[256];
  EXPECT_EQ(VTKCryptGetExtendedErrorText(extended, text, sizeof text), text);
  EXPECT_EQ(std::string(text).rfind("error:", 0), 0u) << text;
  char tiny[4];
  VTKCryptGetExtendedErrorText(extended, tiny, sizeof tiny);
  EXPECT_EQ(strlen(tiny), 3u);
  EXPECT_EQ(VTKCryptGetExtendedErrorText(extended, nullptr, 8), nullptr);
  EXPECT_EQ(VTKCryptGetExtendedErrorText(extended, text, 0), nullptr);
}

int FailingSource(unsigned char *, int) { return 0; }

TEST(VcryptResultTest, ExtendedErrorIsPerThreadAndSetByRandomFailure) {
  vtest::Suite suite;
  ASSERT_EQ(EVP_default_properties_enable_fips(nullptr, 1), 1);
  VTKCryptDCSuitesCTX *ctx = nullptr;
  EXPECT_EQ(VTKCryptDCSuitesCTXSetup(&ctx), VTKCRYPT_E_OPENSSL);
  ASSERT_EQ(EVP_default_properties_enable_fips(nullptr, 0), 1);
  ASSERT_NE(VTKCryptGetExtendedError(), 0);
  long other_thread = -1;
  std::thread([&] { other_thread = VTKCryptGetExtendedError(); }).join();
  EXPECT_EQ(other_thread, 0);
  // The replaced source records no OpenSSL error, so the code is cleared.
  vcrypt::internal::SetRandomSource(FailingSource);
  vtest::Bytes out;
  EXPECT_EQ(vtest::Run(VTKCryptDCSuitesAESCBCEncrypt, vtest::Bytes(3, 1),
                       vtest::RandomBytes(16, 1), suite.get(), &out),
            VTKCRYPT_E_RANDOM);
  vcrypt::internal::SetRandomSource(nullptr);
  EXPECT_EQ(VTKCryptGetExtendedError(), 0);
}

class VcryptFipsTest : public testing::Test {
 protected:
  void TearDown() override {
    vcrypt::internal::SetFipsFlagPath(nullptr);
    if (!path_.empty()) unlink(path_.c_str());
  }
  // Points the query at a flag file holding `content`.
  void Flag(const std::string &content) {
    if (path_.empty()) {
      char name[] = "/tmp/vcrypt_fips_XXXXXX";
      int fd = mkstemp(name);
      ASSERT_GE(fd, 0);
      close(fd);
      path_ = name;
    }
    FILE *file = fopen(path_.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs(content.c_str(), file);
    fclose(file);
    vcrypt::internal::SetFipsFlagPath(path_.c_str());
  }
  std::string path_;
};

TEST_F(VcryptFipsTest, KernelFlagDecides) {
  const std::pair<const char *, int> cases[] = {
      {"1\n", 1}, {"1", 1}, {"0\n", 0}, {"", 0}, {"x", 0}, {" 1", 0}};
  for (const auto &[content, fips] : cases) {
    Flag(content);
    EXPECT_EQ(VTKUTILSIsSystemFips(), fips) << '"' << content << '"';
  }
  vcrypt::internal::SetFipsFlagPath("/nonexistent/fips_enabled");
  errno = 0;
  EXPECT_EQ(VTKUTILSIsSystemFips(), 0);
  EXPECT_EQ(errno, 0) << "the query changed errno";
}

TEST_F(VcryptFipsTest, KernelFlagIsReadOncePerProcess) {
  Flag("1\n");
  EXPECT_EQ(VTKUTILSIsSystemFips(), 1);
  unlink(path_.c_str());
  EXPECT_EQ(VTKUTILSIsSystemFips(), 1);
}

TEST_F(VcryptFipsTest, OpenSSLPropertyDecides) {
  Flag("0\n");
  EXPECT_EQ(VTKUTILSIsSystemFips(), 0);
  ASSERT_EQ(EVP_default_properties_enable_fips(nullptr, 1), 1);
  EXPECT_EQ(VTKUTILSIsSystemFips(), 1);
  ASSERT_EQ(EVP_default_properties_enable_fips(nullptr, 0), 1);
  EXPECT_EQ(VTKUTILSIsSystemFips(), 0);
}

}  // namespace
