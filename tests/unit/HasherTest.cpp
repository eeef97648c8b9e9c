#include <gtest/gtest.h>

#include "OpenSslHasher.h"

namespace hb {
namespace {

std::string Hex(const std::vector<uint8_t>& d) {
  static const char* k = "0123456789abcdef";
  std::string s;
  for (uint8_t b : d) {
    s += k[b >> 4];
    s += k[b & 15];
  }
  return s;
}

// FIPS 180-4 known answers for "abc", fed in two pieces to exercise streaming.
TEST(OpenSslHasher, KnownAnswers) {
  TOpenSslHasher h;
  auto c = h.Start(THashAlg::haSha256);
  c->Feed("a", 1);
  c->Feed("bc", 2);
  EXPECT_EQ(Hex(c->Finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  auto d = h.Start(THashAlg::haSha512);
  d->Feed("abc", 3);
  EXPECT_EQ(Hex(d->Finish()),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
}

} // namespace
} // namespace hb
