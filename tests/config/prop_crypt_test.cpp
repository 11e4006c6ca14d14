// Encrypted property values: the key file and algorithm properties with
// their callbacks, and the decryption after a command line has been
// processed, with key files and encrypted texts made here.
#include <errno.h>

#include "crypt/crypt_test_support.h"
#include "vantrel/vexcept.h"

namespace {

using vtest::LogLine;
using vtest::LogOf;

class VPropCryptTest : public vtest::ConfigTest {
 public:
  void SetUp() override {
    vtest::ConfigTest::SetUp();
    key_ = KeyFile("config.key", vtest::RandomBytes(32, 4));
    setenv("VPROPTEST_DIR", Path("").c_str(), 1);
  }

  // The encrypted form of plain under the key in the file.
  static std::string EncryptWith(const std::string &plain,
                                 const char *algorithm,
                                 const std::string &key) {
    VDataCryptContext context = nullptr;
    EXPECT_EQ(VDataCryptSetupContextWithFile(algorithm, key.c_str(), &context),
              0);
    std::string out = vtest::Encrypt(context, plain);
    VDataCryptCipherContextDestroy(context);
    return out;
  }
  std::string Encrypt(const std::string &plain, const char *algorithm = "AES") {
    return EncryptWith(plain, algorithm, key_);
  }

  // A CBC text made under another key, whose padding check fails under
  // this one (with this vector; one wrong key in 256 would pass).
  std::string Undecryptable() {
    vtest::FixedVector vector(0x42);
    return EncryptWith("a password of some length", "AES_CBC",
                       KeyFile("other.key", vtest::RandomBytes(32, 3)));
  }

  // A property manager with text properties and an argument manager whose
  // "-propsfile" reads the given file.
  void Start(const std::string &contents) {
    props_ = vtest::MakePropMgr();
    for (const char *name : {"password", "plain", "expanded", "PropsFile"}) {
      uint32_t flags = strcmp(name, "expanded") == 0 ? VPROP_FLAG_EXPAND : 0;
      ASSERT_EQ(vtest::Define(props_.get(), name, vtest::Text(""), flags), 0);
    }
    VArgMgr args = nullptr;
    ASSERT_EQ(VArgMgrCreate(props_.get(), &args), 0);
    args_.reset(args);
    ASSERT_EQ(VArgMgrDefineWithFlags(args, "-propsfile", "PropsFile", "file",
                                     VARG_KIND_VALUE, nullptr, 0),
              0);
    file_ = WriteFile("app.props", contents);
  }

  VRC Process() {
    char *argv[] = {const_cast<char *>("app"), const_cast<char *>("-propsfile"),
                    file_.data(), nullptr};
    return VArgMgrProcess(args_.get(), 3, argv);
  }

  VRC Run(const std::string &contents) {
    Start(contents);
    return Process();
  }
  std::string Value(const char *name) {
    return vtest::ValueText(props_.get(), name);
  }
  // Runs with the failures' own error lines left out.
  VRC RunQuietly(const std::string &contents) {
    VLogMgrSetLevel(VLOG_FATAL);
    VRC rc = Run(contents);
    VLogMgrSetLevel(VLOG_WARN);
    return rc;
  }
  bool WasEncrypted(const char *name) {
    return VPropertyWasEncrypted(VPropMgrFind(props_.get(), name)) == 1;
  }

