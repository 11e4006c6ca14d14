// Allocation failures of every allocating operation, swept over this
// library's allocations and libvcrypt's together: libvcrypt's failure hook
// takes its turn from this library's counter, so one sweep fails each
// allocation of either in turn.  Each failure gives ENOMEM (12) from this
// library or the crypto library's out-of-memory code, leaves the outputs
// and the global key as documented and nothing allocated behind (libvcrypt
// counts its blocks; LeakSanitizer sees this library's).
#include <errno.h>

#include "alloc.h"  // libvcrypt's allocation hooks
#include "crypt_test_support.h"
#include "internal/alloc.h"
#include "support/alloc_sweep.h"

namespace {

using vtest::Bytes;
namespace vi = vantrel::internal;
namespace vci = vcrypt::internal;

// libvcrypt's allocation attempts counted, and failed, as this library's.
bool TakeTurnFromLibrary() {
  void *probe = vi::Malloc(1);
  if (probe == nullptr) return true;
  vi::Free(probe);
  return false;
}

bool IsOutOfMemory(VRC rc) {
  return rc == ENOMEM || rc == VTKCRYPT_E_NO_MEMORY;
}

class CryptAllocTest : public vtest::CryptTest {
 public:
  void SetUp() override {
    vtest::CryptTest::SetUp();
    // Failure lines are expected by the hundred here.
    VLogMgrSetLevel(VLOG_FATAL);
    vci::SetAllocFailHook(TakeTurnFromLibrary);
  }
  void TearDown() override { vci::SetAllocFailHook(nullptr); }

