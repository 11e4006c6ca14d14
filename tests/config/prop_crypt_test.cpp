// Encrypted property values: the key file and algorithm properties with
// their callbacks, and the decryption after a command line has been
// processed, with key files and encrypted texts made here.
#include <errno.h>

#include "config_test_support.h"
#include "vantrel/vdatacrypt.h"
#include "vantrel/vexcept.h"

namespace {

using vtest::LogLine;
using vtest::LogOf;

class VPropCryptTest : public vtest::ConfigTest {
 public:
  void SetUp() override {
    vtest::ConfigTest::SetUp();
    for (int i = 0; i < 32; ++i) keyBytes_[i] = static_cast<char>(i * 7 + 1);
    key_ = WriteFile("config.key", "256:" + std::string(keyBytes_, 32));
    setenv("VPROPTEST_DIR", Path("").c_str(), 1);
  }

  // The encrypted form of plain under the test's key.
  std::string Encrypt(const std::string &plain, const char *algorithm = "AES") {
    VDataCryptContext context = nullptr;
    EXPECT_EQ(VDataCryptSetupContextWithFile(algorithm, key_.c_str(), &context),
              0);
    char *text = nullptr;
    EXPECT_EQ(VDataCryptEncrypt(context, plain.data(),
                                static_cast<uint32_t>(plain.size()), &text),
              0);
    std::string out = text != nullptr ? text : "";
    VDataCryptFreeEncryptedData(context, text);
    VDataCryptCipherContextDestroy(context);
    return out;
  }

  // CBC output of plain with a damaged last block, which fails its padding
  // check.  A damaged block still has valid padding once in about 256
  // times, so the damage moves until decryption really fails.
  std::string Undecryptable(const std::string &plain) {
    std::string text = Encrypt(plain, "AES_CBC");
    VDataCryptContext context = nullptr;
    EXPECT_EQ(VDataCryptSetupContextWithFile("AES_CBC", key_.c_str(), &context),
              0);
    for (size_t back = 3; back < 12; ++back) {
      std::string damaged = text;
      char &c = damaged[damaged.size() - back];
      c = c == 'A' ? 'B' : 'A';
      char *data = nullptr;
      uint32_t length = 0;
      VRC rc = VDataCryptDecrypt(context, damaged.c_str(), &data, &length);
      VDataCryptFreeDecryptedData(context, data);
      if (rc != 0 && rc != VRC_CRYPT_NOT_ENCRYPTED) {
        VDataCryptCipherContextDestroy(context);
        return damaged;
      }
    }
    ADD_FAILURE() << "every damaged form of " << text << " decrypts";
    VDataCryptCipherContextDestroy(context);
    return text;
  }

