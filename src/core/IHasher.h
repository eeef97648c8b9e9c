#pragma once
// SHA-256 and SHA-512, streaming: start, feed, finish.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace hb {

enum class THashAlg { haSha256, haSha512 };

class IHashContext {
public:
  virtual ~IHashContext() = default;
  virtual void Feed(const void* data, size_t size) = 0;
  // The digest (32 or 64 bytes). The context is spent afterwards.
  virtual std::vector<uint8_t> Finish() = 0;
};

class IHasher {
public:
  virtual ~IHasher() = default;
  // Never returns null; throws Exception only when the platform's hashing is unusable.
  virtual std::unique_ptr<IHashContext> Start(THashAlg alg) = 0;
};

} // namespace hb
