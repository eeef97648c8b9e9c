#pragma once
// SHA-256 / SHA-512 through OpenSSL's EVP interface.
#include "IHasher.h"

namespace hb {

class TOpenSslHasher : public IHasher {
public:
  std::unique_ptr<IHashContext> Start(THashAlg alg) override;
};

} // namespace hb
