#include <gtest/gtest.h>

#include "Exception.h"
#include "ReleaseKeyLine.h"
#include "SignatureTestKit.h"
#include "signature/uReleaseSignature.h"

namespace hb {
namespace {

class ReleaseKey : public test::TSignatureTest {};

// The development key line: its private half is tests/data/signature/dev-release-key.pem.
const std::string kId = "4c4c6d37f8a1da95";
const std::string kKey = "3GdYS+hwRoqFDHpJeIDcRv5q+aUA+Gk+xsocdpqs7FI=";
const std::string kLine = "ed25519 " + kId + " " + kKey;

TEST_F(ReleaseKey, ParseReleaseKeyTable) {
  struct {
    std::string Line;
    std::string Error; // empty: accepted
  } cases[] = {
      {kLine, ""},
      {"ed25519 4C4C6D37F8A1DA95 " + kKey, ""},
      {" \t" + kLine + "\r\n", ""},
      {"ed25519  " + kId + " " + kKey, "公钥格式不对"},
      {"ed25519 " + kId, "公钥格式不对"},
      {kLine + " extra", "公钥格式不对"},
      {"ED25519 " + kId + " " + kKey, "公钥格式不对"},
      {"ed25519 " + kId.substr(1) + " " + kKey, "公钥格式不对"},
      {"ed25519 " + kId + "0 " + kKey, "公钥格式不对"},
      {"ed25519\t" + kId + " " + kKey, "公钥格式不对"},
      {"", "公钥格式不对"},
      {"ed25519 " + kId + " 3GdYS+hwRoqFDHpJeIDcRv5q+aUA+Gk+xsocdpqs7A==", "公钥长度不对"}, // 31
      {"ed25519 " + kId + " 3GdYS+hwRoqFDHpJeIDcRv5q+aUA+Gk+xsocdpqs7FIA", "公钥长度不对"}, // 33
      {"ed25519 " + kId + " not*base64*at*all*but*forty*four*characters*", "公钥长度不对"},
      {"ed25519 " + kId + " ", "公钥格式不对"}, // the trim removes the third field
      {"ed25519 0123456789abcdef " + kKey, "公钥编号与公钥不符"},
      {"ed25519 zzzzzzzzzzzzzzzz " + kKey, "公钥编号与公钥不符"},
  };
  for (auto& c : cases) {
    if (c.Error.empty()) {
      TReleaseKey key = ParseReleaseKey(c.Line);
      EXPECT_EQ(key.Id, kId) << c.Line;
      std::string raw(key.Key.begin(), key.Key.end());
      EXPECT_EQ(Sha256Hex(raw).substr(0, 16), kId);
    } else {
      try {
        ParseReleaseKey(c.Line);
        ADD_FAILURE() << "accepted: " << c.Line;
      } catch (const Exception& e) {
        EXPECT_EQ(e.what(), c.Error) << c.Line;
      }
    }
  }
}

// The key id of a key line worked out with OpenSSL alone (its base64 decoder and SHA-256), so
// the expectation shares nothing with the program's own parser, decoder or hashing.
std::string IndependentKeyId(const std::vector<uint8_t>& key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(key.data(), key.size(), digest, &n, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 8; ++i) {
    id += kHex[digest[i] >> 4];
    id += kHex[digest[i] & 15];
  }
  return id;
}

std::vector<uint8_t> OpenSslBase64(const std::string& text) {
  std::vector<uint8_t> out(text.size());
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return {};
  // EVP_DecodeBlock counts the padding's zero bytes in.
  size_t pad = 0;
  while (pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}

TEST_F(ReleaseKey, DevelopmentLineBelongsToItsPrivateKey) {
  auto signer = test::TTestSigner::FromPem(HB_TEST_DATA "/signature/dev-release-key.pem");
  ASSERT_TRUE(signer);
  const std::vector<uint8_t> pk = signer->PublicKey();
  EXPECT_EQ(OpenSslBase64(kKey), pk);
  EXPECT_EQ(IndependentKeyId(pk), kId);
}

TEST_F(ReleaseKey, BuiltInTableIsTheConfiguredLine) {
  auto keys = TrustedReleaseKeys();
  ASSERT_EQ(keys.size(), 1u);
  const std::string line = kBuiltInReleaseKeyLine;
  ASSERT_EQ(line.size(), 69u);
  const std::string key = line.substr(25);
  EXPECT_EQ(std::vector<uint8_t>(keys[0].Key.begin(), keys[0].Key.end()), OpenSslBase64(key));
  EXPECT_EQ(keys[0].Id, IndependentKeyId(OpenSslBase64(key)));
  if (kBuiltInReleaseKeyIsDevelopment) {
    EXPECT_EQ(line, kLine);
  }
}

TEST_F(ReleaseKey, Sha256HexKnownAnswers) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
} // namespace hb