  std::string key_;
  std::string file_;
  vtest::PropMgr props_;
  vtest::ArgMgr args_;
};

TEST_F(VPropCryptTest, EncryptedTextsAreDecryptedOnceAppliedIfThereIsAKey) {
  // Without a key they stay as they are.
  std::string secret = Encrypt("hidden");
  ASSERT_EQ(Run("password: '" + secret + "'\n"), 0);
  EXPECT_EQ(Value("password"), secret);
  EXPECT_FALSE(WasEncrypted("password"));
  setenv("VPROPTEST_SECRET_DIR", "/secret", 1);
  ASSERT_EQ(Run("ConfigKeyFile: '" + key_ + "'\n" + "password: '" +
                Encrypt("s3cr\x01t") + "'\n" + "expanded: '" +
                Encrypt("$VPROPTEST_SECRET_DIR/x") + "'\n" +
                "plain: 'not @ encrypted'\n"),
            0);
  EXPECT_EQ(Value("password"), "s3cr\x01t");
  EXPECT_EQ(Value("expanded"), "/secret/x");
  EXPECT_EQ(Value("plain"), "not @ encrypted");
  EXPECT_TRUE(WasEncrypted("password"));
  EXPECT_TRUE(WasEncrypted("expanded"));
  EXPECT_FALSE(WasEncrypted("plain"));
  EXPECT_FALSE(WasEncrypted("ConfigKeyFile"));
  VTypedValue got = vtest::Get(props_.get(), "password");
  EXPECT_EQ(got.value.stringValue.length, 6u);
  VTypedValueFreeValue(&got);
  // An empty key file name keeps the key.
  ASSERT_EQ(Run("ConfigKeyFile: '" + key_ +
                "'\nConfigKeyFile: ''\npassword: '" + Encrypt("kept") + "'\n"),
            0);
  EXPECT_EQ(Value("password"), "kept");
}

TEST_F(VPropCryptTest, TheKeyFileAndAlgorithmPropertiesAreTheLibrarys) {
  ASSERT_EQ(Run(""), 0);
  struct Row {
    const char *name, *value, *description;
  };
  for (const Row &row :
       {Row{"ConfigKeyFile", "",
            "Location of the file containing the key for encrypted config "
            "values and files"},
        Row{"ConfigCryptoAlg", "AES",
            "The cryptographic algorithm to use when encrypting and "
            "decrypting config values and files"}}) {
    VProperty p = VPropMgrFind(props_.get(), row.name);
    ASSERT_NE(p, nullptr) << row.name;
    EXPECT_STREQ(VPropertyGetGroup(p), "Vantrel");
    EXPECT_EQ(VPropertyGetFlags(p), VPROP_FLAG_ADVANCED);
    EXPECT_STREQ(VPropertyGetDescription(p), row.description);
    EXPECT_EQ(Value(row.name), row.value);
  }
  // Processing again finds them in place.
  EXPECT_EQ(Process(), 0);
}

TEST_F(VPropCryptTest, AProgramsOwnKeyFilePropertyIsAClash) {
  Start("");
  ASSERT_EQ(vtest::Define(props_.get(), "configkeyfile", vtest::Text("")), 0);
  VRC rc = 0;
  auto lines = LogOf([&] { rc = Process(); });
  EXPECT_EQ(rc, VRC_PROP_EXISTS);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].letter, 'E');
  EXPECT_EQ(
      lines[0].text.rfind("Failed to define property 'ConfigKeyFile'.(-41:", 0),
      0u)
      << lines[0].text;
}

TEST_F(VPropCryptTest, ABadKeyFileIsVetoedAndAnUndecryptableTextReturned) {
  EXPECT_EQ(RunQuietly("plain: 'before'\nConfigKeyFile: "
                       "'$VPROPTEST_DIR/missing.key'\nplain: 'after'\n"),
            VRC_CRYPT_FILE_OPEN);
  EXPECT_EQ(Value("ConfigKeyFile"), "");
  EXPECT_EQ(Value("plain"), "before");
  // A text that does not decrypt is an error, and kept as it is.
  std::string damaged = Undecryptable();
  EXPECT_EQ(RunQuietly("ConfigCryptoAlg: 'AES_CBC' ConfigKeyFile: '" + key_ +
                       "'\nplain: '" + damaged + "'\n"),
            VTKCRYPT_E_DECRYPT_FAILED);
  EXPECT_EQ(Value("plain"), damaged);
}

TEST_F(VPropCryptTest, TheAlgorithmFollowsItsPropertyOnceThereIsAKey) {
  // The algorithm set before the key file is the one the key is made for;
  // set after it, it makes the key again.
  std::string keyLine = "ConfigKeyFile: '$VPROPTEST_DIR/config.key'\n";
  std::string algLine = "ConfigCryptoAlg: 'AES_CBC'\n";
  std::string entry = "password: '" + Encrypt("cbc value", "AES_CBC") + "'\n";
  for (const std::string &lines :
       {algLine + keyLine + entry, keyLine + algLine + entry}) {
    ASSERT_EQ(Run(lines), 0) << lines;
    EXPECT_EQ(Value("password"), "cbc value") << lines;
  }
  // An unknown algorithm is vetoed when there is a key.
  EXPECT_EQ(
      RunQuietly("ConfigKeyFile: '" + key_ + "'\nConfigCryptoAlg: 'aes'\n"),
      VRC_CRYPT_NO_ALGORITHM);
  EXPECT_EQ(Value("ConfigCryptoAlg"), "AES");
}

}  // namespace