  // Sweeps op, which returns its code; `check` looks at the outcome and
  // releases it.  `kept` counts libvcrypt blocks that rightly outlive a run
  // (the global key's).
  // Returns the number of allocations of a successful run.
  static uint64_t Sweep(
      const std::function<VRC()> &op, const std::function<void(VRC)> &check,
      const std::function<int64_t()> &kept = [] { return 0; }) {
    check(op());  // first-use set-up outside the sweep
    uint64_t needed = vtest::SweepAllocations([&](vtest::Fault &fault) {
      int64_t live = vci::AllocLiveBlocks() - kept();
      fault.Arm();
      VRC rc = op();
      bool fired = fault.Disarm();
      if (rc == 0) {
        EXPECT_FALSE(fired) << "a failed allocation went unreported";
      } else {
        EXPECT_TRUE(fired) << "failed without a failed allocation: " << rc;
        EXPECT_TRUE(IsOutOfMemory(rc)) << rc;
      }
      check(rc);
      EXPECT_EQ(vci::AllocLiveBlocks() - kept(), live)
          << "libvcrypt blocks left";
    });
    return needed;
  }
};

const auto kSentinel = reinterpret_cast<VDataCryptContext>(0x1);

// A made context is released; a failed set-up leaves the output alone.
std::function<void(VRC)> ContextCheck(VDataCryptContext *out) {
  return [out](VRC rc) {
    if (rc == 0) VDataCryptCipherContextDestroy(*out);
    EXPECT_TRUE(rc == 0 || *out == kSentinel);
    *out = kSentinel;
  };
}

TEST_F(CryptAllocTest, SetupWithKey) {
  Bytes key = vtest::RandomBytes(32, 1);
  for (const char *algorithm : {"AES", "AES_CBC"}) {
    VDataCryptContext out = kSentinel;
    // The record, libvcrypt's suite context, the key copy.
    uint64_t needed = Sweep(
        [&] {
          return VDataCryptSetupContextWithKey(algorithm, key.data(), 32, &out);
        },
        ContextCheck(&out));
    EXPECT_GE(needed, 3u);
  }
}

TEST_F(CryptAllocTest, SetupWithFileAndReadFile) {
  std::string path = KeyFile("key", vtest::RandomBytes(24, 2));
  VDataCryptContext out = kSentinel;
  // The file's block, then what a setup with the key allocates.
  uint64_t needed = Sweep(
      [&] { return VDataCryptSetupContextWithFile("AES", path.c_str(), &out); },
      ContextCheck(&out));
  EXPECT_GE(needed, 4u);
  char *data = nullptr;
  uint32_t length = 0;
  Sweep([&] { return VDataCryptReadFile(path.c_str(), &data, &length); },
        [&](VRC rc) {
          EXPECT_EQ(data == nullptr, rc != 0);
          EXPECT_EQ(length, rc == 0 ? 4u + 24 : 0u);
          VDataCryptFreeFileData(data);
          data = nullptr;
        });
}

TEST_F(CryptAllocTest, EncryptAndDecrypt) {
  Bytes value = vtest::RandomBytes(100, 3);
  for (const char *algorithm : {"AES_CFB1", "AES_FIPS"}) {
    vtest::Context context =
        vtest::MakeContext(algorithm, vtest::RandomBytes(16, 4));
    std::string text = vtest::Encrypt(context.get(), value);
    char sentinel = 0;
    char *out = &sentinel;
    // libvcrypt's cipher output and Base64 text, the framed text.
    uint64_t needed = Sweep(
        [&] {
          return VDataCryptEncrypt(context.get(), value.data(), 100, &out);
        },
        [&](VRC rc) {
          // A failed Base64 conversion clears the text; nothing else does.
          if (rc == 0) {
            VDataCryptFreeEncryptedData(context.get(), out);
          } else {
            EXPECT_TRUE(out == &sentinel || out == nullptr);
          }
          out = &sentinel;
        });
    EXPECT_GE(needed, 3u);
    uint32_t length = 7;
    // The Base64 copy, libvcrypt's cipher bytes and plain output, the data.
    needed = Sweep(
        [&] {
          return VDataCryptDecrypt(context.get(), text.c_str(), &out, &length);
        },
        [&](VRC rc) {
          if (rc == 0) {
            EXPECT_EQ(Bytes(out, length), value);
            VDataCryptFreeDecryptedData(context.get(), out);
          } else {
            EXPECT_EQ(out, &sentinel);
            EXPECT_EQ(length, 7u);
          }
          out = &sentinel;
          length = 7;
        });
    EXPECT_GE(needed, 4u);
  }
}

TEST_F(CryptAllocTest, GlobalKeySets) {
  Bytes key = vtest::RandomBytes(16, 5);
  std::string path = KeyFile("key", key);
  for (bool fromFile : {false, true}) {
    Sweep(
        [&] {
          return fromFile ? VAesDataCryptSetKeyFile(path.c_str())
                          : VAesDataCryptSetKey(16, key.data());
        },
        [&](VRC rc) {
          uint32_t length = 0;
          const unsigned char *now = VAesDataCryptGetKey(&length);
          EXPECT_EQ(now == nullptr, rc != 0) << "a failed set leaves no key";
          if (rc == 0) {
            EXPECT_EQ(Bytes(reinterpret_cast<const char *>(now), length), key);
          }
        },
        [] {
          uint32_t length = 0;
          return VAesDataCryptGetKey(&length) != nullptr ? 1 : 0;
        });
  }
}

TEST_F(CryptAllocTest, GlobalKeyAndOneCallKeyOperations) {
  Bytes key = vtest::RandomBytes(32, 6), value = "a configuration password";
  ASSERT_EQ(VAesDataCryptSetKey(32, key.data()), 0);
  const Bytes *callKeys[] = {nullptr, &key};
  for (const Bytes *callKey : callKeys) {
    const void *k = callKey != nullptr ? callKey->data() : nullptr;
    char *text = nullptr;
    uintptr_t status = 9;
    // A temporary context adds its three allocations.
    uint64_t extra = callKey != nullptr ? 3 : 0;
    uint64_t needed = Sweep(
        [&] {
          return VAesDataCryptEncryptData(value.data(), 24, k, 32, &text,
                                          &status);
        },
        [&](VRC rc) {
          EXPECT_EQ(status, rc == 0 ? 0u : 9u);
          VAesDataCryptFreeEncryptedData(text);
          text = nullptr;
          status = 9;
        });
    EXPECT_GE(needed, 3u + extra);
    ASSERT_EQ(VAesDataCryptEncryptData(value.data(), 24, k, 32, &text, nullptr),
              0);
    std::string encrypted = text;
    VAesDataCryptFreeEncryptedData(text);
    unsigned char *data = nullptr;
    uint32_t length = 0;
    needed = Sweep(
        [&] {
          return VAesDataCryptDecryptData(encrypted.c_str(), nullptr, k, 32,
                                          &data, &length, &status);
        },
        [&](VRC rc) {
          EXPECT_EQ(status, rc == 0 ? 0u : 9u);
          EXPECT_EQ(data == nullptr, rc != 0);
          if (rc == 0) {
            EXPECT_EQ(Bytes(reinterpret_cast<char *>(data), length), value);
          }
          VAesDataCryptFreeDecryptedData(data);
          data = nullptr;
          status = 9;
        });
    EXPECT_GE(needed, 4u + extra);
  }
}

}  // namespace
