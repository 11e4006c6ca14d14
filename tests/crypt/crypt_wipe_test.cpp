// Nothing secret is left on the heap: every block that held a key, a key
// file or plain text is overwritten with zero bytes before it is released,
// by this library and by libvcrypt beneath it.
#include <algorithm>
#include <mutex>

#include "alloc.h"  // libvcrypt's release observer
#include "crypt/crypt_internal.h"
#include "crypt_test_support.h"

namespace {

using vtest::Bytes;
namespace vi = vantrel::internal;

struct Released {
  size_t size;
  bool wiped;
};

std::mutex g_mutex;
std::vector<Released> g_ours, g_theirs;

bool AllZero(const void *block, size_t size) {
  auto *p = static_cast<const unsigned char *>(block);
  return std::all_of(p, p + size, [](unsigned char c) { return c == 0; });
}

template <std::vector<Released> *released>
void Observe(const void *block, size_t size) {
  std::lock_guard lock(g_mutex);
  released->push_back({size, AllZero(block, size)});
}

// The sizes of the blocks released since the last call; every one must
// have been wiped.
std::vector<size_t> Drain(std::vector<Released> &released, const char *whose) {
  std::lock_guard lock(g_mutex);
  std::vector<size_t> sizes;
  for (const Released &r : released) {
    EXPECT_TRUE(r.wiped) << whose << " block of " << r.size << " bytes";
    sizes.push_back(r.size);
  }
  released.clear();
  return sizes;
}

class CryptWipeTest : public vtest::CryptTest {
 public:
  void SetUp() override {
    vtest::CryptTest::SetUp();
    g_ours.clear();
    g_theirs.clear();
    vi::SetCryptReleaseObserver(Observe<&g_ours>);
    vcrypt::internal::SetReleaseObserver(Observe<&g_theirs>);
  }
  void TearDown() override {
    vi::SetCryptReleaseObserver(nullptr);
    vcrypt::internal::SetReleaseObserver(nullptr);
  }
  static std::vector<size_t> OursReleased() { return Drain(g_ours, "a"); }
  static size_t TheirsReleased() {
    return Drain(g_theirs, "a libvcrypt").size();
  }
};

TEST_F(CryptWipeTest, ContextKeyCopyIsWipedOnDestroy) {
  for (uint32_t length : vtest::kKeyLengths) {
    vtest::Context context =
        vtest::MakeContext("AES_CBC", vtest::RandomBytes(length, length));
    EXPECT_TRUE(OursReleased().empty());
    context.reset();
    EXPECT_EQ(OursReleased(), std::vector<size_t>{length});
  }
}

TEST_F(CryptWipeTest, KeyFileBlockIsWipedWhetherItIsGoodOrNot) {
  Bytes key = vtest::RandomBytes(32, 1);
  std::string good = WriteFile("good", "256:" + key + "\n");
  std::string shortFile = WriteFile("short", "256:" + key.substr(0, 31));
  VDataCryptContext made = nullptr;
  ASSERT_EQ(VDataCryptSetupContextWithFile("AES", good.c_str(), &made), 0);
  // The file's block went, wiped; the key itself was never copied on the
  // way to the context.
  EXPECT_EQ(OursReleased(), std::vector<size_t>{4 + 33});
  VDataCryptCipherContextDestroy(made);
  EXPECT_EQ(OursReleased(), std::vector<size_t>{32});

  vtest::LogOf([&] {
    EXPECT_EQ(VDataCryptSetupContextWithFile("AES", shortFile.c_str(), &made),
              VRC_CRYPT_KEY_LENGTH);
  });
  EXPECT_EQ(OursReleased(), std::vector<size_t>{4 + 31});
}

TEST_F(CryptWipeTest, ReplacedGlobalKeyIsWiped) {
  Bytes first = vtest::RandomBytes(16, 2), second = vtest::RandomBytes(24, 3);
  ASSERT_EQ(VAesDataCryptSetKey(16, first.data()), 0);
  OursReleased();
  ASSERT_EQ(VAesDataCryptSetKey(24, second.data()), 0);
  EXPECT_EQ(OursReleased(), std::vector<size_t>{16});
  // A temporary context of one call goes the same way.
  char *text = nullptr;
  ASSERT_EQ(VAesDataCryptEncryptData("v", 1, first.data(), 16, &text, nullptr),
            0);
  EXPECT_EQ(OursReleased(), std::vector<size_t>{16});
  VAesDataCryptFreeEncryptedData(text);
}

TEST_F(CryptWipeTest, PlainTextLeavesNoCopyBehind) {
  const Bytes kSecret = "correct horse battery staple";
  for (const char *algorithm : vtest::kAlgorithms) {
    SCOPED_TRACE(algorithm);
    vtest::Context context =
        vtest::MakeContext(algorithm, vtest::RandomBytes(32, 4));
    std::string text = vtest::Encrypt(context.get(), kSecret);
    OursReleased();
    TheirsReleased();
    char *data = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(VDataCryptDecrypt(context.get(), text.c_str(), &data, &length),
              0);
    // The cipher bytes and libvcrypt's plain buffer.
    EXPECT_EQ(TheirsReleased(), 2u);
    VDataCryptFreeDecryptedData(context.get(), data);
    EXPECT_EQ(OursReleased(), std::vector<size_t>{kSecret.size()});
  }
}

TEST_F(CryptWipeTest, FileDataIsWipedOnRelease) {
  std::string path = WriteFile("secret", "a secret text");
  char *data = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(VDataCryptReadFile(path.c_str(), &data, &length), 0);
  VDataCryptFreeFileData(data);
  EXPECT_EQ(OursReleased(), std::vector<size_t>{length});
}

}  // namespace
