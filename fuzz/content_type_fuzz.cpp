// The gateway's Content-Type is outside data; normalising it must never crash and must be
// stable (normalising twice changes nothing).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/GatewayCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view value(reinterpret_cast<const char*>(data), size);
  std::string once = hb::NormalizeContentType(value);
  if (once.size() > size + 15) std::abort();
  if (hb::NormalizeContentType(once) != once) std::abort();
  return 0;
}
