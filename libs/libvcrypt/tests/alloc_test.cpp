// Allocation failures of this library and of OpenSSL beneath it, swept
// over every call that allocates: each failure gives a documented code,
// empty outputs and no block left behind, and the call works afterwards.
#include "alloc.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>

#include "support.h"

namespace {

using vtest::Bytes;

TEST(VcryptAllocTest, SetupSweep) {
  vtest::Sweep([](vtest::Fault &fault) {
    VTKCryptDCSuitesCTX *ctx = nullptr;
    fault.Arm();
    long rc = VTKCryptDCSuitesCTXSetup(&ctx);
    fault.Disarm();
    fault.ExpectOutcome(rc);
    EXPECT_EQ(ctx == nullptr, rc != VTKCRYPT_SUCCESS);
    VTKCryptDCSuitesCTXDestroy(ctx);
  });
}

TEST(VcryptAllocTest, CipherSweeps) {
  vtest::Suite suite;
  Bytes key = vtest::RandomBytes(24, 5), data = vtest::RandomBytes(33, 6);
  for (const vtest::Mode &mode : vtest::kModes) {
    SCOPED_TRACE(mode.name);
    Bytes cipher;
    ASSERT_EQ(vtest::Run(mode.encrypt, data, key, suite.get(), &cipher),
              VTKCRYPT_SUCCESS);
    for (bool encrypt : {true, false}) {
      SCOPED_TRACE(encrypt ? "encrypt" : "decrypt");
      const Bytes &in = encrypt ? data : cipher;
      uint64_t needed = vtest::Sweep([&](vtest::Fault &fault) {
        Bytes out;
        fault.Arm();
        long rc = vtest::Run(encrypt ? mode.encrypt : mode.decrypt, in, key,
                             suite.get(), &out);
        fault.Disarm();
        fault.ExpectOutcome(rc);
        if (rc != VTKCRYPT_SUCCESS) {
          EXPECT_TRUE(out.empty());
        } else if (!encrypt) {
          EXPECT_EQ(out, data);
        }
      });
      EXPECT_GE(needed, 2u) << "the output and OpenSSL's context at least";
    }
  }
}

TEST(VcryptAllocTest, Base64Sweeps) {
  Bytes data = vtest::RandomBytes(40, 8);
  vtest::Sweep([&](vtest::Fault &fault) {
    errno = 0;
    fault.Arm();
    char *text = VTKCryptDesBinasciiB2Abase64(data.data(), data.size());
    fault.Disarm();
    if (fault.fired()) {
      EXPECT_EQ(text, nullptr);
      EXPECT_EQ(errno, ENOMEM);
    } else {
      EXPECT_NE(text, nullptr);
    }
    VTKCryptDesFree(text);
  });
  vtest::Sweep([&](vtest::Fault &fault) {
    size_t length = 5;
    errno = 0;
    fault.Arm();
    unsigned char *bytes = VTKCryptDesBinasciiA2Bbase64("Zm9vYmE=", &length);
    fault.Disarm();
    if (fault.fired()) {
      EXPECT_EQ(bytes, nullptr);
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(errno, ENOMEM);
    } else {
      EXPECT_EQ(length, 5u);
    }
    VTKCryptDesFree(bytes);
  });
}

// A program's own test build can make this library's allocations fail from
// its own counter.
bool AlwaysFail() { return true; }

TEST(VcryptAllocTest, OutsideHookFailsTheFunnel) {
  vcrypt::internal::SetAllocFailHook(AlwaysFail);
  VTKCryptDCSuitesCTX *ctx = nullptr;
  EXPECT_EQ(VTKCryptDCSuitesCTXSetup(&ctx), VTKCRYPT_E_NO_MEMORY);
  EXPECT_EQ(VTKCryptDesBinasciiB2Abase64("a", 1), nullptr);
  vcrypt::internal::SetAllocFailHook(nullptr);
  EXPECT_EQ(ctx, nullptr);
}

size_t g_released = 0;
size_t g_dirty = 0;
void Observe(const void *block, size_t size) {
  const auto *bytes = static_cast<const unsigned char *>(block);
  g_released += size;
  g_dirty += static_cast<size_t>(std::count_if(
      bytes, bytes + size, [](unsigned char b) { return b != 0; }));
}

// Plain text must not linger on the heap: every buffer handed out is wiped
// whole, header included, before it is released.
TEST(VcryptAllocTest, ReleasedBuffersAreWiped) {
  vtest::Suite suite;
  Bytes key = vtest::RandomBytes(16, 4), data(100, 's');
  vcrypt::internal::SetReleaseObserver(Observe);
  for (const vtest::Mode &mode : vtest::kModes) {
    Bytes cipher, plain;
    ASSERT_EQ(vtest::Run(mode.encrypt, data, key, suite.get(), &cipher),
              VTKCRYPT_SUCCESS);
    ASSERT_EQ(vtest::Run(mode.decrypt, cipher, key, suite.get(), &plain),
              VTKCRYPT_SUCCESS);
    // Damaged padding: the partly decrypted block is wiped too.
    cipher[cipher.size() - 17] ^= 0x80;
    ASSERT_NE(vtest::Run(mode.decrypt, cipher, key, suite.get(), &plain),
              VTKCRYPT_E_NO_MEMORY);
  }
  VTKCryptDesFree(VTKCryptDesBinasciiB2Abase64(data.data(), data.size()));
  VTKCryptDesFree(VTKCryptDesBinasciiA2Bbase64("c2VjcmV0", nullptr));
  vcrypt::internal::SetReleaseObserver(nullptr);
  EXPECT_GE(g_released, 6 * 100u);
  EXPECT_EQ(g_dirty, 0u);
}

}  // namespace
