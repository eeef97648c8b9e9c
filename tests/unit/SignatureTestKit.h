#pragma once
// Shared by the signature tests: the platform they run on, hex and file helpers, and OpenSSL
// Ed25519 signing (the program itself only verifies).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "OpenSslHasher.h"
#include "Platform.h"

namespace hb::test {

inline std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

// Installs a fake system (ASCII case folding) and the real OpenSSL hasher for one test.
class TSignatureTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallPlatform(&FSystem, &FHasher); }
  void TearDown() override { InstallPlatform(nullptr, nullptr); }
  TFakeSystem FSystem;
  TOpenSslHasher FHasher;
};

// An OpenSSL Ed25519 key pair from a 32-byte seed, or a fresh random one.
class TTestSigner {
 public:
  explicit TTestSigner(const std::vector<uint8_t>& seed = {}) {
    if (seed.size() == 32) {
      FKey = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), 32);
    } else {
      EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
      EVP_PKEY_keygen_init(ctx);
      EVP_PKEY_keygen(ctx, &FKey);
      EVP_PKEY_CTX_free(ctx);
    }
  }
  // The private key in a PEM file (the development key of the test data).
  static std::unique_ptr<TTestSigner> FromPem(const std::string& path) {
    auto signer = std::make_unique<TTestSigner>(std::vector<uint8_t>(32, 0));
    EVP_PKEY_free(signer->FKey);
    signer->FKey = nullptr;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      signer->FKey = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
      std::fclose(f);
    }
    return signer->FKey ? std::move(signer) : nullptr;
  }
  ~TTestSigner() { EVP_PKEY_free(FKey); }
  TTestSigner(const TTestSigner&) = delete;
  TTestSigner& operator=(const TTestSigner&) = delete;

  std::vector<uint8_t> PublicKey() const {
    std::vector<uint8_t> pk(32);
    size_t n = 32;
    EVP_PKEY_get_raw_public_key(FKey, pk.data(), &n);
    return pk;
  }
  std::vector<uint8_t> Sign(const std::vector<uint8_t>& message) const {
    std::vector<uint8_t> sig(64);
    size_t n = 64;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, FKey);
    EVP_DigestSign(ctx, sig.data(), &n, message.data(), message.size());
    EVP_MD_CTX_free(ctx);
    return sig;
  }

 private:
  EVP_PKEY* FKey = nullptr;
};

// OpenSSL's own verdict, for the differential test.
inline bool OpenSslVerify(const std::vector<uint8_t>& sig, const std::vector<uint8_t>& msg,
                          const std::vector<uint8_t>& pk) {
  EVP_PKEY* key = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, pk.data(), pk.size());
  if (!key) return false;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, key) == 1 &&
            EVP_DigestVerify(ctx, sig.data(), sig.size(), msg.data(), msg.size()) == 1;
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(key);
  return ok;
}

inline std::vector<std::vector<std::string>> ReadVectorFile(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string f; fields >> f;) row.push_back(f == "-" ? "" : f);
    rows.push_back(row);
  }
  return rows;
}

} // namespace hb::test

namespace hb::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempFolder {
 public:
  TTempFolder() {
    std::random_device rd;
    FPath = (std::filesystem::temp_directory_path() /
             ("hb-sig-test-" + std::to_string(rd()) + std::to_string(rd())))
                .string();
    std::filesystem::create_directories(FPath);
  }
  ~TTempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline bool ToolAvailable(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace hb::test
