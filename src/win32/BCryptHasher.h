#pragma once
// SHA-256 / SHA-512 through CNG (BCrypt).
#include "IHasher.h"

namespace hb::win {

class TBCryptHasher : public IHasher {
 public:
  std::unique_ptr<IHashContext> Start(THashAlg alg) override;
};

} // namespace hb::win
