// CNG hashing behind IHasher. Depends on bcrypt.dll only.
#include "BCryptHasher.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <bcrypt.h>

#include "Exception.h"
#include "WinText.h"

namespace hb::win {
namespace {

// One provider per algorithm for the whole process: opening a provider is the expensive step,
// and a provider handle may be shared by hash objects on any thread.
BCRYPT_ALG_HANDLE Provider(THashAlg alg) {
  auto open = [](const wchar_t* id) {
    BCRYPT_ALG_HANDLE h = nullptr;
    NTSTATUS st = BCryptOpenAlgorithmProvider(&h, id, nullptr, 0);
    if (st < 0) throw Exception("无法使用系统的散列算法（BCrypt " + HexCode(st) + "）");
    return h;
  };
  if (alg == THashAlg::haSha256) {
    static BCRYPT_ALG_HANDLE sha256 = open(BCRYPT_SHA256_ALGORITHM);
    return sha256;
  }
  static BCRYPT_ALG_HANDLE sha512 = open(BCRYPT_SHA512_ALGORITHM);
  return sha512;
}

class TBCryptContext : public IHashContext {
 public:
  TBCryptContext(THashAlg alg) : FSize(alg == THashAlg::haSha256 ? 32 : 64) {
    NTSTATUS st = BCryptCreateHash(Provider(alg), &FHash, nullptr, 0, nullptr, 0, 0);
    if (st < 0) throw Exception("无法创建散列对象（BCrypt " + HexCode(st) + "）");
  }
  ~TBCryptContext() override {
    if (FHash) BCryptDestroyHash(FHash);
  }
  void Feed(const void* data, size_t size) override {
    auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) { // BCryptHashData takes a 32-bit length
      ULONG n = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
      NTSTATUS st = BCryptHashData(FHash, const_cast<PUCHAR>(p), n, 0);
      if (st < 0) throw Exception("散列计算失败（BCrypt " + HexCode(st) + "）");
      p += n;
      size -= n;
    }
  }
  std::vector<uint8_t> Finish() override {
    std::vector<uint8_t> out(FSize);
    NTSTATUS st = BCryptFinishHash(FHash, out.data(), static_cast<ULONG>(out.size()), 0);
    if (st < 0) throw Exception("散列计算失败（BCrypt " + HexCode(st) + "）");
    return out;
  }

 private:
  BCRYPT_HASH_HANDLE FHash = nullptr;
  size_t FSize;
};

} // namespace

std::unique_ptr<IHashContext> TBCryptHasher::Start(THashAlg alg) {
  return std::make_unique<TBCryptContext>(alg);
}

} // namespace hb::win
