// Ed25519Verify per call against OpenSSL's verify of the same signature, in one run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

#include "LinuxSystem.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "signature/uReleaseSignature.h"

namespace {

struct TSample {
  EVP_PKEY* Key = nullptr;
  std::vector<uint8_t> PublicKey = std::vector<uint8_t>(32), Message, Signature;
  TSample() {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    EVP_PKEY_keygen_init(ctx);
    EVP_PKEY_keygen(ctx, &Key);
    EVP_PKEY_CTX_free(ctx);
    size_t n = 32;
    EVP_PKEY_get_raw_public_key(Key, PublicKey.data(), &n);
    Message.assign(400, 'm'); // about the size of a signed manifest
    Signature.resize(64);
    n = 64;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_DigestSignInit(md, nullptr, nullptr, nullptr, Key);
    EVP_DigestSign(md, Signature.data(), &n, Message.data(), Message.size());
    EVP_MD_CTX_free(md);
  }
};

TSample& Sample() {
  static hb::TLinuxSystem system;
  static hb::TOpenSslHasher hasher;
  static TSample sample;
  hb::InstallPlatform(&system, &hasher);
  return sample;
}

void BM_Ed25519Verify(benchmark::State& state) {
  TSample& s = Sample();
  if (!hb::Ed25519Verify(s.Signature, s.Message, s.PublicKey)) state.SkipWithError("rejected");
  for (auto _ : state)
    benchmark::DoNotOptimize(hb::Ed25519Verify(s.Signature, s.Message, s.PublicKey));
}
BENCHMARK(BM_Ed25519Verify)->Unit(benchmark::kMicrosecond);

void BM_OpenSslVerify(benchmark::State& state) {
  TSample& s = Sample();
  EVP_PKEY* pub = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, s.PublicKey.data(), 32);
  for (auto _ : state) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_DigestVerifyInit(md, nullptr, nullptr, nullptr, pub);
    benchmark::DoNotOptimize(
        EVP_DigestVerify(md, s.Signature.data(), 64, s.Message.data(), s.Message.size()));
    EVP_MD_CTX_free(md);
  }
  EVP_PKEY_free(pub);
}
BENCHMARK(BM_OpenSslVerify)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
