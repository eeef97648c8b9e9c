// The path tests see every resource URL of the page; none may crash, and their answers must stay
// consistent with each other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "shell/GatewayCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view path(reinterpret_cast<const char*>(data), size);
  bool media = hb::IsSeatMapMedia(path);
  bool cacheable = hb::IsCacheablePath(path);
  // Seat-map media is always cacheable, and whatever is cacheable is a plain ASCII path that the
  // gateway request can carry.
  if (media && !cacheable) std::abort();
  if (cacheable) {
    if (path.empty() || path.front() != '/' || path.size() > 512) std::abort();
    for (char c : path) {
      auto u = static_cast<unsigned char>(c);
      if (u < 33 || u > 126 || c == '#' || c == '"' || c == '\\') std::abort();
    }
  }
  return 0;
}
