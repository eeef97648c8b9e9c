// Placeholder until the signature module is written; delete when the real files land.
#include "uReleaseSignature.h"

namespace hb {
std::string VerifyUpdatePackage(const std::string&, const std::string&, int64_t,
                                const std::vector<TReleaseKey>&, std::string& keyId) {
  keyId.clear();
  return "未实现";
}
std::string ExtractUpdatePackage(const std::string&, const std::string&) {
  return "未实现";
}
} // namespace hb
