// Placeholder until the signature module is written; delete when the real files land.
#include "uReleaseSignature.h"

#include "Exception.h"

namespace hb {
std::vector<TReleaseKey> TrustedReleaseKeys() { throw Exception("未实现"); }
std::string Sha256Hex(const std::string&) { throw Exception("未实现"); }
bool Ed25519Verify(const std::vector<uint8_t>&, const std::vector<uint8_t>&,
                   const std::vector<uint8_t>&) {
  return false;
}
std::string VerifyUpdatePackage(const std::string&, const std::string&, int64_t,
                                const std::vector<TReleaseKey>&, std::string& keyId) {
  keyId.clear();
  return "未实现";
}
std::string ExtractUpdatePackage(const std::string&, const std::string&) { return "未实现"; }
} // namespace hb
