// Encryption and decryption of 64-byte and 4 KiB values through the
// library (framed text, key copy, libvcrypt beneath) against the same work
// done with OpenSSL's EVP calls directly: the cipher alone, and the cipher
// with OpenSSL's Base64 and the same frame, which is the floor.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

#include <string>
#include <vector>

namespace {

constexpr unsigned char kKey[32] = {
    0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
    0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
    0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
constexpr size_t kIv = 16;

enum Mode { kCfb1 = 0, kCbc = 1 };
const char *AlgorithmOf(int mode) { return mode == kCbc ? "AES_CBC" : "AES"; }

std::string Value(size_t size) {
  std::string value(size, '\0');
  for (size_t i = 0; i < size; ++i) value[i] = static_cast<char>('a' + i % 26);
  return value;
}

VDataCryptContext Context(int mode) {
  VDataCryptContext context = nullptr;
  if (VDataCryptSetupContextWithKey(AlgorithmOf(mode), kKey, sizeof kKey,
                                    &context) != 0) {
    abort();
  }
  return context;
}

// ---- Through the library.

void BM_LibraryEncrypt(benchmark::State &state) {
  int mode = static_cast<int>(state.range(0));
  std::string value = Value(static_cast<size_t>(state.range(1)));
  VDataCryptContext context = Context(mode);
  for (auto _ : state) {
    char *text = nullptr;
    if (VDataCryptEncrypt(context, value.data(),
                          static_cast<uint32_t>(value.size()), &text) != 0) {
      state.SkipWithError("encrypt failed");
      break;
    }
    benchmark::DoNotOptimize(text);
    VDataCryptFreeEncryptedData(context, text);
  }
  state.SetBytesProcessed(state.iterations() * state.range(1));
  VDataCryptCipherContextDestroy(context);
}

void BM_LibraryDecrypt(benchmark::State &state) {
  int mode = static_cast<int>(state.range(0));
  std::string value = Value(static_cast<size_t>(state.range(1)));
  VDataCryptContext context = Context(mode);
  char *text = nullptr;
  VDataCryptEncrypt(context, value.data(), static_cast<uint32_t>(value.size()),
                    &text);
  for (auto _ : state) {
    char *data = nullptr;
    uint32_t length = 0;
    if (VDataCryptDecrypt(context, text, &data, &length) != 0) {
      state.SkipWithError("decrypt failed");
      break;
    }
    benchmark::DoNotOptimize(data);
    VDataCryptFreeDecryptedData(context, data);
  }
  state.SetBytesProcessed(state.iterations() * state.range(1));
  VDataCryptFreeEncryptedData(context, text);
  VDataCryptCipherContextDestroy(context);
}

// ---- OpenSSL directly: the calls libvcrypt makes, on ciphers fetched once.

EVP_CIPHER *Cipher(int mode) {
  static EVP_CIPHER *ciphers[2] = {
      EVP_CIPHER_fetch(nullptr, "AES-256-CFB1", nullptr),
      EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr)};
  return ciphers[mode];
}

// A fresh vector, then one whole cipher pass into out (vector first);
// returns the bytes written.
size_t EvpEncrypt(int mode, const std::string &value, unsigned char *out) {
  if (RAND_bytes(out, kIv) != 1) abort();
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  int head = 0, tail = 0;
  if (!EVP_CipherInit_ex2(ctx, Cipher(mode), kKey, out, 1, nullptr) ||
      !EVP_CipherUpdate(ctx, out + kIv, &head,
                        reinterpret_cast<const unsigned char *>(value.data()),
                        static_cast<int>(value.size())) ||
      !EVP_CipherFinal_ex(ctx, out + kIv + head, &tail)) {
    abort();
  }
  EVP_CIPHER_CTX_free(ctx);
  return kIv + static_cast<size_t>(head + tail);
}

size_t EvpDecrypt(int mode, const unsigned char *in, size_t length,
                  unsigned char *out) {
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  int head = 0, tail = 0;
  if (!EVP_CipherInit_ex2(ctx, Cipher(mode), kKey, in, 0, nullptr) ||
      !EVP_CipherUpdate(ctx, out, &head, in + kIv,
                        static_cast<int>(length - kIv)) ||
      !EVP_CipherFinal_ex(ctx, out + head, &tail)) {
    abort();
  }
  EVP_CIPHER_CTX_free(ctx);
  return static_cast<size_t>(head + tail);
}

size_t CipherSize(size_t value) { return kIv + value + 16; }

void BM_EvpCipherEncrypt(benchmark::State &state) {
  int mode = static_cast<int>(state.range(0));
  std::string value = Value(static_cast<size_t>(state.range(1)));
  for (auto _ : state) {
    auto *out = static_cast<unsigned char *>(malloc(CipherSize(value.size())));
    benchmark::DoNotOptimize(EvpEncrypt(mode, value, out));
    free(out);
  }
  state.SetBytesProcessed(state.iterations() * state.range(1));
}

// The same text the library makes: "@N:BASE64@" in a new block.
void BM_EvpFramedEncrypt(benchmark::State &state) {
  int mode = static_cast<int>(state.range(0));
  std::string value = Value(static_cast<size_t>(state.range(1)));
  for (auto _ : state) {
    auto *cipher =
        static_cast<unsigned char *>(malloc(CipherSize(value.size())));
    size_t n = EvpEncrypt(mode, value, cipher);
    size_t base64 = (n + 2) / 3 * 4;
    auto *text = static_cast<char *>(malloc(base64 + 14));
    int head = snprintf(text, 12, "@%zu:", base64);
    EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text + head), cipher,
                    static_cast<int>(n));
    text[head + base64] = '@';
    text[head + base64 + 1] = '\0';
    benchmark::DoNotOptimize(text);
    free(text);
    free(cipher);
  }
  state.SetBytesProcessed(state.iterations() * state.range(1));
}

