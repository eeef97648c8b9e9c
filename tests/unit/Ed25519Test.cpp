#include <gtest/gtest.h>

#include <random>

#include "SignatureTestKit.h"
#include "signature/Ed25519.h"
#include "signature/uReleaseSignature.h"

namespace hb {
namespace {

using test::Bytes;
using test::FromHex;

class Ed25519 : public test::TSignatureTest {};

struct TVector {
  std::string Name;
  std::vector<uint8_t> Key, Message, Signature;
};

std::vector<TVector> Rfc8032Vectors() {
  std::vector<TVector> out;
  for (auto& row : test::ReadVectorFile(HB_TEST_DATA "/signature/rfc8032-vectors.txt"))
    out.push_back({row.at(0), FromHex(row.at(2)), FromHex(row.at(3)), FromHex(row.at(4))});
  return out;
}

// L, little-endian.
const std::vector<uint8_t> kOrder =
    FromHex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");

TEST_F(Ed25519, Rfc8032VectorsVerify) {
  auto vectors = Rfc8032Vectors();
  ASSERT_EQ(vectors.size(), 4u);
  EXPECT_TRUE(vectors[0].Message.empty());
  for (auto& v : vectors) EXPECT_TRUE(Ed25519Verify(v.Signature, v.Message, v.Key)) << v.Name;
}

// A single changed bit anywhere in R, S, the message or the key breaks the signature: one bit in
// every byte (a different position per byte) of the two-byte vector, and every message bit.
TEST_F(Ed25519, AnyFlippedBitFails) {
  TVector v = Rfc8032Vectors().at(2);
  auto flip = [](std::vector<uint8_t> b, size_t byte, int bit) {
    b[byte] ^= static_cast<uint8_t>(1 << bit);
    return b;
  };
  for (size_t i = 0; i < 64; ++i)
    EXPECT_FALSE(Ed25519Verify(flip(v.Signature, i, i % 8), v.Message, v.Key))
        << "signature byte " << i;
  for (size_t i = 0; i < 32; ++i)
    EXPECT_FALSE(Ed25519Verify(v.Signature, v.Message, flip(v.Key, i, (i + 3) % 8)))
        << "key byte " << i;
  for (int bit = 0; bit < 16; ++bit)
    EXPECT_FALSE(Ed25519Verify(v.Signature, flip(v.Message, bit / 8, bit % 8), v.Key))
        << "message bit " << bit;
  // The arrays are only read: the untouched triple still verifies.
  EXPECT_TRUE(Ed25519Verify(v.Signature, v.Message, v.Key));
}

TEST_F(Ed25519, WrongSizesAreRejectedBeforeSetUp) {
  TVector v = Rfc8032Vectors().at(1);
  Ed25519ForgetSetUp();
  auto longer = v.Signature;
  longer.push_back(0);
  auto shorter = v.Signature;
  shorter.pop_back();
  auto longKey = v.Key;
  longKey.push_back(0);
  auto shortKey = v.Key;
  shortKey.pop_back();
  EXPECT_FALSE(Ed25519Verify(shorter, v.Message, v.Key));
  EXPECT_FALSE(Ed25519Verify(longer, v.Message, v.Key));
  EXPECT_FALSE(Ed25519Verify(v.Signature, v.Message, shortKey));
  EXPECT_FALSE(Ed25519Verify(v.Signature, v.Message, longKey));
  EXPECT_FALSE(Ed25519Verify({}, v.Message, {}));
  EXPECT_FALSE(Ed25519SetUpDone());
  EXPECT_TRUE(Ed25519Verify(v.Signature, v.Message, v.Key));
  EXPECT_TRUE(Ed25519SetUpDone());
}

std::vector<uint8_t> AddLittleEndian(const uint8_t* a, const std::vector<uint8_t>& b) {
  std::vector<uint8_t> out(32);
  unsigned carry = 0;
  for (int i = 0; i < 32; ++i) {
    unsigned sum = a[i] + b[i] + carry;
    out[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
  return out;
}

TEST_F(Ed25519, ScalarMustBeBelowOrder) {
  TVector v = Rfc8032Vectors().at(1);
  ASSERT_TRUE(Ed25519Verify(v.Signature, v.Message, v.Key));
  // S + L is the same scalar modulo L, so [S + L]B still meets the equation: only the range
  // test can refuse it (signature malleability).
  auto plusL = v.Signature;
  auto sum = AddLittleEndian(v.Signature.data() + 32, kOrder);
  std::copy(sum.begin(), sum.end(), plusL.begin() + 32);
  EXPECT_FALSE(Ed25519Verify(plusL, v.Message, v.Key));

  auto withL = v.Signature;
  std::copy(kOrder.begin(), kOrder.end(), withL.begin() + 32);
  EXPECT_FALSE(Ed25519Verify(withL, v.Message, v.Key));

  // S = L where the equation holds: with the identity as key and as R, [S]B - [h]A = [L]B is
  // the identity for every message, as it is for S = 0, which is valid.
  const std::vector<uint8_t> identity = FromHex("01" + std::string(62, '0'));
  std::vector<uint8_t> zeroS = identity, lS = identity;
  zeroS.resize(64, 0);
  lS.insert(lS.end(), kOrder.begin(), kOrder.end());
  for (const std::string& message : {std::string(), std::string("update-manifest.json")}) {
    EXPECT_TRUE(Ed25519Verify(zeroS, Bytes(message), identity)) << message;
    EXPECT_FALSE(Ed25519Verify(lS, Bytes(message), identity)) << message;
  }
  // The same with the all-zero key (a point of order 4) and a message whose h is a multiple of 4.
  const std::vector<uint8_t> order4Key(32, 0);
  EXPECT_TRUE(Ed25519Verify(zeroS, Bytes("high r 4"), order4Key));
  EXPECT_FALSE(Ed25519Verify(lS, Bytes("high r 4"), order4Key));
}

// Cases random keys never reach, built from a point of order 4 (y = 0) and the identity by
// tests/data/signature/make-edge-vectors.py.
TEST_F(Ed25519, HandMadeEdgeCases) {
  const std::string identityR = "01" + std::string(62, '0');
  const std::string zeroS(64, '0');
  const std::string highKey = "ed" + std::string(60, 'f') + "7f"; // y field = p
  const std::string highR = "ee" + std::string(60, 'f') + "7f";   // y field = p + 1
  const std::string order4Key(64, '0');
  const std::string kBase = "58" + [] {
    std::string s;
    for (int i = 0; i < 31; ++i) s += "66";
    return s;
  }(); // y = 4/5, x even
  const std::string oneS = "01" + std::string(62, '0');
  struct {
    const char* Name;
    std::string Key, Message, Signature;
    bool Valid;
  } cases[] = {
      // The key's y field p is taken as 0; the hash covers the bytes as given, so the same
      // signature fails under the canonical encoding of that point.
      {"key with y = p", highKey, "high key 5", identityR + zeroS, true},
      {"same point, canonical key", order4Key, "high key 5", identityR + zeroS, false},
      {"canonical R", order4Key, "high r 4", identityR + zeroS, true},
      {"R with y = p + 1", order4Key, "high r 4", highR + zeroS, false},
      {"key whose y has no x", "02" + std::string(62, '0'), "", identityR + zeroS, false},
      // With the identity as key the hash drops out: [1]B - [h]A is B whatever R is, so an R
      // that differs from B's encoding only in its last byte must still fail.
      {"R = B, S = 1", identityR, "any", kBase + oneS, true},
      {"R = -B (sign bit), S = 1", identityR, "any", kBase.substr(0, 62) + "e6" + oneS, false},
      {"R = B with the last y bit changed", identityR, "any", kBase.substr(0, 62) + "67" + oneS,
       false},
  };
  for (auto& c : cases)
    EXPECT_EQ(Ed25519Verify(FromHex(c.Signature), Bytes(c.Message), FromHex(c.Key)), c.Valid)
        << c.Name;
}

// Random keys, messages and signatures, valid and mutated, must get OpenSSL's verdict. Mutations
// here never produce a non-canonical key (y >= p needs 250 set bits), the one documented place
// where this verifier is more lenient.
TEST_F(Ed25519, AgreesWithOpenSsl) {
  std::mt19937_64 rng(20240611);
  auto randomBytes = [&](size_t n) {
    std::vector<uint8_t> b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
  };
  int accepted = 0, compared = 0;
  for (int round = 0; round < 48; ++round) {
    test::TTestSigner signer;
    auto pk = signer.PublicKey();
    auto msg = randomBytes(rng() % 300);
    auto sig = signer.Sign(msg);
    std::vector<std::tuple<std::vector<uint8_t>, std::vector<uint8_t>, std::vector<uint8_t>>> tries;
    tries.emplace_back(sig, msg, pk);
    auto flipped = sig;
    flipped[rng() % 64] ^= static_cast<uint8_t>(1 << (rng() % 8));
    tries.emplace_back(flipped, msg, pk);
    auto otherKey = pk;
    otherKey[rng() % 32] ^= static_cast<uint8_t>(1 << (rng() % 8));
    tries.emplace_back(sig, msg, otherKey);
    auto otherMsg = msg;
    otherMsg.push_back(static_cast<uint8_t>(rng()));
    tries.emplace_back(sig, otherMsg, pk);
    auto sPlusL = sig;
    auto sum = AddLittleEndian(sig.data() + 32, kOrder);
    std::copy(sum.begin(), sum.end(), sPlusL.begin() + 32);
    tries.emplace_back(sPlusL, msg, pk);
    tries.emplace_back(randomBytes(64), msg, pk);
    for (auto& [s, m, k] : tries) {
      bool ours = Ed25519Verify(s, m, k);
      EXPECT_EQ(ours, test::OpenSslVerify(s, m, k)) << "round " << round;
      accepted += ours;
      ++compared;
    }
  }
  EXPECT_EQ(accepted, 48) << "of " << compared; // exactly the untouched signatures
}

} // namespace
} // namespace hb
