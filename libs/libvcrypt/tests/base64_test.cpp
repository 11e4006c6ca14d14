#include <errno.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <string.h>

#include <string>

#include "support.h"

namespace {

using vtest::Bytes;

std::string Encode(const Bytes &bytes) {
  char *text = VTKCryptDesBinasciiB2Abase64(bytes.data(), bytes.size());
  EXPECT_NE(text, nullptr);
  std::string out = text != nullptr ? text : "";
  VTKCryptDesFree(text);
  return out;
}

// Decodes and checks that the checker agrees with the decoder.
bool Decode(const std::string &text, Bytes *out) {
  size_t length = 99;
  errno = 0;
  unsigned char *bytes = VTKCryptDesBinasciiA2Bbase64(text.c_str(), &length);
  int valid = VTKCryptDesBinasciiCheckbase64(text.c_str(), text.size());
  EXPECT_EQ(valid, bytes != nullptr ? 1 : 0) << text;
  if (bytes == nullptr) {
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(length, 0u);
    out->clear();
    return false;
  }
  EXPECT_EQ(bytes[length], 0) << "decoded bytes are not terminated";
  out->assign(bytes, bytes + length);
  VTKCryptDesFree(bytes);
  return true;
}

Bytes Of(const std::string &s) { return Bytes(s.begin(), s.end()); }

TEST(VcryptBase64Test, Rfc4648Vectors) {
  const std::pair<const char *, const char *> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto &[plain, text] : vectors) {
    EXPECT_EQ(Encode(Of(plain)), text);
    Bytes back;
    EXPECT_TRUE(Decode(text, &back));
    EXPECT_EQ(back, Of(plain));
  }
}

// Every byte value in every position, against OpenSSL's encoder.
TEST(VcryptBase64Test, AgreesWithOpenSSL) {
  for (size_t n = 0; n <= 300; ++n) {
    Bytes data = vtest::RandomBytes(n, static_cast<uint32_t>(n));
    std::string theirs(4 * ((n + 2) / 3), '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char *>(theirs.data()),
                    data.data(), static_cast<int>(n));
    ASSERT_EQ(Encode(data), theirs) << n;
    Bytes back;
    ASSERT_TRUE(Decode(theirs, &back));
    ASSERT_EQ(back, data) << n;
  }
}

TEST(VcryptBase64Test, CheckerAcceptsOnlyCanonicalText) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"AAAA", true},
      {"AA==", true},
      {"AAA=", true},
      {"AQ==", true},
      {"AAE=", true},
      {"+/+/", true},
      {"A", false},
      {"AA", false},
      {"AAA", false},
      {"AAAAA", false},
      {"=", false},
      {"====", false},
      {"A===", false},
      {"AA=A", false},
      {"=AAA", false},
      {"AA==AAAA", false},
      {"AB==", false},
      {"AAB=", false},
      {" AAA", false},
      {"AAA ", false},
      {"AA\nAA", false},
      {"AAAA\n", false},
      {"AA\tA", false},
      {"-_AA", false},
      {"AA.A", false},
      {std::string("AA\0A", 4), false},
      {"\xC3\xA9\x41\x41", false},
  };
  for (const auto &[text, valid] : cases) {
    EXPECT_EQ(VTKCryptDesBinasciiCheckbase64(text.data(), text.size()),
              valid ? 1 : 0)
        << '"' << text << '"';
    Bytes back;
    // The decoder reads up to the first NUL, so the embedded NUL case is
    // a shorter text for it.
    if (text.find('\0') == std::string::npos) {
      EXPECT_EQ(Decode(text, &back), valid) << text;
    }
  }
  // The checker reads only the length it is given.
  EXPECT_EQ(VTKCryptDesBinasciiCheckbase64("AAAA!", 4), 1);
  EXPECT_EQ(VTKCryptDesBinasciiCheckbase64(nullptr, 0), 0);
}

TEST(VcryptBase64Test, NullArguments) {
  char *empty = VTKCryptDesBinasciiB2Abase64(nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  VTKCryptDesFree(empty);
  errno = 0;
  EXPECT_EQ(VTKCryptDesBinasciiB2Abase64(nullptr, 1), nullptr);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(VTKCryptDesBinasciiA2Bbase64(nullptr, nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
  unsigned char *bytes = VTKCryptDesBinasciiA2Bbase64("Zm8=", nullptr);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(memcmp(bytes, "fo", 3), 0);
  VTKCryptDesFree(bytes);
  VTKCryptDesFree(nullptr);
}

}  // namespace
