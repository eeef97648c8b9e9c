#include "OpenSslHasher.h"

#include <openssl/evp.h>

#include "Exception.h"

namespace hb {

namespace {

class TEvpContext : public IHashContext {
public:
  explicit TEvpContext(const EVP_MD* md) : FCtx(EVP_MD_CTX_new()) {
    if (!FCtx || EVP_DigestInit_ex(FCtx, md, nullptr) != 1) {
      EVP_MD_CTX_free(FCtx);
      throw Exception("无法初始化哈希计算");
    }
  }
  ~TEvpContext() override { EVP_MD_CTX_free(FCtx); }
  TEvpContext(const TEvpContext&) = delete;
  TEvpContext& operator=(const TEvpContext&) = delete;

  void Feed(const void* data, size_t size) override {
    if (size) EVP_DigestUpdate(FCtx, data, size);
  }
  std::vector<uint8_t> Finish() override {
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(FCtx, out.data(), &len) != 1) throw Exception("哈希计算失败");
    out.resize(len);
    return out;
  }

private:
  EVP_MD_CTX* FCtx;
};

} // namespace

std::unique_ptr<IHashContext> TOpenSslHasher::Start(THashAlg alg) {
  return std::make_unique<TEvpContext>(alg == THashAlg::haSha256 ? EVP_sha256() : EVP_sha512());
}

} // namespace hb