  // A property manager with text properties and an argument manager whose
  // "-propsfile" reads the given file.
  void Start(const std::string &contents) {
    props_ = vtest::MakePropMgr();
    for (const char *name : {"password", "plain", "expanded", "PropsFile"}) {
      uint32_t flags = strcmp(name, "expanded") == 0 ? VPROP_FLAG_EXPAND : 0;
      ASSERT_EQ(vtest::Define(props_.get(), name, vtest::Text(""), flags), 0);
    }
    ASSERT_EQ(vtest::Define(props_.get(), "number", vtest::Int(0)), 0);
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

  bool WasEncrypted(const char *name) {
    return VPropertyWasEncrypted(VPropMgrFind(props_.get(), name)) == 1;
  }

  char keyBytes_[32];
  std::string key_;
  std::string file_;
  vtest::PropMgr props_;
  vtest::ArgMgr args_;
};

TEST_F(VPropCryptTest, EncryptedTextsAreDecryptedOnceAppliedIfThereIsAKey) {
  // Without a key they stay as they are.
  std::string secret = Encrypt("hidden");
  Start("password: '" + secret + "'\n");
  ASSERT_EQ(Process(), 0);
  EXPECT_EQ(vtest::ValueText(props_.get(), "password"), secret);
  EXPECT_FALSE(WasEncrypted("password"));
  setenv("VPROPTEST_SECRET_DIR", "/secret", 1);
  Start("ConfigKeyFile: '" + key_ + "'\n" + "password: '" +
        Encrypt("s3cr\x01t") + "'\n" + "expanded: '" +
        Encrypt("$VPROPTEST_SECRET_DIR/x") + "'\n" +
        "plain: 'not @ encrypted'\n");
  ASSERT_EQ(Process(), 0);
  EXPECT_EQ(vtest::ValueText(props_.get(), "password"), "s3cr\x01t");
  EXPECT_EQ(vtest::ValueText(props_.get(), "expanded"), "/secret/x");
  EXPECT_EQ(vtest::ValueText(props_.get(), "plain"), "not @ encrypted");
  EXPECT_TRUE(WasEncrypted("password"));
  EXPECT_TRUE(WasEncrypted("expanded"));
  EXPECT_FALSE(WasEncrypted("plain"));
  EXPECT_FALSE(WasEncrypted("ConfigKeyFile"));
  VTypedValue got = vtest::Get(props_.get(), "password");
  EXPECT_EQ(got.value.stringValue.length, 6u);
  VTypedValueFreeValue(&got);
  // An empty key file name keeps the key.
  Start("ConfigKeyFile: '" + key_ + "'\nConfigKeyFile: ''\npassword: '" +
        Encrypt("kept") + "'\n");
  ASSERT_EQ(Process(), 0);
  EXPECT_EQ(vtest::ValueText(props_.get(), "password"), "kept");
}

TEST_F(VPropCryptTest, TheKeyFileAndAlgorithmPropertiesAreTheLibrarys) {
  Start("");
  ASSERT_EQ(Process(), 0);
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
    EXPECT_EQ(vtest::ValueText(props_.get(), row.name), row.value);
  }
  // Processing again finds them in place.
  EXPECT_EQ(Process(), 0);
}

TEST_F(VPropCryptTest, AProgramsOwnKeyFilePropertyIsAClash) {
  Start("");
  VTypedValue v = vtest::Text("");
  ASSERT_EQ(
      VPropMgrDefineWithFlags(props_.get(), "configkeyfile", "mine", &v, 0), 0);
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
  Start(
      "plain: 'before'\nConfigKeyFile: '$VPROPTEST_DIR/missing.key'\n"
      "plain: 'after'\n");
  VRC rc = 0;
  VLogMgrSetLevel(VLOG_FATAL);  // the key file's own error line
  LogOf([&] { rc = Process(); });
  VLogMgrSetLevel(VLOG_WARN);
  EXPECT_EQ(rc, VRC_CRYPT_FILE_OPEN);
  EXPECT_EQ(vtest::ValueText(props_.get(), "ConfigKeyFile"), "");
  EXPECT_EQ(vtest::ValueText(props_.get(), "plain"), "before");
  // A text that does not decrypt is an error, and kept as it is.
  std::string damaged = Undecryptable("x");
  Start("ConfigCryptoAlg: 'AES_CBC' ConfigKeyFile: '" + key_ + "'\nplain: '" +
        damaged + "'\n");
  VLogMgrSetLevel(VLOG_FATAL);
  rc = Process();
  VLogMgrSetLevel(VLOG_WARN);
  EXPECT_NE(rc, 0);
  EXPECT_NE(rc, VRC_CRYPT_NOT_ENCRYPTED);
  EXPECT_EQ(vtest::ValueText(props_.get(), "plain"), damaged);
}

TEST_F(VPropCryptTest, TheAlgorithmFollowsItsPropertyOnceThereIsAKey) {
  // The algorithm set before the key file is the one the key is made for;
  // set after it, it makes the key again.
  for (bool algorithmFirst : {true, false}) {
    SCOPED_TRACE(algorithmFirst);
    std::string keyLine = "ConfigKeyFile: '$VPROPTEST_DIR/config.key'\n";
    std::string algLine = "ConfigCryptoAlg: 'AES_CBC'\n";
    Start((algorithmFirst ? algLine + keyLine : keyLine + algLine) +
          "password: '" + Encrypt("cbc value", "AES_CBC") + "'\n");
    ASSERT_EQ(Process(), 0);
    EXPECT_EQ(vtest::ValueText(props_.get(), "password"), "cbc value");
  }
  // An unknown algorithm is vetoed when there is a key.
  Start("ConfigKeyFile: '" + key_ + "'\nConfigCryptoAlg: 'aes'\n");
  VLogMgrSetLevel(VLOG_FATAL);
  EXPECT_EQ(Process(), VRC_CRYPT_NO_ALGORITHM);
  VLogMgrSetLevel(VLOG_WARN);
  EXPECT_EQ(vtest::ValueText(props_.get(), "ConfigCryptoAlg"), "AES");
}

}  // namespace
