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

TEST_F(ReleaseKey, BuiltInTableIsTheConfiguredLine) {
  auto keys = TrustedReleaseKeys();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(std::string(kBuiltInReleaseKeyLine).size(), 69u);
  EXPECT_EQ(keys[0].Id, ParseReleaseKey(kBuiltInReleaseKeyLine).Id);
  if (kBuiltInReleaseKeyIsDevelopment) {
    EXPECT_EQ(std::string(kBuiltInReleaseKeyLine), kLine);
  }
}

TEST_F(ReleaseKey, Sha256HexKnownAnswers) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
} // namespace hb
