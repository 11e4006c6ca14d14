#include "support.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <random>

#include "alloc.h"
#include "internal.h"

namespace vtest {

namespace vi = vcrypt::internal;

namespace {

std::atomic<int64_t> g_openssl_live{0};
thread_local uint64_t t_openssl_fired = 0;

bool OpenSSLAttemptFails() {
  if (!vi::AllocAttemptFails()) return false;
  ++t_openssl_fired;
  return true;
}

void *TestMalloc(size_t size, const char *, int) {
  if (OpenSSLAttemptFails()) return nullptr;
  void *block = malloc(size);
  if (block != nullptr) ++g_openssl_live;
  return block;
}

void TestFree(void *block, const char *, int) {
  if (block == nullptr) return;
  --g_openssl_live;
  free(block);
}

void *TestRealloc(void *block, size_t size, const char *file, int line) {
  if (block == nullptr) return TestMalloc(size, file, line);
  if (size == 0) {
    TestFree(block, file, line);
    return nullptr;
  }
  if (OpenSSLAttemptFails()) return nullptr;
  return realloc(block, size);
}

Bytes g_vector;
int FixedSource(unsigned char *buffer, int length) {
  memcpy(buffer, g_vector.data(), static_cast<size_t>(length));
  ++g_vector.back();
  return 1;
}

}  // namespace

void Fault::Arm() {
  armed_ = true;
  t_openssl_fired = 0;
  vi::AllocFailArm(nth_, repeat_);
}

void Fault::Disarm() {
  if (!armed_) return;
  armed_ = false;
  fired_ += vi::AllocFailDisarm();
  openssl_fired_ += t_openssl_fired;
}

void Fault::ExpectOutcome(long rc) const {
  if (rc == VTKCRYPT_SUCCESS) {
    EXPECT_FALSE(ours()) << "a failed allocation went unreported";
  } else {
    EXPECT_TRUE(fired()) << "failed without a failed allocation: " << rc;
    EXPECT_TRUE(rc == VTKCRYPT_E_NO_MEMORY || rc == VTKCRYPT_E_OPENSSL ||
                rc == VTKCRYPT_E_RANDOM)
        << rc;
  }
}

int64_t LiveBlocks() { return vi::AllocLiveBlocks() + g_openssl_live; }

uint64_t Sweep(const std::function<void(Fault &)> &body) {
  Fault warm_up(0, false);
  body(warm_up);
  uint64_t needed = 0;
  for (bool repeat : {false, true}) {
    for (uint64_t n = 1;; ++n) {
      SCOPED_TRACE(testing::Message()
                   << "allocation " << n << (repeat ? " and later" : "")
                   << " failing");
      int64_t live = LiveBlocks();
      Fault fault(n, repeat);
      body(fault);
      fault.Disarm();
      EXPECT_EQ(LiveBlocks(), live) << "blocks left behind";
      if (!fault.fired()) {
        needed = n - 1;
        break;
      }
      if (n > 1000 || testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "sweep did not finish";
        return needed;
      }
    }
  }
  return needed;
}

Suite::Suite() { EXPECT_EQ(VTKCryptDCSuitesCTXSetup(&ctx_), VTKCRYPT_SUCCESS); }

const Mode kModes[2] = {
    {"CFB1", VTKCryptDCSuitesAESCFB1Encrypt, VTKCryptDCSuitesAESCFB1Decrypt,
     false},
    {"CBC", VTKCryptDCSuitesAESCBCEncrypt, VTKCryptDCSuitesAESCBCDecrypt, true},
};

const EVP_CIPHER *EvpCipher(const Mode &mode, size_t key_length) {
  switch (key_length) {
    case 16:
      return mode.cbc ? EVP_aes_128_cbc() : EVP_aes_128_cfb1();
    case 24:
      return mode.cbc ? EVP_aes_192_cbc() : EVP_aes_192_cfb1();
    default:
      return mode.cbc ? EVP_aes_256_cbc() : EVP_aes_256_cfb1();
  }
}

Bytes EvpRun(const Mode &mode, const Bytes &key, const unsigned char *iv,
             const Bytes &in, bool encrypt) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(
      EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  Bytes out(in.size() + 16);
  int head = 0, tail = 0;
  if (!EVP_CipherInit_ex(ctx.get(), EvpCipher(mode, key.size()), nullptr,
                         key.data(), iv, encrypt) ||
      !EVP_CipherUpdate(ctx.get(), out.data(), &head, in.data(),
                        static_cast<int>(in.size())) ||
      !EVP_CipherFinal_ex(ctx.get(), out.data() + head, &tail)) {
    return {};
  }
  out.resize(static_cast<size_t>(head + tail));
  return out;
}

long Run(CipherFn fn, const Bytes &in, const Bytes &key,
         const VTKCryptDCSuitesCTX *ctx, Bytes *out) {
  unsigned char *buffer = nullptr;
  uint32_t length = 0;
  long rc = fn(in.data(), static_cast<uint32_t>(in.size()), key.data(),
               static_cast<uint32_t>(key.size()), &buffer, &length, ctx);
  out->assign(buffer, buffer + length);
  if (buffer == nullptr) {
    EXPECT_EQ(length, 0u);
  }
  VTKCryptDCSuitesGenericFree(buffer, ctx);
  return rc;
}

Bytes RandomBytes(size_t length, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes out(length);
  for (auto &b : out) b = static_cast<unsigned char>(gen());
  return out;
}

Bytes FromHex(const std::string &hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(
        static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

FixedVectors::FixedVectors(const Bytes &first) {
  g_vector = first;
  vi::SetRandomSource(FixedSource);
}

FixedVectors::~FixedVectors() { vi::SetRandomSource(nullptr); }

}  // namespace vtest

// OpenSSL's allocator goes through the same failure counter as this
// library's own, so one sweep covers both; it must be replaced before
// OpenSSL allocates anything.
int main(int argc, char **argv) {
  if (!CRYPTO_set_mem_functions(vtest::TestMalloc, vtest::TestRealloc,
                                vtest::TestFree)) {
    fprintf(stderr, "OpenSSL allocated before main; cannot count its blocks\n");
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
