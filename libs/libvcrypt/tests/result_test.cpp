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
#include "vcrypt.h"

namespace {

constexpr const char *kUnknown = "Unknown crypto library result code";

// Every code of the header has a text of its own; every other number in
// the range falls back to the unknown text.
TEST(VcryptResultTest, EveryCodeHasItsOwnText) {
  const long codes[] = {VTKCRYPT_E_NULL_ARGUMENT,  VTKCRYPT_E_NO_MEMORY,
                        VTKCRYPT_E_KEY_LENGTH,     VTKCRYPT_E_NO_CONTEXT,
                        VTKCRYPT_E_INTERNAL,       VTKCRYPT_E_TOO_LONG,
                        VTKCRYPT_E_DECRYPT_FAILED, VTKCRYPT_E_NOT_CIPHER_TEXT,
                        VTKCRYPT_SUCCESS,          VTKCRYPT_W_WEAK_KEY,
                        VTKCRYPT_E_OPENSSL,        VTKCRYPT_E_RANDOM,
                        VTKCRYPT_E_NO_DATA};
  std::set<std::string> texts;
  for (long code : codes) texts.insert(VTKCryptGetErrorText(code));
  EXPECT_EQ(texts.size(), std::size(codes));
  EXPECT_EQ(texts.count(kUnknown), 0u);
  int known = 0;
  for (long code = VTKCRYPT_RC_MIN - 1; code <= VTKCRYPT_RC_MAX + 1; ++code) {
    known += strcmp(VTKCryptGetErrorText(code), kUnknown) != 0;
  }
  EXPECT_EQ(known, static_cast<int>(std::size(codes)));
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
  long other_thread = -1;
  std::thread([&] { other_thread = VTKCryptGetExtendedError(); }).join();
  EXPECT_EQ(other_thread, 0) << "the extended error is not per thread";

  char text[256];
  EXPECT_EQ(VTKCryptGetExtendedErrorText(extended, text, sizeof text), text);
  EXPECT_EQ(std::string(text).rfind("error:", 0), 0u) << text;
  char tiny[4];
  VTKCryptGetExtendedErrorText(extended, tiny, sizeof tiny);
  EXPECT_EQ(strlen(tiny), 3u);
  EXPECT_EQ(VTKCryptGetExtendedErrorText(extended, nullptr, 8), nullptr);
  EXPECT_EQ(VTKCryptGetExtendedErrorText(extended, text, 0), nullptr);
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
  // Read once: the kernel sets the flag at boot.
  Flag("1");
  EXPECT_EQ(VTKUTILSIsSystemFips(), 1);
  unlink(path_.c_str());
  EXPECT_EQ(VTKUTILSIsSystemFips(), 1);
  vcrypt::internal::SetFipsFlagPath("/nonexistent/fips_enabled");
  errno = 0;
  EXPECT_EQ(VTKUTILSIsSystemFips(), 0);
  EXPECT_EQ(errno, 0) << "the query changed errno";
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