void BM_EvpCipherDecrypt(benchmark::State &state) {
  int mode = static_cast<int>(state.range(0));
  std::string value = Value(static_cast<size_t>(state.range(1)));
  std::vector<unsigned char> cipher(CipherSize(value.size()));
  size_t n = EvpEncrypt(mode, value, cipher.data());
  for (auto _ : state) {
    auto *out = static_cast<unsigned char *>(malloc(n + 1));
    benchmark::DoNotOptimize(EvpDecrypt(mode, cipher.data(), n, out));
    free(out);
  }
  state.SetBytesProcessed(state.iterations() * state.range(1));
}

// From the framed text: Base64 decoded with OpenSSL, then deciphered.
void BM_EvpFramedDecrypt(benchmark::State &state) {
  int mode = static_cast<int>(state.range(0));
  std::string value = Value(static_cast<size_t>(state.range(1)));
  VDataCryptContext context = Context(mode);
  char *text = nullptr;
  VDataCryptEncrypt(context, value.data(), static_cast<uint32_t>(value.size()),
                    &text);
  std::string framed = text;
  VDataCryptFreeEncryptedData(context, text);
  VDataCryptCipherContextDestroy(context);
  for (auto _ : state) {
    const char *colon = strchr(framed.c_str(), ':');
    size_t base64 =
        framed.size() - static_cast<size_t>(colon + 1 - framed.c_str()) - 1;
    auto *cipher = static_cast<unsigned char *>(malloc(base64));
    int decoded = EVP_DecodeBlock(
        cipher, reinterpret_cast<const unsigned char *>(colon + 1),
        static_cast<int>(base64));
    size_t pad = colon[base64] == '=' ? (colon[base64 - 1] == '=' ? 2 : 1) : 0;
    auto *out = static_cast<unsigned char *>(malloc(base64));
    size_t n =
        EvpDecrypt(mode, cipher, static_cast<size_t>(decoded) - pad, out);
    out[n] = 0;
    benchmark::DoNotOptimize(out);
    free(out);
    free(cipher);
  }
  state.SetBytesProcessed(state.iterations() * state.range(1));
}

void Sizes(benchmark::internal::Benchmark *b) {
  for (int mode : {kCfb1, kCbc}) {
    for (int size : {64, 4096}) b->Args({mode, size});
  }
  b->ArgNames({"cbc", "bytes"});
}

BENCHMARK(BM_LibraryEncrypt)->Apply(Sizes);
BENCHMARK(BM_EvpFramedEncrypt)->Apply(Sizes);
BENCHMARK(BM_EvpCipherEncrypt)->Apply(Sizes);
BENCHMARK(BM_LibraryDecrypt)->Apply(Sizes);
BENCHMARK(BM_EvpFramedDecrypt)->Apply(Sizes);
BENCHMARK(BM_EvpCipherDecrypt)->Apply(Sizes);

}  // namespace
